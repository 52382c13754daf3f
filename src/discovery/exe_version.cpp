#include "discovery/exe_version.h"

#include "app/patch_execute.h"

std::wstring FormatVersionText(const platform::FileVersionWords& words) { (void)words; return {}; }
std::wstring FormatRevisionText(const platform::FileVersionWords& words) { (void)words; return {}; }

void CPatchExecute::ReadExeVersion() {}
void CPatchExecute::ReadExeVersionAfterInstall() {}
std::wstring CPatchExecute::GetVersionAfterInstall() const { return m_strVersionAfterInstall; }
