#include "installer/installer.h"

#include "app/patch_execute.h"

std::wstring LaunchErrorMessage(std::uint32_t code) { return std::to_wstring(code); }

void CPatchExecute::InstallPatch() {}
std::wstring CPatchExecute::GetInstallParameters() const { return {}; }
