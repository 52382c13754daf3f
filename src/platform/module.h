// The running executable: its module handle and its full path.
#pragma once

#include <string>

namespace platform {

// Whether the running executable has a module handle.
bool HasModuleHandle();

// Prepares the process for an unattended run (no system error boxes, console ready).
// False when that fails.
bool InitializeApplication();

// Full path of the running executable, whole however long it is.
std::wstring GetModulePath();

}  // namespace platform
