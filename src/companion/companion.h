// PatchUpdateResult: runs PatchUpdate.exe from its own folder as a deployment system's install command
// and ends with an exit code that deployment systems understand; or, with "report FOLDER [CSV]", the
// fleet report over logs collected from many machines.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Saved runs kept in the Results folder; older ones are removed.
inline constexpr std::size_t kKeptRuns = 20;

// The program's exit code for these arguments (without the program's own name).
int RunCompanion(const std::vector<std::wstring>& arguments);
