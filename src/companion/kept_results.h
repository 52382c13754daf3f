// The run's outcome line and log copy, kept where the deployment system's cache clean-up doesn't reach:
// ProgramData\Veldorant\PatchUpdate\Results. Standard users may create folders in ProgramData, so every
// level is made by us with a protected descriptor, or trusted only when no link and owned by an
// administrator; a level refused keeps nothing, and says which one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "result/outcome_file.h"

inline constexpr const wchar_t* kResultsLevels[] = {L"Veldorant", L"PatchUpdate", L"Results"};
// "Veldorant" may hold the product's own data: checked, but its descriptor left alone when it is there.
inline constexpr std::size_t kFirstOwnResultsLevel = 1;

// Keeps this run (stamped `secondStamp`, "YYYYMMDD-HHMMSS"; a later run of the same second gets "-2", ...),
// the newest copies under their fixed names, and prunes to the newest runs. Returns the console line
// saying what was not kept; empty when everything was.
std::wstring KeepResults(const std::wstring& secondStamp, const result::OutcomeRecord& record,
                         const std::optional<std::vector<std::uint8_t>>& log);
