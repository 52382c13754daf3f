// Folders the shell knows by ID, never taken from the environment, which a user may set for an elevated
// administrator.
#pragma once

#include <string>

namespace platform {

// The machine-wide data folder (ProgramData) as the shell knows it; empty when the system doesn't say.
std::wstring ProgramDataFolder();

}  // namespace platform
