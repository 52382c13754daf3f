// The runs the companion keeps under ProgramData: a log copy and an outcome file per run, named by the
// run's time stamp "YYYYMMDD-HHMMSS" so that names sort by time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace result {

inline constexpr std::size_t kKeptRuns = 20;

std::wstring KeptLogName(const std::wstring& stamp);      // "Log_VDT_14_PatchUpdate.<stamp>.txt"
std::wstring OutcomeFileName(const std::wstring& stamp);  // "outcome.<stamp>.json"

// Of the file names in the folder, those of runs older than the newest `keep`; names that are neither
// a kept log nor an outcome file are never among them.
std::vector<std::wstring> RunsToRemove(const std::vector<std::wstring>& names, std::size_t keep);

}  // namespace result
