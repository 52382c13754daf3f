// The run's outcome line and log copy, kept where the deployment system's cache clean-up doesn't reach:
// ProgramData\Veldorant\PatchUpdate\Results, used only when exactly as we make it (companion/results_folder).
// A level refused keeps nothing, and says which one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "result/outcome_file.h"

// Keeps this run (stamped `secondStamp`, "YYYYMMDD-HHMMSS"; a later run of the same second gets "-2", ...),
// the newest copies under their fixed names, and prunes to the newest runs. Returns the console lines
// saying what was moved aside or carried over and what was not kept; empty when there is nothing to say.
std::wstring KeepResults(const std::wstring& secondStamp, const result::OutcomeRecord& record,
                         const std::optional<std::vector<std::uint8_t>>& log);
