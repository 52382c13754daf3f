// PatchUpdateResult: runs PatchUpdate.exe from its own folder as a deployment system's install command
// and ends with an exit code that deployment systems understand; with "rules", the detection and
// requirement settings for the package's patch; with "report FOLDER [CSV] [--expected LIST] [--html
// PAGE]", the fleet report and its page over logs collected from many machines.
#pragma once

#include <string>
#include <vector>

// The program's exit code for these arguments (without the program's own name).
int RunCompanion(const std::vector<std::wstring>& arguments);
