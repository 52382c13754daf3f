// The running executable: where it loads DLLs from, its module handle and its full path.
#pragma once

#include <string>

namespace platform {

// Restricts every DLL loaded on demand from now on to System32; where the system can't, at least takes
// the working directory out of the search. Called first thing, before anything can load a DLL.
void RestrictLibrarySearch();

// Whether the running executable has a module handle.
bool HasModuleHandle();

// Prepares the process for an unattended run (no system error boxes). False when that fails.
bool InitializeApplication();

// Full path of the running executable, whole however long it is.
std::wstring GetModulePath();

}  // namespace platform
