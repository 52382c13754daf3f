// Files that are no complete log of the utility: each read as unreadable, with why, never an exception.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/utf8.h"
#include "result/log_reading.h"
#include "result/outcome.h"
#include "expected_texts.h"

namespace {

using result::Outcome;

TEST(LogReadingTest, ReadRunLog_NoCompleteLogOfTheUtility_UnreadableWithReason) {
  const std::string log = expect::RunLogFile(
      expect::Entries({"Update details found: Exit code 1.", "Execute patch process silent: Completed successfully."}));
  std::string utf16;
  for (const char c : log) utf16 += std::string{c, '\0'};
  std::string unix;
  for (const char c : log) {
    if (c != '\r') unix += c;
  }
  const struct {
    const char* name;
    std::string bytes;
    const wchar_t* reason;  // nullptr: any
    Outcome outcome = Outcome::kUnreadable;
  } kCases[] = {
      {"empty file", "", L"empty file"},
      {"cut short inside the last entry", log.substr(0, log.size() - expect::kRunLogFooter.size() - 7),
       L"log cut short: no footer"},
      {"cut short inside the header", log.substr(0, 160), L"log header damaged"},
      {"UTF-16 copy with its byte-order mark", "\xFF\xFE" + utf16, nullptr},
      {"UTF-16 copy without a byte-order mark", utf16, nullptr},
      {"another program's text file", "[Setup]\r\nVersion=1\r\n", L"not a PatchUpdate log: no header"},
      {"binary junk", std::string("MZ\x90\0\x03\0\0\0", 8) + std::string(64, '\x7f'), nullptr},
      {"entries without their blank lines", expect::RunLogFile("Update details found: Exit code 1."),
       L"log entries damaged: the last one has no blank line"},
      {"no entries at all", expect::RunLogFile(""), L"log holds no entries"},
      {"decided to install, result lost", expect::RunLogFile(expect::Entries({"Update details found: Exit code 2."})),
       L"the run decided to install but the log names no result"},
      {"only entries that decide nothing", expect::RunLogFile(expect::Entries({"Error : 5"})),
       L"the log names no outcome"},
      // A copy through a tool that converts line ends still reads.
      {"the log with bare line feeds", unix, L"Execute patch process silent: Completed successfully.",
       Outcome::kApplied},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    const result::Reading reading = result::ReadRunLog(std::vector<std::uint8_t>(row.bytes.begin(), row.bytes.end()));
    EXPECT_EQ(reading.outcome, row.outcome) << platform::ToUtf8(reading.reason);
    EXPECT_FALSE(reading.reason.empty());
    if (row.reason != nullptr) {
      EXPECT_EQ(reading.reason, row.reason);
    }
  }
}

}  // namespace
