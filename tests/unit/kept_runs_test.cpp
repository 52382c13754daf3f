// Which kept runs go: stamps compared as time, the run just kept always stays.
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

TEST(KeptRunsTest, RunsToRemove_SavedRuns_AllButTheNewestTwenty) {
  const struct {
    const char* name;
    std::vector<std::wstring> names;
    std::wstring current;  // the run just kept
    std::vector<std::wstring> removed;
  } kCases[] = {
      {"twenty runs, both files each: nothing goes", SavedRuns(20), L"20261209-101900", {}},
      {"twenty-two runs: the two oldest go with both their files", SavedRuns(22), L"20261209-102100",
       {SavedRuns(22)[0], SavedRuns(22)[1], SavedRuns(22)[2], SavedRuns(22)[3]}},
      {"a run whose log copy is missing still counts once",
       [] {
         auto names = SavedRuns(21);
         names.erase(names.begin() + 10);
         return names;
       }(),
       L"20261209-102000", {SavedRuns(21)[0], SavedRuns(21)[1]}},
      {"other files are never removed",
       [] {
         auto names = SavedRuns(21);
         names.insert(names.begin(), {L"notes.txt", L"outcome.json", L"Log_VDT_14_PatchUpdate.txt",
                                      L"outcome.2026-12-09.json", L"PatchUpdate-newest.log",
                                      L"PatchUpdate-newest-outcome.txt", L"outcome.20261209-100000-1.json"});
         return names;
       }(),
       L"20261209-102000", {SavedRuns(21)[0], SavedRuns(21)[1]}},
      {"twenty runs stamped in the future: this run stays, the oldest of them goes",
       [] {
         auto names = SavedRuns(20, L"20991231");
         names.push_back(result::OutcomeFileName(L"20261209-033005"));
         return names;
       }(),
       L"20261209-033005", {SavedRuns(20, L"20991231")[0], SavedRuns(20, L"20991231")[1]}},
      {"a run from a clock that ran ahead goes before the real ones",
       [] {
         auto names = SavedRuns(21);
         names.push_back(result::OutcomeFileName(L"20991231-000000"));
         return names;
       }(),
       L"20261209-102000", {SavedRuns(21)[0], SavedRuns(21)[1], result::OutcomeFileName(L"20991231-000000")}},
      // --- stamps compared as time: seconds apart across a month's end, a year's end, a leap day ---
      {"a run 31 seconds after this one across the month's end is the newest, not one from a clock ahead",
       [] {
         auto names = SavedRuns(20, L"20261130");
         names.push_back(result::OutcomeFileName(L"20261201-000030"));
         return names;
       }(),
       L"20261130-235959", {SavedRuns(20, L"20261130")[0], SavedRuns(20, L"20261130")[1],
                            SavedRuns(20, L"20261130")[2], SavedRuns(20, L"20261130")[3]}},
      {"a run 31 seconds after this one across the year's end is the newest",
       [] {
         auto names = SavedRuns(20, L"20261231");
         names.push_back(result::OutcomeFileName(L"20270101-000030"));
         return names;
       }(),
       L"20261231-235959", {SavedRuns(20, L"20261231")[0], SavedRuns(20, L"20261231")[1],
                            SavedRuns(20, L"20261231")[2], SavedRuns(20, L"20261231")[3]}},
      {"a run 31 seconds after this one across a leap day's end is the newest",
       [] {
         auto names = SavedRuns(20, L"20280229");
         names.push_back(result::OutcomeFileName(L"20280301-000030"));
         return names;
       }(),
       L"20280229-235959", {SavedRuns(20, L"20280229")[0], SavedRuns(20, L"20280229")[1],
                            SavedRuns(20, L"20280229")[2], SavedRuns(20, L"20280229")[3]}},
      {"a run three days ahead across the month's end goes first",
       [] {
         auto names = SavedRuns(20, L"20261130");
         names.push_back(result::OutcomeFileName(L"20261203-235959"));
         return names;
       }(),
       L"20261130-235959", {SavedRuns(20, L"20261130")[0], SavedRuns(20, L"20261130")[1],
                            result::OutcomeFileName(L"20261203-235959")}},
      {"a leap day of a year that has none is no stamp, never removed",
       [] {
         auto names = SavedRuns(21, L"20270301");
         names.insert(names.begin(), result::OutcomeFileName(L"20270229-000000"));
         return names;
       }(),
       L"20270301-102000", {SavedRuns(21, L"20270301")[0], SavedRuns(21, L"20270301")[1]}},
      {"runs of one second by their sequence, not their text",
       {result::OutcomeFileName(L"20261209-033005-10"), result::OutcomeFileName(L"20261209-033005-9"),
        result::OutcomeFileName(L"20261209-033005")},
       L"20261209-033005-10", {}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(result::RunsToRemove(row.names, result::kKeptRuns, row.current), row.removed);
  }
  EXPECT_EQ(result::RunsToRemove({result::OutcomeFileName(L"20261209-033005-10"),
                                  result::OutcomeFileName(L"20261209-033005-9")},
                                 2, L"20261209-033006"),
            std::vector<std::wstring>{result::OutcomeFileName(L"20261209-033005-9")});
}

}  // namespace
