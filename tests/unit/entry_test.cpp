#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/patch_execute.h"
#include "fake/fake_machine.h"
#include "fake/sample_installation.h"
#include "expected_texts.h"

namespace {

using namespace fake::sample;

using namespace expect;
const std::wstring kNotInstalledLine = kNotInstalled + L"\n";
// Log entries with their blank line.
const std::wstring kNotInstalledEntry = kNotInstalled + L"\n\n";
const std::wstring kWarning101Entry = kWarning101 + L"\n\n";

struct Installation {
  std::optional<std::wstring> version;      // nullopt: no product key
  std::optional<std::wstring> displayIcon;  // nullopt: no uninstall entry
};

void PutOnMachine(fake::Machine& m, const Installation& installation) {
  m.AddKey(kWowKey);
  if (installation.version) {
    m.SetRegistryString(kProductKey, L"Version", *installation.version);
    m.SetRegistryString(kProductKey, L"Installpath", kInstallPath);
  }
  if (installation.displayIcon) m.SetRegistryString(kUninstallKey, L"DisplayIcon", *installation.displayIcon);
}

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

class EntryTest : public fake::FakeMachineTest {};

// --- start-up ---

TEST_F(EntryTest, RunPatchUpdate_StartUpFails_ExitsOneWithItsLineAndNoLog) {
  const struct {
    const char* name;
    bool hasModuleHandle;
    bool initializeSucceeds;
    std::wstring console;
  } kCases[] = {
      {"no module handle", false, true, L"Fatal Error: GetModuleHandle failed\n"},
      {"framework initialisation fails", true, false, L"Fatal Error: MFC initialization failed\n"},
      {"both: the first failure ends it", false, false, L"Fatal Error: GetModuleHandle failed\n"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    machine().hasModuleHandle = row.hasModuleHandle;
    machine().initializeSucceeds = row.initializeSucceeds;
    machine().processes = std::vector<std::wstring>{L"excel.exe"};  // the guard would speak if it ran

    EXPECT_EQ(RunPatchUpdate(), 1);

    EXPECT_EQ(machine().console, row.console);
    EXPECT_TRUE(machine().deletedMenuItems.empty());
    EXPECT_TRUE(machine().trace.empty());  // no log written, no pause
    EXPECT_TRUE(machine().files.empty());
  }
}

TEST_F(EntryTest, RunPatchUpdate_StartedUp_RemovesCloseMinimizeMaximizeInThatOrder) {
  RunPatchUpdate();
  EXPECT_EQ(machine().deletedMenuItems, (std::vector<std::uint32_t>{0xF060, 0xF020, 0xF030}));
}

// --- the guard's block ---

TEST_F(EntryTest, RunPatchUpdate_ProductOrExcelRunning_LogsGuardMessageAloneThenPauses) {
  const struct {
    const char* name;
    std::vector<std::wstring> processes;
  } kCases[] = {
      {"product running", {L"System", L"Vdt.exe"}},
      {"excel running", {L"EXCEL.EXE"}},
      {"both running", {L"excel.exe", L"vdt.exe"}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    PutOnMachine(machine(), {L"14.0", kProductExe});
    PutPatchPackage(machine());
    machine().processes = row.processes;

    EXPECT_EQ(RunPatchUpdate(), 0);

    EXPECT_EQ(machine().FileText(expect::kLogPath),
              expect::RunLogFile("Patch update status: Please check and close Veldorant/Excel application,if open.\r\n"));
    EXPECT_EQ(machine().trace, (std::vector<std::wstring>{L"write " + expect::kLogPath, L"pause 7000"}));
    EXPECT_EQ(machine().console, kBlockedMessage);
    // Nothing of the installation was looked at.
    EXPECT_TRUE(machine().openedKeys.empty());
    EXPECT_TRUE(machine().existenceChecks.empty());
    EXPECT_EQ(machine().deletedMenuItems.size(), 3u);
  }
}

// --- a run that can't go on ---

TEST_F(EntryTest, RunPatchUpdate_ProductNotInstalled_PausesThenWritesLogLast) {
  EXPECT_EQ(RunPatchUpdate(), 0);

  EXPECT_EQ(machine().console, kValidatingConsole + kNotInstalledLine);
  EXPECT_EQ(machine().trace, (std::vector<std::wstring>{L"pause 7000", L"write " + expect::kLogPath}));
  const std::string file = machine().FileText(expect::kLogPath);
  EXPECT_EQ(file.rfind(expect::RunLogHeader(), 0), 0u) << file;
  EXPECT_NE(file.find("\r\n\r\nThis patch can't be applied. Veldorant 14.0 application is not installed in this "
                      "machine.\r\n\r\n"),
            std::string::npos)
      << file;
  EXPECT_EQ(file.substr(file.size() - expect::kRunLogFooter.size()), expect::kRunLogFooter);
  EXPECT_TRUE(machine().launches.empty());
}

TEST_F(EntryTest, RunPatchUpdate_LogFileUnwritable_ExitsZeroWithoutConsoleNoise) {
  const struct {
    const char* name;
    std::vector<std::wstring> processes;
    bool locked;
    std::wstring console;
  } kCases[] = {
      {"blocked run, log locked", {L"excel.exe"}, true, kBlockedMessage},
      {"blocked run, log read-only", {L"Vdt.exe"}, false, kBlockedMessage},
      {"not installed, log locked", {}, true, kValidatingConsole + kNotInstalledLine},
      {"not installed, log read-only", {}, false, kValidatingConsole + kNotInstalledLine},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    machine().processes = row.processes;
    machine().AddFile(expect::kLogPath, "previous run");
    (row.locked ? machine().files[expect::kLogPath].locked : machine().files[expect::kLogPath].readOnly) = true;

    EXPECT_EQ(RunPatchUpdate(), 0);

    EXPECT_EQ(machine().console, row.console);
    EXPECT_EQ(machine().FileText(expect::kLogPath), "previous run");
    EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{7000});
  }
}

// --- validation ---

TEST_F(EntryTest, ValidateInstallation_ProductFound_AcceptsOnlyVersion14WithDisplayIcon) {
  const std::wstring cleared = fake::kClearScreenMark;
  const struct {
    const char* name;
    Installation installation;
    std::wstring console;     // after the in-progress line
    std::wstring entry;       // the entry validation adds; empty for none
    bool validated;
    bool displayIconProbed;   // false: the uninstall key must stay closed
  } kCases[] = {
      // Not installed: printed and logged.
      {"no product key", {std::nullopt, kProductExe}, kNotInstalledLine, kNotInstalledEntry, false, false},
      // Another version: logged only, and the uninstall entry isn't looked at.
      {"14.0 followed by a blank", {L"14.0 ", kProductExe}, L"", kNotInstalledEntry, false, false},
      {"14.0.1", {L"14.0.1", kProductExe}, L"", kNotInstalledEntry, false, false},
      {"13.0", {L"13.0", kProductExe}, L"", kNotInstalledEntry, false, false},
      {"14", {L"14", kProductExe}, L"", kNotInstalledEntry, false, false},
      // Version 14.0 without a display icon: the level-two check fails.
      {"no uninstall entry", {L"14.0", std::nullopt}, cleared + kLevelTwoConsole, kWarning101Entry, false, true},
      {"empty DisplayIcon", {L"14.0", L""}, cleared + kLevelTwoConsole, kWarning101Entry, false, true},
      // Valid.
      {"14.0 with DisplayIcon", {L"14.0", kProductExe}, L"", L"", true, true},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    PutOnMachine(machine(), row.installation);
    CPatchExecute run;
    run.m_strLog.clear();
    run.m_bValidated = !row.validated;  // the outcome must be set, not inherited
    machine().console.clear();
    machine().openedKeys.clear();

    run.ValidateInstallation();

    EXPECT_EQ(machine().console, kValidatingConsole + row.console);
    EXPECT_EQ(run.m_bValidated, row.validated);
    const std::wstring log = run.GetLog();
    for (const std::wstring& entry : {kNotInstalledEntry, kWarning101Entry}) {
      EXPECT_EQ(Contains(log, entry), entry == row.entry) << log;
    }
    if (!row.displayIconProbed) {
      for (const auto& key : machine().openedKeys) EXPECT_FALSE(Contains(key, L"Uninstall")) << key;
    }
  }
}

// --- the patch run ---

// A machine and members as validation and the descriptor leave them; the executable's version decides.
void PrepareReadyRun(fake::Machine& m, CPatchExecute& run, std::uint16_t installedRevision) {
  m.AddExecutable(kProductExe, 14, 0, 0, installedRevision);
  run.m_strInstallPath = kInstallPath;
  run.m_strDisplayIcon = kProductExe;
  run.m_strPatchFolder = L"C:\\Patch";
  run.m_strPatchInfo = L"Veldorant 14.0 Update 2";
  run.m_strPatchFile = L"Update2Setup.exe";
  run.m_strPatchVersion = L"14.0.0.200";
  run.m_strPatchRevision = L"200";
  run.m_arrPreviousVersions = {L"14.0.0.100"};
  run.m_bReady = true;
}

TEST_F(EntryTest, RunPatch_NoUpdateNeeded_SaysSoAndPauses7000) {
  CPatchExecute run;
  machine().console.clear();
  machine().trace.clear();
  machine().pauses.clear();
  PrepareReadyRun(machine(), run, 200);  // the patch's version is installed already
  run.m_bUpdateNeeded = false;

  run.RunPatch();

  const std::wstring& console = machine().console;
  ASSERT_GE(console.size(), kWaitToCloseConsole.size());
  EXPECT_EQ(console.substr(console.size() - kWaitToCloseConsole.size()), kWaitToCloseConsole);
  EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{7000});
  EXPECT_TRUE(machine().launches.empty());
}

TEST_F(EntryTest, RunPatch_UpdateNeeded_InstallsWithoutThe7000Pause) {
  CPatchExecute run;
  machine().console.clear();
  machine().trace.clear();
  machine().pauses.clear();
  PrepareReadyRun(machine(), run, 100);  // an older build, no record: the decision wants the installer
  run.m_bUpdateNeeded = true;
  machine().launchError = 2;  // the installer vanished: the install attempt prints nothing more

  run.RunPatch();

  EXPECT_FALSE(Contains(machine().console, kWaitToCloseConsole)) << machine().console;
  for (const auto pause : machine().pauses) EXPECT_NE(pause, 7000u);
}

// --- with the discovery and descriptor operations in place ---

TEST_F(EntryTest, Constructor_ValidationAndDescriptor_ReadyOnlyWhenBothSucceed) {
  const struct {
    const char* name;
    bool installed;
    bool descriptor;
    bool validated;
    bool patchInfoRead;
    std::vector<std::wstring> entriesInOrder;
  } kCases[] = {
      {"installed, descriptor present", true, true, true, true,
       {kDisplayIconCompleted, kKeysFound}},
      {"installed, no descriptor", true, false, true, false, {kDisplayIconCompleted, kKeysExit6}},
      // The descriptor is read even after validation failed, so its findings reach the log.
      {"not installed, descriptor present", false, true, false, true,
       {kNotInstalledEntry, kKeysFound}},
      {"not installed, no descriptor", false, false, false, false, {kNotInstalledEntry, kKeysExit6}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    if (row.installed) PutOnMachine(machine(), {L"14.0", kProductExe});
    if (row.descriptor) PutPatchPackage(machine());

    const CPatchExecute run;

    EXPECT_EQ(run.m_bValidated, row.validated);
    EXPECT_EQ(run.m_bPatchInfoRead, row.patchInfoRead);
    EXPECT_EQ(run.m_bReady, row.validated && row.patchInfoRead);
    EXPECT_FALSE(run.m_bUpdateNeeded);
    std::size_t from = 0;
    for (const auto& entry : row.entriesInOrder) {
      const auto at = run.m_strLog.find(entry, from);
      EXPECT_NE(at, std::wstring::npos) << "missing or out of order: " << std::string(entry.begin(), entry.end());
      if (at != std::wstring::npos) from = at + entry.size();
    }
  }
}

TEST_F(EntryTest, RunPatchUpdate_OlderBuildInstalled_PatchesAndLogsTheWholeRun) {
  InstallProduct(machine());
  PutPatchPackage(machine());
  machine().AddFile(kRecordPath, "Veldorant 14.0 Update 1");

  EXPECT_EQ(RunPatchUpdate(), 0);

  EXPECT_EQ(machine().console, kValidatingConsole + kInstallingConsole + kCompletedConsole + kWaitToCloseConsole);
  EXPECT_EQ(machine().FileText(expect::kLogPath),
            RunLogFile(Entries({kMode1, kVersionCompleted, kInstallPathCompleted, kDisplayIconCompleted,
                                kDescriptorReadCompleted, kKeysFound, kRecordExists, kRecordReadCompleted, kFoundExit1,
                                kInstallCompleted})));
  ASSERT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(machine().launches[0].file, L"C:\\Patch\\Update2Setup.exe");
  EXPECT_EQ(machine().launches[0].directory, L"C:\\Patch");
  EXPECT_EQ(machine().FileText(kRecordPath), "Veldorant 14.0 Update 2");
  EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{10000});
  EXPECT_EQ(machine().trace.back(), L"write " + expect::kLogPath);
  EXPECT_EQ(machine().openKeyCount, 0);
}

}  // namespace
