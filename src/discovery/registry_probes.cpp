#include "discovery/registry_probes.h"

#include "app/patch_execute.h"

std::wstring FormatErrorCode(std::int32_t code) { return std::to_wstring(code); }

std::wstring DecodeRegistryString(const std::vector<std::uint8_t>& bytes) { (void)bytes; return {}; }

bool CPatchExecute::DetectRegistryView() { return false; }
void CPatchExecute::ProbeProductVersion() {}
void CPatchExecute::ProbeInstallPath() {}
void CPatchExecute::ProbeDisplayIcon() {}
std::wstring CPatchExecute::GetProductVersion() const { return m_strProductVersion; }
std::wstring CPatchExecute::GetInstallPath() const { return m_strInstallPath; }
std::wstring CPatchExecute::GetDisplayIcon() const { return m_strDisplayIcon; }
void CPatchExecute::SetProductVersion(const std::wstring& text) { (void)text; }
