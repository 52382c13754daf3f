#include "companion/kept_results.h"

#include <algorithm>

#include "companion/messages.h"
#include "companion/results_folder.h"
#include "platform/errors.h"
#include "platform/known_folder.h"
#include "platform/secure_folder.h"
#include "result/kept_runs.h"

namespace {

using namespace messages::companion;

// Runs of the same second beyond this are not kept; no deployment starts the companion that often.
constexpr unsigned kMaxRunsPerSecond = 99;

bool Listed(const std::vector<std::wstring>& names, const std::wstring& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Puts this run's two files under the first stamp of its second that is free; the stamp used, or empty.
std::wstring PutRun(const platform::SecureFolder& folder, const std::wstring& secondStamp,
                    const std::vector<std::uint8_t>& outcome, const std::optional<std::vector<std::uint8_t>>& log,
                    std::uint32_t& error) {
  std::vector<std::wstring> names;
  if ((error = platform::ListRegularFiles(folder, names)) != 0) return {};
  for (unsigned sequence = 1; sequence <= kMaxRunsPerSecond; ++sequence) {
    std::wstring stamp = result::StampText(secondStamp, sequence);
    const std::wstring outcomeName = result::OutcomeFileName(stamp);
    const std::wstring logName = result::KeptLogName(stamp);
    if (Listed(names, outcomeName) || Listed(names, logName)) continue;
    // Never over an existing file: whatever stands under that name, another run's or anyone's, stays.
    error = platform::PutFileInFolder(folder, outcomeName, outcome, false);
    if (error == platform::kErrorFileExists) continue;
    if (error != 0) return {};
    if (log) error = platform::PutFileInFolder(folder, logName, *log, false);
    return stamp;
  }
  error = platform::kErrorFileExists;
  return {};
}

}  // namespace

std::wstring KeepResults(const std::wstring& secondStamp, const result::OutcomeRecord& record,
                         const std::optional<std::vector<std::uint8_t>>& log) {
  const std::wstring programData = platform::ProgramDataFolder();
  if (programData.empty()) return std::wstring(kNotKept) + kNoProgramData + L"\n";
  ResultsFolder opened = OpenResultsFolder(programData, secondStamp);
  const platform::SecureFolder& folder = opened.folder;
  if (!folder.IsOpen()) return opened.said;

  const std::string line = result::FormatOutcomeRecord(record) + "\r\n";
  const std::vector<std::uint8_t> outcome(line.begin(), line.end());
  std::uint32_t error = 0;
  const std::wstring stamp = PutRun(folder, secondStamp, outcome, log, error);
  // The newest copies follow this run even where its stamped files could not be kept.
  std::uint32_t copies = platform::PutFileInFolder(folder, result::kNewestOutcomeName, outcome, true);
  if (log) {
    if (const std::uint32_t copied = platform::PutFileInFolder(folder, result::kNewestLogName, *log, true); copies == 0) {
      copies = copied;
    }
  } else {
    // An older run's log under that name would pass for this run's.
    const std::uint32_t removed = platform::DeleteRegularFile(folder, result::kNewestLogName);
    if (copies == 0 && removed != 0 && removed != platform::kErrorFileNotFound) copies = removed;
  }

  std::vector<std::wstring> names;
  if (!stamp.empty() && platform::ListRegularFiles(folder, names) == 0) {
    for (const auto& name : result::RunsToRemove(names, result::kKeptRuns, stamp)) {
      (void)platform::DeleteRegularFile(folder, name);
    }
  }
  if (error == 0) error = copies;
  if (error == 0) return opened.said;
  return opened.said + kNotKept + kWriteFailed + folder.Path() + L": " + WithError(error) + L"\n";
}
