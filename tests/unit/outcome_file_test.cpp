// The outcome file's line: what FormatOutcomeRecord writes reads back the same; anything else reads as
// nothing.
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "result/outcome.h"
#include "result/outcome_file.h"

namespace {

using result::Outcome;
using result::OutcomeRecord;

struct Case {
  const char* name;
  std::string line;
  std::optional<OutcomeRecord> read;
};

// A row whose line FormatOutcomeRecord writes for a failed run with `text` in every field of words.
Case Written(const char* name, const std::wstring& text) {
  const OutcomeRecord record{.machine = L"PC-" + text,
                             .time = L"2026-12-09T03:30:05",
                             .outcome = Outcome::kInstallFailed,
                             .code = 1603,
                             .reason = text,
                             .patch = text,
                             .patchVersion = L"14.0.0.200",
                             .versionBefore = L"14.0.0.100",
                             .versionAfter = L"14.0.0.100"};
  return {name, result::FormatOutcomeRecord(record), record};
}

TEST(OutcomeFileTest, ParseOutcomeRecord_ItsOwnLinesAndOthers_TheRecordOrNothing) {
  const Case kCases[] = {
      // --- written by FormatOutcomeRecord ---
      Written("plain ASCII", L"Execute patch process silent: Completed successfully."),
      Written("quotes, backslashes and control characters", L"C:\\Patch \"x\"\r\n\t"),
      Written("outside ASCII, beyond the basic plane", L"Mu\u00dfe \u20ac \U0001F600"),
      // --- written by hand ---
      {"an editor's byte-order mark, no code: the outcome's own",
       "\xEF\xBB\xBF{\"outcome\": \"blocked\"}", [] {
         OutcomeRecord blocked;
         blocked.outcome = Outcome::kBlocked;
         blocked.code = 1618;
         return blocked;
       }()},
      // --- no outcome line ---
      {"empty", "", std::nullopt},
      {"unknown outcome", R"({"outcome": "fine", "code": 0})", std::nullopt},
      {"no outcome", R"({"machine": "PC01"})", std::nullopt},
      {"cut short", R"({"machine": "PC01", "outcome": "applied")", std::nullopt},
      {"two objects", R"({"outcome": "applied"}{"outcome": "applied"})", std::nullopt},
      {"nested object", R"({"outcome": "applied", "x": {}})", std::nullopt},
      {"bad escape", R"({"outcome": "applied", "reason": "\q"})", std::nullopt},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.line.find('\n'), std::string::npos);
    EXPECT_EQ(result::ParseOutcomeRecord(row.line), row.read) << row.line;
  }
}

}  // namespace
