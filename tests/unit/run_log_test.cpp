#include <optional>
#include <string>
#include <vector>

#include "app/patch_execute.h"
#include "fake/fake_machine.h"
#include "log/run_log.h"
#include "expected_texts.h"

namespace {

using expect::kBlockedMessage;

class RunLogTest : public fake::FakeMachineTest {};

// --- entries in memory ---

TEST_F(RunLogTest, AppendLog_Messages_EachFollowedByOneBlankLine) {
  const struct {
    const char* name;
    std::vector<std::wstring> messages;
    std::wstring log;
  } kCases[] = {
      {"one entry", {expect::kMode1}, expect::kMode1 + L"\n\n"},
      {"two entries in order", {L"first", L"second"}, L"first\n\nsecond\n\n"},
      {"trailing blank kept", {expect::kVersionValueEmpty}, expect::kVersionValueEmpty + L"\n\n"},
      {"empty message still an entry", {L"a", L"", L"b"}, L"a\n\n\n\nb\n\n"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    CPatchExecute run;
    run.m_strLog.clear();
    for (const auto& message : row.messages) run.AppendLog(message);
    EXPECT_EQ(run.GetLog(), row.log);
  }
}

// --- the header's date ---

TEST_F(RunLogTest, FormatLogDate_LocalTime_EnglishNamesAndPaddedNumbers) {
  const struct {
    const char* name;
    platform::LocalTime time;  // year, month, day, weekday, hour, minute
    std::wstring text;
  } kCases[] = {
      // Every weekday name.
      {"Sunday", {2026, 12, 6, 0, 9, 0}, L"Sunday 09:00, December 06, 2026"},
      {"Monday", {2026, 12, 7, 1, 14, 5}, L"Monday 14:05, December 07, 2026"},
      {"Tuesday", {2026, 12, 8, 2, 23, 59}, L"Tuesday 23:59, December 08, 2026"},
      {"Wednesday", {2026, 12, 9, 3, 0, 0}, L"Wednesday 00:00, December 09, 2026"},
      {"Thursday", {2026, 12, 10, 4, 10, 10}, L"Thursday 10:10, December 10, 2026"},
      {"Friday", {2026, 12, 11, 5, 12, 30}, L"Friday 12:30, December 11, 2026"},
      {"Saturday", {2026, 12, 12, 6, 1, 7}, L"Saturday 01:07, December 12, 2026"},
      // Every month name.
      {"January", {2027, 1, 31, 0, 8, 0}, L"Sunday 08:00, January 31, 2027"},
      {"February", {2028, 2, 29, 2, 8, 0}, L"Tuesday 08:00, February 29, 2028"},
      {"March", {2026, 3, 1, 0, 8, 0}, L"Sunday 08:00, March 01, 2026"},
      {"April", {2026, 4, 2, 4, 8, 0}, L"Thursday 08:00, April 02, 2026"},
      {"May", {2026, 5, 3, 0, 8, 0}, L"Sunday 08:00, May 03, 2026"},
      {"June", {2026, 6, 4, 4, 8, 0}, L"Thursday 08:00, June 04, 2026"},
      {"July", {2026, 7, 5, 0, 8, 0}, L"Sunday 08:00, July 05, 2026"},
      {"August", {2026, 8, 6, 4, 8, 0}, L"Thursday 08:00, August 06, 2026"},
      {"September", {2026, 9, 7, 1, 8, 0}, L"Monday 08:00, September 07, 2026"},
      {"October", {2026, 10, 8, 4, 8, 0}, L"Thursday 08:00, October 08, 2026"},
      {"November", {2026, 11, 9, 1, 8, 0}, L"Monday 08:00, November 09, 2026"},
      {"December", {2026, 12, 31, 4, 8, 0}, L"Thursday 08:00, December 31, 2026"},
      // Year as it is.
      {"year 10000", {10000, 1, 1, 6, 0, 0}, L"Saturday 00:00, January 01, 10000"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FormatLogDate(row.time), row.text);
  }
}

TEST_F(RunLogTest, FormatLogDate_NoTimeOrImpossibleFields_Empty) {
  const struct {
    const char* name;
    std::optional<platform::LocalTime> time;
  } kCases[] = {
      {"no time", std::nullopt},
      {"weekday 7", platform::LocalTime{2026, 12, 7, 7, 14, 5}},
      {"weekday -1", platform::LocalTime{2026, 12, 7, -1, 14, 5}},
      {"month 0", platform::LocalTime{2026, 0, 7, 1, 14, 5}},
      {"month 13", platform::LocalTime{2026, 13, 7, 1, 14, 5}},
      {"day 0", platform::LocalTime{2026, 12, 0, 1, 14, 5}},
      {"hour 24", platform::LocalTime{2026, 12, 7, 1, 24, 5}},
      {"minute 60", platform::LocalTime{2026, 12, 7, 1, 14, 60}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FormatLogDate(row.time), L"");
  }
}

// --- the file on disk ---

TEST_F(RunLogTest, WriteRunLog_Texts_FileHoldsHeaderTextFooterWithCrLf) {
  const struct {
    const char* name;
    std::wstring text;
    std::string body;
  } kCases[] = {
      {"guard message ends in one line feed", kBlockedMessage,
       "Patch update status: Please check and close Veldorant/Excel application,if open.\r\n"},
      {"entries end in a blank line",
       L"Registry bit support Mode 1: Verified successfully.\n\nClient side update check, level version completed.\n\n",
       "Registry bit support Mode 1: Verified successfully.\r\n\r\n"
       "Client side update check, level version completed.\r\n\r\n"},
      {"trailing blank kept before the blank line",
       L"Execute patch process silent : Not completed successfully due to version information mismatch. \n\n",
       "Execute patch process silent : Not completed successfully due to version information mismatch. \r\n\r\n"},
      {"empty text: header straight into footer", L"", ""},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();

    WriteRunLog(row.text);

    EXPECT_EQ(machine().FileText(expect::kLogPath), expect::RunLogFile(row.body));
    EXPECT_EQ(machine().trace, std::vector<std::wstring>{L"write " + expect::kLogPath});
    EXPECT_TRUE(machine().console.empty());
  }
}

TEST_F(RunLogTest, WriteRunLog_NoLocalTime_DateLeftEmpty) {
  machine().now = std::nullopt;

  WriteRunLog(L"entry\n\n");

  EXPECT_EQ(machine().FileText(expect::kLogPath), expect::RunLogFile("entry\r\n\r\n", ""));
}

TEST_F(RunLogTest, WriteRunLog_OldLogFromEarlierRun_Replaced) {
  machine().AddFile(expect::kLogPath, std::string(5000, 'x') + "\r\nold run\r\n");

  WriteRunLog(L"new\n\n");

  EXPECT_EQ(machine().FileText(expect::kLogPath), expect::RunLogFile("new\r\n\r\n"));
}

TEST_F(RunLogTest, WriteRunLog_NonAsciiText_OneBytePerCharacterNoByteOrderMark) {
  // A registry value or file name in an entry may hold anything; what the code page lacks becomes '?'.
  WriteRunLog(L"C:\\Caf\x00E9\\\x6F22\x5B57\\\x03A9.exe\n\n");

  const std::string file = machine().FileText(expect::kLogPath);
  EXPECT_EQ(file, expect::RunLogFile("C:\\Caf\xE9\\??\\?.exe\r\n\r\n"));
  EXPECT_EQ(machine().ansiReplacements, 3u);
  EXPECT_EQ(file.substr(0, 3), "===");
}

TEST_F(RunLogTest, WriteRunLog_ModulePath_LogBesideTheExecutable) {
  const std::wstring longFolder = L"C:\\" + std::wstring(300, L'd') + L"\\sub";
  const struct {
    const char* name;
    std::wstring modulePath;
    std::wstring logPath;
  } kCases[] = {
      {"usual folder", L"C:\\Patch\\PatchUpdate.exe", L"C:\\Patch\\Log_VDT_14_PatchUpdate.txt"},
      {"folder with blanks", L"D:\\Patches\\Update 2\\PatchUpdate.exe",
       L"D:\\Patches\\Update 2\\Log_VDT_14_PatchUpdate.txt"},
      {"path longer than 260", longFolder + L"\\PatchUpdate.exe", longFolder + L"\\Log_VDT_14_PatchUpdate.txt"},
      {"network share", L"\\\\server\\share\\PatchUpdate.exe", L"\\\\server\\share\\Log_VDT_14_PatchUpdate.txt"},
      {"no backslash: root of the drive", L"PatchUpdate.exe", L"\\Log_VDT_14_PatchUpdate.txt"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    machine().modulePath = row.modulePath;

    WriteRunLog(L"entry\n\n");

    EXPECT_EQ(machine().trace, std::vector<std::wstring>{L"write " + row.logPath});
    EXPECT_EQ(machine().FileText(row.logPath), expect::RunLogFile("entry\r\n\r\n"));
  }
}

TEST_F(RunLogTest, WriteRunLog_FileCannotBeWritten_NothingPrintedOldFileKept) {
  const struct {
    const char* name;
    fake::FileState state;
  } kCases[] = {
      {"read-only", [] { fake::FileState s; s.readOnly = true; return s; }()},
      {"locked by another process", [] { fake::FileState s; s.locked = true; return s; }()},
      {"a folder of that name", [] { fake::FileState s; s.isFolder = true; return s; }()},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    auto state = row.state;
    state.bytes = {'o', 'l', 'd'};
    machine().files[expect::kLogPath] = state;

    WriteRunLog(L"entry\n\n");

    EXPECT_EQ(machine().trace, std::vector<std::wstring>{L"write " + expect::kLogPath});
    EXPECT_EQ(machine().FileText(expect::kLogPath), "old");
    EXPECT_TRUE(machine().console.empty());
  }
}

}  // namespace
