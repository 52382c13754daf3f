#include "installer/installer.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/patch_execute.h"
#include "descriptor/whole_file.h"
#include "expected_texts.h"
#include "fake/fake_machine.h"
#include "run_under_test.h"
#include "platform/errors.h"

namespace {

constexpr wchar_t kInstallPath[] = L"C:\\Program Files\\Veldorant 14.0";
constexpr wchar_t kExePath[] = L"C:\\Program Files\\Veldorant 14.0\\Vdt.exe";
constexpr wchar_t kRecordPath[] = L"C:\\Program Files\\Veldorant 14.0\\installedupdates.dat";
constexpr wchar_t kPatchFolder[] = L"C:\\Patch";
constexpr wchar_t kInstallerPath[] = L"C:\\Patch\\Update2Setup.exe";
constexpr wchar_t kPatchInfo[] = L"Veldorant 14.0 Update 2";
constexpr char kOldRecord[] = "Veldorant 14.0 Update 1";

using namespace expect;

// What an installer may leave behind.
void InstallsPatch(fake::Machine& m) { m.AddExecutable(kExePath, 14, 0, 0, 200); }
void RemovesExecutable(fake::Machine& m) { m.files.erase(kExePath); }
void ChangesNothing(fake::Machine&) {}

class InstallerTest : public fake::FakeMachineTest {
 protected:
  void SetUp() override { Fresh(); }

  // A fresh machine with version 14.0.0.100 installed, an older record, and a run object that decided
  // the update is needed.
  void Fresh() {
    fake::ResetMachine();
    machine().AddExecutable(kExePath, 14, 0, 0, 100);
    machine().AddFile(kRecordPath, kOldRecord);
    machine().AddFile(kInstallerPath, "MZ");
    run_ = test::NewIdleRun({.m_strDisplayIcon = kExePath,
                             .m_strPatchFolder = kPatchFolder,
                             .m_strPatchInfo = kPatchInfo,
                             .m_strPatchFile = L"Update2Setup.exe",
                             .m_strPatchVersion = L"14.0.0.200",
                             .m_strInstallPath = kInstallPath,
                             .m_strPatchRevision = L"200",
                             .m_arrPreviousVersions = {L"14.0.0.100"},
                             .m_bUpdateNeeded = true});
  }
  CPatchExecute& run() { return *run_; }

