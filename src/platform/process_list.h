// The running processes, as the guard needs them: bare executable names.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Executable file names (no folder) of every running process, in snapshot order;
// nullopt when the snapshot or its first entry can't be read.
std::optional<std::vector<std::wstring>> ListProcessNames();

}  // namespace platform
