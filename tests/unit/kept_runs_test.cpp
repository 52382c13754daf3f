// Which kept runs go: stamps compared as time, the run just kept always stays.
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "result/kept_runs.h"

namespace {

// Both files of each of `count` runs, a minute apart, oldest first.
std::vector<std::wstring> SavedRuns(int count, const std::wstring& day = L"20261209") {
  std::vector<std::wstring> names;
  for (int i = 0; i < count; ++i) {
    const std::wstring stamp = day + L"-" + std::to_wstring(100000 + i * 100).substr(0, 6);
    names.push_back(result::KeptLogName(stamp));
    names.push_back(result::OutcomeFileName(stamp));
  }
  return names;
}

// `names` and those after them.
std::vector<std::wstring> With(std::vector<std::wstring> names, std::initializer_list<std::wstring> more) {
  names.insert(names.end(), more);
  return names;
}

std::wstring Outcome(const wchar_t* stamp) { return result::OutcomeFileName(stamp); }

TEST(KeptRunsTest, RunsToRemove_SavedRuns_AllButTheNewestTwenty) {
  const struct {
    const char* name;
    std::vector<std::wstring> names;
    std::wstring current;  // the run just kept
    std::vector<std::wstring> removed;
  } kCases[] = {
      {"twenty runs, both files each: nothing goes", SavedRuns(20), L"20261209-101900", {}},
      {"twenty-two runs: the two oldest go with both their files", SavedRuns(22), L"20261209-102100", SavedRuns(2)},
      {"a run whose log copy is missing still counts once",
       [] {
         auto names = SavedRuns(21);
         names.erase(names.begin() + 10);
         return names;
       }(),
       L"20261209-102000", SavedRuns(1)},
      {"other files are never removed",
       With(SavedRuns(21), {L"notes.txt", L"outcome.json", L"Log_VDT_14_PatchUpdate.txt", L"outcome.2026-12-09.json",
                            L"PatchUpdate-newest.log", L"PatchUpdate-newest-outcome.txt",
                            L"outcome.20261209-100000-1.json"}),
       L"20261209-102000", SavedRuns(1)},
      {"twenty runs stamped in the future: this run stays, the oldest of them goes",
       With(SavedRuns(20, L"20991231"), {Outcome(L"20261209-033005")}), L"20261209-033005", SavedRuns(1, L"20991231")},
      {"a run from a clock that ran ahead goes before the real ones",
       With(SavedRuns(21), {Outcome(L"20991231-000000")}), L"20261209-102000",
       With(SavedRuns(1), {Outcome(L"20991231-000000")})},
      // --- stamps compared as time: seconds apart across a month's end, a year's end, a leap day ---
      {"a run 31 seconds after this one across the month's end is the newest, not one from a clock ahead",
       With(SavedRuns(20, L"20261130"), {Outcome(L"20261201-000030")}), L"20261130-235959", SavedRuns(2, L"20261130")},
      {"a run 31 seconds after this one across the year's end is the newest",
       With(SavedRuns(20, L"20261231"), {Outcome(L"20270101-000030")}), L"20261231-235959", SavedRuns(2, L"20261231")},
      {"a run 31 seconds after this one across a leap day's end is the newest",
       With(SavedRuns(20, L"20280229"), {Outcome(L"20280301-000030")}), L"20280229-235959", SavedRuns(2, L"20280229")},
      {"a run three days ahead across the month's end goes first",
       With(SavedRuns(20, L"20261130"), {Outcome(L"20261203-235959")}), L"20261130-235959",
       With(SavedRuns(1, L"20261130"), {Outcome(L"20261203-235959")})},
      {"a leap day of a year that has none is no stamp, never removed",
       With(SavedRuns(21, L"20270301"), {Outcome(L"20270229-000000")}), L"20270301-102000", SavedRuns(1, L"20270301")},
      {"runs of one second by their sequence, not their text",
       {Outcome(L"20261209-033005-10"), Outcome(L"20261209-033005-9"), Outcome(L"20261209-033005")},
       L"20261209-033005-10", {}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(result::RunsToRemove(row.names, result::kKeptRuns, row.current), row.removed);
  }
  EXPECT_EQ(result::RunsToRemove({Outcome(L"20261209-033005-10"), Outcome(L"20261209-033005-9")}, 2, L"20261209-033006"),
            std::vector<std::wstring>{Outcome(L"20261209-033005-9")});
}

}  // namespace