  std::unique_ptr<CPatchExecute> run_;
};

// --- GetInstallParameters ---

TEST_F(InstallerTest, GetInstallParameters_InstallPaths_QuotedAsStored) {
  const struct {
    const char* name;
    const wchar_t* installPath;
    const wchar_t* expected;
  } kCases[] = {
      {"spaces", L"C:\\Apps\\Product 14", L" /s  INSTALLPATH=\"C:\\Apps\\Product 14\" ALLUSERS=TRUE "},
      {"empty", L"", L" /s  INSTALLPATH=\"\" ALLUSERS=TRUE "},
      {"trailing backslash", L"C:\\Apps\\Product 14\\", L" /s  INSTALLPATH=\"C:\\Apps\\Product 14\\\" ALLUSERS=TRUE "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    run().m_strInstallPath = c.installPath;
    EXPECT_EQ(run().GetInstallParameters(), c.expected);
  }
}

// --- LaunchErrorMessage ---

TEST(LaunchErrorMessageTest, Codes_MapToTheirEntries) {
  const struct {
    std::uint32_t code;
    const wchar_t* expected;
  } kCases[] = {
      {2, L"Execute patch process silent error: The specified file was not found."},
      {3, L"Execute patch process silent error: The specified path was not found."},
      {1156, L"Execute patch process silent error: The Dynamic Data Exchange (DDE) transaction failed."},
      {1155,
       L"Execute patch process silent error: There is no application associated with the specified file name "
       L"extension."},
      {5, L"Execute patch process silent error: Access to the specified file is denied."},
      {1157,
       L"Execute patch process silent error: One of the library files necessary to run the application can't be "
       L"found."},
      {1223,
       L"Execute patch process silent error: The function prompted the user for additional information, but the "
       L"user canceled the request."},
      {8, L"Execute patch process silent error: There is not enough memory to perform the specified action."},
      {32, L"Execute patch process silent error: A sharing violation occurred."},
      // Outside the table: the code in unsigned decimal.
      {1460, L"Execute patch process silent: error code 1460"},
      {1, L"Execute patch process silent: error code 1"},
      {4294967295u, L"Execute patch process silent: error code 4294967295"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "code " << c.code);
    EXPECT_EQ(LaunchErrorMessage(c.code), c.expected);
  }
}

// --- VersionsMatch ---

TEST(VersionsMatchTest, Pairs_CompareWholeStringsIgnoringCase) {
  const struct {
    const wchar_t* expected;
    const wchar_t* found;
    bool match;
  } kCases[] = {
      {L"14.0.0.200", L"14.0.0.200", true},
      {L"14.0.1.0200", L"14.0.1.200", false},  // leading zeros are not parsed away
      {L"14.0.0.200 ", L"14.0.0.200", false},  // nor blanks trimmed
      {L"14.0.0.20", L"14.0.0.200", false},
      {L"14.0.0.200b", L"14.0.0.200B", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "\"" << c.expected << "\" vs \"" << c.found << "\"");
    EXPECT_EQ(VersionsMatch(c.expected, c.found), c.match);
  }
}

// --- InstallPatch: launch ---

TEST_F(InstallerTest, InstallPatch_Launch_FullInstallerPathParametersAndFolder) {
  machine().installer = InstallsPatch;

  run().InstallPatch();

  ASSERT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(machine().launches[0].file, kInstallerPath);
  EXPECT_EQ(machine().launches[0].parameters, L" /s  INSTALLPATH=\"C:\\Program Files\\Veldorant 14.0\" ALLUSERS=TRUE ");
  EXPECT_EQ(machine().launches[0].directory, kPatchFolder);
}

TEST_F(InstallerTest, InstallPatch_LaunchFails_LogsTableEntryOnlyAndStillPauses) {
  const std::uint32_t kCodes[] = {2, 3, 1156, 1155, 5, 1157, 1223, 8, 32, 1460};
  for (const auto code : kCodes) {
    SCOPED_TRACE(::testing::Message() << "code " << code);
    Fresh();
    machine().launchError = code;
    machine().installer = InstallsPatch;  // must not matter: nothing ran

    run().InstallPatch();

    EXPECT_EQ(test::LogEntries(run().m_strLog), std::vector<std::wstring>{LaunchErrorMessage(code)});
    EXPECT_EQ(machine().console, kInstallingConsole);
    EXPECT_EQ(machine().waits, 0);
    EXPECT_EQ(run().m_strVersionAfterInstall, L"");
    EXPECT_EQ(machine().FileText(kRecordPath), kOldRecord);
    const std::vector<std::wstring> trace = {L"cursor on", std::wstring(L"launch ") + kInstallerPath, L"pause 10000",
                                             L"cursor off"};
    EXPECT_EQ(machine().trace, trace);
  }
}

TEST_F(InstallerTest, InstallPatch_QuoteInInstallPath_RefusesToLaunch) {
  const wchar_t* const kPaths[] = {
      L"C:\\Apps\\X\" /qn EVIL=\"1",
      L"\"",
      L"C:\\Apps\\Product 14\"",
  };
  for (const auto* path : kPaths) {
    SCOPED_TRACE(::testing::Message() << "path " << path);
    Fresh();
    machine().installer = InstallsPatch;
    run().m_strInstallPath = path;

    run().InstallPatch();

    EXPECT_TRUE(machine().launches.empty());
    EXPECT_EQ(test::LogEntries(run().m_strLog),
              std::vector<std::wstring>{L"Execute patch process silent error: The install path contains a double "
                                        L"quote and was not passed to the installer."});
    EXPECT_EQ(machine().console, kInstallingConsole);
    EXPECT_EQ(machine().FileText(kRecordPath), kOldRecord);
    const std::vector<std::wstring> trace = {L"cursor on", L"pause 10000", L"cursor off"};
    EXPECT_EQ(machine().trace, trace);
  }
}

// --- InstallPatch: verification (needs the real ReadExeVersionAfterInstall and AppendLog) ---

TEST_F(InstallerTest, InstallPatch_InstallerEnds_VerifiesByVersionAndReports) {
  const std::wstring recordDenied = kRecordWriteFailed + DescribeFileError(platform::kErrorAccessDenied, kRecordPath);
  const struct {
    const char* name;
    std::function<void(fake::Machine&)> installer;
    const wchar_t* patchVersion;
    std::uint32_t recordError;
    std::vector<std::wstring> entries;
    std::wstring console;
    std::string record;
  } kCases[] = {
      {"completed", InstallsPatch, L"14.0.0.200", 0, {kInstallCompleted}, kCompletedConsole, "Veldorant 14.0 Update 2"},
      // No version to judge by.
      {"executable removed", RemovesExecutable, L"14.0.0.200", 0, {kInstallCancelled}, kUpdateFailedConsole,
       kOldRecord},
      {"no expected version", InstallsPatch, L"", 0, {kInstallCancelled}, kUpdateFailedConsole, kOldRecord},
      // A version, but not the promised one.
      {"version unchanged", ChangesNothing, L"14.0.0.200", 0, {kInstallMismatch}, kMismatchConsole, kOldRecord},
      {"leading zeros in the promise", [](fake::Machine& m) { m.AddExecutable(kExePath, 14, 0, 1, 200); },
       L"14.0.1.0200", 0, {kInstallMismatch}, kMismatchConsole, kOldRecord},
      // The promised version, but the record can't be written.
      {"record failed", InstallsPatch, L"14.0.0.200", platform::kErrorAccessDenied,
       {recordDenied, kInstallNotCompleted}, kUpdateFailedConsole, kOldRecord},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    machine().installer = c.installer;
    run().m_strPatchVersion = c.patchVersion;
    if (c.recordError != 0) machine().replaceErrors[kRecordPath] = c.recordError;

    run().InstallPatch();

    EXPECT_EQ(test::LogEntries(run().m_strLog), c.entries);
    EXPECT_EQ(machine().console, kInstallingConsole + c.console + kWaitToCloseConsole);
    EXPECT_EQ(machine().FileText(kRecordPath), c.record);
    EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{10000});
    EXPECT_EQ(machine().waits, 1);
    EXPECT_EQ(machine().openProcessHandles, 0);
  }
}

TEST_F(InstallerTest, InstallPatch_Completed_BracketedByCursorWithPauseLast) {
  machine().installer = InstallsPatch;

  run().InstallPatch();

  const std::vector<std::wstring> trace = {L"cursor on",
                                           std::wstring(L"launch ") + kInstallerPath,
                                           L"wait",
                                           std::wstring(L"replace ") + kRecordPath,
                                           L"pause 10000",
                                           L"cursor off"};
  EXPECT_EQ(machine().trace, trace);
  EXPECT_EQ(run().m_strVersionAfterInstall, L"14.0.0.200");
}

TEST_F(InstallerTest, InstallPatch_LaunchWithoutProcessHandle_VerifiesWithoutWaiting) {
  machine().launchGivesProcess = false;
  machine().installer = InstallsPatch;

  run().InstallPatch();

  EXPECT_EQ(machine().waits, 0);
  EXPECT_EQ(test::LogEntries(run().m_strLog), std::vector<std::wstring>{kInstallCompleted});
  EXPECT_EQ(machine().FileText(kRecordPath), "Veldorant 14.0 Update 2");
  EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{10000});
}

// --- RunPatch (needs the real RunPatch and the discovery, descriptor and log steps) ---

TEST_F(InstallerTest, RunPatch_UpdateNeeded_InstallsAndPausesOnce10000) {
  machine().installer = InstallsPatch;
  machine().files.erase(kRecordPath);  // no record: revision 100 below 200 decides

  run().RunPatch();

  EXPECT_EQ(machine().launches.size(), 1u);
  EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{10000});
  EXPECT_EQ(machine().FileText(kRecordPath), "Veldorant 14.0 Update 2");
}

TEST_F(InstallerTest, RunPatch_NoUpdateNeeded_NoLaunchAndPauses7000) {
  machine().AddExecutable(kExePath, 14, 0, 0, 200);  // already at the patch version

  run().RunPatch();

  EXPECT_TRUE(machine().launches.empty());
  EXPECT_EQ(machine().pauses, std::vector<std::uint32_t>{7000});
  EXPECT_EQ(machine().console, kAlreadyAppliedConsole + kWaitToCloseConsole);
}

}  // namespace
