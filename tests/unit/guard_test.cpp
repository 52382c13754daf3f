#include <optional>
#include <string>
#include <vector>

#include "fake/fake_machine.h"
#include "guard/filter_process.h"
#include "expected_texts.h"

namespace {

using expect::kBlockedMessage;

class GuardTest : public fake::FakeMachineTest {};

TEST_F(GuardTest, Construct_RunningProcesses_BlocksOnWholeNamesInAnyCase) {
  const struct {
    const char* name;
    std::vector<std::wstring> processes;
    bool product;
    bool excel;
  } kCases[] = {
      // The two names as they are usually written.
      {"product", {L"System", L"explorer.exe", L"Vdt.exe"}, true, false},
      {"excel", {L"excel.exe", L"svchost.exe"}, false, true},
      // Letter case doesn't matter.
      {"EXCEL.EXE", {L"EXCEL.EXE"}, false, true},
      {"Excel.Exe", {L"Excel.Exe"}, false, true},
      {"VDT.EXE", {L"VDT.EXE"}, true, false},
      {"vdt.exe", {L"vdt.exe"}, true, false},
      // Only whole names count.
      {"excel.exe.bak", {L"excel.exe.bak"}, false, false},
      {"myexcel.exe", {L"myexcel.exe"}, false, false},
      {"Vdt.exe2", {L"Vdt.exe2"}, false, false},
      {"Vdt", {L"Vdt"}, false, false},
      {"leading blank", {L" excel.exe"}, false, false},
      {"trailing blank", {L"Vdt.exe "}, false, false},
      {"full-width letter", {L"\xFF45xcel.exe"}, false, false},
      {"empty name", {L""}, false, false},
      // Every entry is visited: a match early on doesn't hide the other application.
      {"both, excel first", {L"excel.exe", L"notepad.exe", L"Vdt.exe"}, true, true},
      {"both, product first", {L"VDT.exe", L"cmd.exe", L"EXCEL.exe"}, true, true},
      {"excel last of many", {L"a.exe", L"b.exe", L"c.exe", L"d.exe", L"excel.exe"}, false, true},
      {"same name twice", {L"excel.exe", L"excel.exe"}, false, true},
      // Nothing running.
      {"no processes", {}, false, false},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    machine().processes = row.processes;

    const CFilterProcess guard;

    EXPECT_EQ(guard.m_bProductRunning, row.product);
    EXPECT_EQ(guard.m_bExcelRunning, row.excel);
    const bool blocked = row.product || row.excel;
    EXPECT_EQ(guard.m_bBlocked, blocked);
    // One message, once, whichever application runs.
    const std::wstring expected = blocked ? kBlockedMessage : L"";
    EXPECT_EQ(guard.GetStatusMessage(), expected);
    EXPECT_EQ(machine().console, expected);
  }
}

TEST_F(GuardTest, Construct_SnapshotFails_NotBlockedAndSilent) {
  machine().processes = std::nullopt;

  CFilterProcess guard;

  EXPECT_FALSE(guard.m_bProductRunning);
  EXPECT_FALSE(guard.m_bExcelRunning);
  EXPECT_FALSE(guard.m_bBlocked);
  EXPECT_TRUE(guard.GetStatusMessage().empty());
  EXPECT_TRUE(machine().console.empty());
  EXPECT_FALSE(guard.ScanRunningProcesses());
}

TEST_F(GuardTest, ScanRunningProcesses_ListReadable_ReturnsTrueEvenWhenEmpty) {
  CFilterProcess guard;
  EXPECT_TRUE(guard.ScanRunningProcesses());
  EXPECT_FALSE(guard.m_bBlocked);
}

}  // namespace
