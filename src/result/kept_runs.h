// The runs the companion keeps under ProgramData: a log copy and an outcome file per run, named by the
// run's time stamp "YYYYMMDD-HHMMSS" (and "-N" for the N-th run of the same second), and the newest
// run's two files once more under fixed names.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace result {

inline constexpr std::size_t kKeptRuns = 20;

// The newest run's log and outcome line under names that never change, for collectors that are given
// full paths in advance and take only .log and .txt files.
inline constexpr wchar_t kNewestLogName[] = L"PatchUpdate-newest.log";
inline constexpr wchar_t kNewestOutcomeName[] = L"PatchUpdate-newest-outcome.txt";

inline constexpr std::int64_t kSecondsPerDay = 86400;

// Seconds from 1970-01-01 00:00 to a wall-clock time, both read on the same clock: the stamps of one
// machine's local time compare as time, across a month's end, a year's end and a leap day alike.
std::int64_t WallClockSeconds(int year, int month, int day, int hour, int minute, int second);

// When a run was: its stamp's local time as WallClockSeconds, and which run of that second it was (1, 2, ...).
struct RunStamp {
  std::int64_t seconds = 0;
  unsigned sequence = 1;
  // By the second, then the run of it. (clang-tidy 14 takes the defaulted comparison's 0 for a pointer.)
  auto operator<=>(const RunStamp&) const = default;  // NOLINT(modernize-use-nullptr)
};

// "YYYYMMDD-HHMMSS" for the first run of a second, "YYYYMMDD-HHMMSS-N" for the N-th.
std::wstring StampText(const std::wstring& secondStamp, unsigned sequence);

std::wstring KeptLogName(const std::wstring& stamp);      // "Log_VDT_14_PatchUpdate.<stamp>.txt"
std::wstring OutcomeFileName(const std::wstring& stamp);  // "outcome.<stamp>.json"

enum class KeptKind { kLog, kOutcome };

struct KeptName {
  KeptKind kind = KeptKind::kLog;
  RunStamp stamp;
};

// What a kept run's file name says; nullopt for any other name, the fixed names and stamps that are no
// time of the calendar (a 13th month, February 30th) included.
std::optional<KeptName> ParseKeptName(std::wstring_view name);

// Of the file names in the folder, those of runs to remove so that `keep` runs stay: the run stamped
// `current` always stays (a clock set back or stamps from the future never make a run delete itself),
// then the newest others. Names that are no kept run's are never among them.
std::vector<std::wstring> RunsToRemove(const std::vector<std::wstring>& names, std::size_t keep,
                                       const std::wstring& current);

}  // namespace result
