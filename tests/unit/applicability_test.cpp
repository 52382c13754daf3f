#include "applicability/applicability.h"

#include <climits>
#include <cstdint>
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
constexpr wchar_t kDisplayIcon[] = L"C:\\Program Files\\Veldorant 14.0\\Vdt.exe,0";
constexpr wchar_t kRecordPath[] = L"C:\\Program Files\\Veldorant 14.0\\installedupdates.dat";
constexpr wchar_t kPatchInfo[] = L"Veldorant 14.0 Update 2";

using namespace expect;

struct ExeVersion {
  std::uint16_t major, minor, build, revision;
};

class ApplicabilityTest : public fake::FakeMachineTest {
 protected:
  void SetUp() override { Fresh(); }

  // A fresh machine and a run object as the registry and the descriptor would leave it.
  void Fresh() {
    fake::ResetMachine();
    run_ = test::NewIdleRun({.m_strDisplayIcon = kDisplayIcon,
                             .m_strPatchInfo = kPatchInfo,
                             .m_strPatchFile = L"Update2Setup.exe",
                             .m_strPatchVersion = L"14.0.0.200",
                             .m_strInstallPath = kInstallPath,
                             .m_strPatchRevision = L"200",
                             .m_arrPreviousVersions = {L"14.0.0.100", L"14.0.0.150"}});
  }
  CPatchExecute& run() { return *run_; }

  std::unique_ptr<CPatchExecute> run_;
};

// --- ReadLeadingInteger ---

TEST(ReadLeadingIntegerTest, Texts_ReadLikeLeadingDecimalDigits) {
  const struct {
    const wchar_t* text;
    int expected;
  } kCases[] = {
      // No digits at all.
      {L"", 0},
      {L"abc", 0},
      {L"-", 0},
      {L"+-3", 0},
      {L"\x0663", 0},  // a digit of another script is not a decimal digit here
      // Digits, with blanks and signs before them.
      {L"200", 200},
      {L"0200", 200},
      {L"  42", 42},
      {L"\t\r\n 9", 9},
      {L"+7", 7},
      {L"-15", -15},
      {L"- 15", 0},
      // Digits followed by other text.
      {L"12abc", 12},
      {L"1 2", 1},
      // At and past the limits: saturate, never wrap.
      {L"2147483647", INT_MAX},
      {L"2147483648", INT_MAX},
      {L"99999999999999999999999", INT_MAX},
      {L"-2147483648", INT_MIN},
      {L"-99999999999999999999999", INT_MIN},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "text \"" << c.text << "\"");
    EXPECT_EQ(ReadLeadingInteger(c.text), c.expected);
  }
}

// --- IsUpdateRecorded ---

TEST(IsUpdateRecordedTest, RecordTexts_DecideByProductWordPatchInfoAndRevisions) {
  const struct {
    const char* name;
    const wchar_t* record;
    const wchar_t* patchInfo;
    int installed;
    int patch;
    bool expected;
  } kCases[] = {
      // Product word once: the PatchInfo text decides before the revisions.
      {"once, info present, lower revision", L"Veldorant 14.0 Update 2", L"Veldorant 14.0 Update 2", 100, 200, true},
      {"once, other info, lower revision", L"Veldorant 14.0 Update 1", L"Veldorant 14.0 Update 2", 100, 200, false},
      {"once, other info, equal revision", L"Veldorant 14.0 Update 1", L"Veldorant 14.0 Update 2", 200, 200, true},
      {"once, info differs in case", L"Veldorant 14.0 UPDATE 2", L"Veldorant 14.0 Update 2", 100, 200, false},
      // Product word twice or more: the revisions alone decide.
      {"twice, info present, lower revision", L"Veldorant Veldorant 14.0 Update 2", L"Veldorant 14.0 Update 2", 100,
       200, false},
      {"twice, info present, higher revision", L"Veldorant Veldorant 14.0 Update 2", L"Veldorant 14.0 Update 2", 300,
       200, true},
      {"twice back to back", L"VeldorantVeldorant", L"Veldorant", 100, 200, false},
      // The product word is matched case-sensitively: other cases count as no occurrence.
      {"other case only, info present", L"VELDORANT veldorant Update 2", L"veldorant Update 2", 100, 200, true},
      {"other case plus once, info present", L"veldorant Veldorant 14.0 Update 2", L"Veldorant 14.0 Update 2", 100,
       200, true},
      {"word absent, info present", L"Update 2", L"Update 2", 100, 200, true},
      // Nothing to read: the revisions decide.
      {"empty record, lower revision", L"", L"Veldorant 14.0 Update 2", 100, 200, false},
      {"empty record, negative revision", L"", L"Veldorant 14.0 Update 2", -1, 0, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsUpdateRecorded(c.record, c.patchInfo, c.installed, c.patch), c.expected);
  }
}

// --- DecideApplicability (needs the real ReadExeVersion, ReadWholeFile and AppendLog) ---

TEST_F(ApplicabilityTest, DecideApplicability_EveryOutcome_LogsPrintsAndSetsFlag) {
  const struct {
    const char* name;
    std::optional<ExeVersion> exe;
    const wchar_t* patchVersion;
    const wchar_t* patchRevision;  // as the descriptor derives it: after the last "."
    std::vector<std::wstring> previous;
    std::optional<std::string> record;
    std::vector<std::wstring> entries;
    std::wstring console;
    bool updateNeeded;
  } kCases[] = {
      // Executable already at PatchVersion: decided before any record lookup.
      {"exe at patch version", ExeVersion{14, 0, 0, 200}, L"14.0.0.200", L"200", {L"14.0.0.100"},
       "Veldorant 14.0 Update 1",
       {kNotFoundExit3, kAlreadyApplied},
       kAlreadyAppliedConsole, false},
      // Not among the previous versions.
      {"exe version not listed", ExeVersion{14, 0, 0, 120}, L"14.0.0.200", L"200", {L"14.0.0.100", L"14.0.0.150"},
       std::nullopt, {kNotApplicable},
       kNotApplicableConsole, false},
      {"exe missing", std::nullopt, L"14.0.0.200", L"200", {L"14.0.0.100"}, std::nullopt,
       {kNotApplicable},
       kNotApplicableConsole, false},
      {"listed with a leading zero", ExeVersion{14, 0, 0, 100}, L"14.0.0.200", L"200", {L"14.0.0.0100"}, std::nullopt,
       {kNotApplicable},
       kNotApplicableConsole, false},
      // Record present.
      {"record holds this patch, lower revision", ExeVersion{14, 0, 0, 100}, L"14.0.0.200", L"200", {L"14.0.0.100"},
       "Veldorant 14.0 Update 2", {kRecordExists, kRecordReadCompleted, kNotFoundExit1, kAlreadyAppliedStatus},
       kAlreadyAppliedConsole, false},
      {"record holds another patch, lower revision", ExeVersion{14, 0, 0, 150}, L"14.0.0.200", L"200",
       {L"14.0.0.100", L"14.0.0.150"}, "Veldorant 14.0 Update 1", {kRecordExists, kRecordReadCompleted, kFoundExit1},
       L"", true},
      {"record names the product twice, lower revision", ExeVersion{14, 0, 0, 100}, L"14.0.0.200", L"200",
       {L"14.0.0.100"}, "Veldorant Veldorant 14.0 Update 2", {kRecordExists, kRecordReadCompleted, kFoundExit1},
       L"", true},
      {"record holds another patch, higher revision", ExeVersion{14, 0, 1, 300}, L"14.0.0.200", L"200", {L"14.0.1.300"},
       "Veldorant 14.0 Update 1", {kRecordExists, kRecordReadCompleted, kNotFoundExit1, kAlreadyAppliedStatus},
       kAlreadyAppliedConsole, false},
      {"empty record, lower revision", ExeVersion{14, 0, 0, 100}, L"14.0.0.200", L"200", {L"14.0.0.100"}, "",
       {kRecordExists, kRecordReadCompleted, kFoundExit1}, L"", true},
      // No record: the revisions decide.
      {"no record, lower revision", ExeVersion{14, 0, 0, 100}, L"14.0.0.200", L"200", {L"14.0.0.100"}, std::nullopt,
       {kFoundExit2}, L"", true},
      {"no record, equal revision", ExeVersion{14, 0, 1, 200}, L"14.0.0.200", L"200", {L"14.0.1.200"}, std::nullopt,
       {kNotFoundExit2, kAlreadyAppliedStatus}, kAlreadyAppliedConsole, false},
      {"no record, higher revision", ExeVersion{14, 0, 1, 300}, L"14.0.0.200", L"200", {L"14.0.1.300"}, std::nullopt,
       {kNotFoundExit2, kAlreadyAppliedStatus}, kAlreadyAppliedConsole, false},
      {"no record, patch version without a dot", ExeVersion{14, 0, 0, 100}, L"14", L"", {L"14.0.0.100"}, std::nullopt,
       {kNotFoundExit2, kAlreadyAppliedStatus}, kAlreadyAppliedConsole, false},
      {"no record, huge patch revision", ExeVersion{14, 0, 0, 65535}, L"14.0.0.99999999999", L"99999999999",
       {L"14.0.0.65535"}, std::nullopt, {kFoundExit2}, L"", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    if (c.exe) machine().AddExecutable(kExePath, c.exe->major, c.exe->minor, c.exe->build, c.exe->revision);
    if (c.record) machine().AddFile(kRecordPath, *c.record);
    run().m_strPatchVersion = c.patchVersion;
    run().m_strPatchRevision = c.patchRevision;
    run().m_arrPreviousVersions = c.previous;
    run().m_bUpdateNeeded = !c.updateNeeded;  // must be set on every path

    run().DecideApplicability();

    EXPECT_EQ(test::LogEntries(run().m_strLog), c.entries);
    EXPECT_EQ(machine().console, c.console);
    EXPECT_EQ(run().m_bUpdateNeeded, c.updateNeeded);
    EXPECT_TRUE(machine().pauses.empty());
  }
}

TEST_F(ApplicabilityTest, DecideApplicability_ExeAtPatchVersion_NeverLooksForRecord) {
  machine().AddExecutable(kExePath, 14, 0, 0, 200);
  machine().AddFile(kRecordPath, "Veldorant 14.0 Update 1");

  run().DecideApplicability();

  for (const auto& path : machine().existenceChecks) EXPECT_NE(path, kRecordPath);
}

TEST_F(ApplicabilityTest, DecideApplicability_RecordLocked_LogsReadFailureThenRevisionsDecide) {
  machine().AddExecutable(kExePath, 14, 0, 0, 100);
  machine().AddFile(kRecordPath, "Veldorant 14.0 Update 2");
  machine().files[kRecordPath].locked = true;

  run().DecideApplicability();

  const std::vector<std::wstring> expected = {
      kRecordExists, DescribeFileError(platform::kErrorSharingViolation, kRecordPath),
      kRecordReadFailed, kFoundExit1};
  EXPECT_EQ(test::LogEntries(run().m_strLog), expected);
  EXPECT_TRUE(run().m_bUpdateNeeded);
}

TEST_F(ApplicabilityTest, DecideApplicability_DisplayIconWithoutBackslash_LooksAtRootRecord) {
  machine().AddExecutable(kExePath, 14, 0, 0, 100);
  machine().AddFile(L"\\installedupdates.dat", "Veldorant 14.0 Update 2");
  run().m_strDisplayIcon = L"Vdt.exe";

  run().DecideApplicability();

  EXPECT_FALSE(run().m_bUpdateNeeded);
  EXPECT_NE(run().m_strLog.find(kNotFoundExit1), std::wstring::npos);
}

// --- RecordInstalledUpdate ---

TEST_F(ApplicabilityTest, RecordInstalledUpdate_Writes_RecordHoldsExactlyPatchInfo) {
  const struct {
    const char* name;
    std::optional<std::string> oldRecord;
    const wchar_t* patchInfo;
    std::string expected;
  } kCases[] = {
      {"new record", std::nullopt, kPatchInfo, "Veldorant 14.0 Update 2"},
      {"longer old record replaced whole", "Veldorant 14.0 Update 1 with a much longer description\r\n", kPatchInfo,
       "Veldorant 14.0 Update 2"},
      {"trailing blank kept", std::nullopt, L"Veldorant 14.0 Update 2 ", "Veldorant 14.0 Update 2 "},
      {"Latin-1 letter as one byte", std::nullopt, L"Veldorant Mise \x00e0 jour", "Veldorant Mise \xe0 jour"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    machine().AddExecutable(kExePath, 14, 0, 0, 200);  // the product folder exists
    if (c.oldRecord) machine().AddFile(kRecordPath, *c.oldRecord);
    run().m_strPatchInfo = c.patchInfo;

    EXPECT_TRUE(run().RecordInstalledUpdate());

    EXPECT_EQ(machine().FileText(kRecordPath), c.expected);
    EXPECT_EQ(machine().trace, std::vector<std::wstring>{std::wstring(L"replace ") + kRecordPath});
    EXPECT_EQ(run().m_strLog, L"");
  }
}

TEST_F(ApplicabilityTest, RecordInstalledUpdate_WriteFails_OneEntryAndOldRecordIntact) {
  const struct {
    const char* name;
    const wchar_t* displayIcon;
    std::wstring recordPath;
    std::uint32_t injected;  // 0: the fake fails on its own
    std::uint32_t code;
  } kCases[] = {
      {"access denied", kDisplayIcon, kRecordPath, platform::kErrorAccessDenied, platform::kErrorAccessDenied},
      {"sharing violation", kDisplayIcon, kRecordPath, platform::kErrorSharingViolation,
       platform::kErrorSharingViolation},
      {"product folder missing", L"D:\\Gone\\Vdt.exe", L"D:\\Gone\\installedupdates.dat", 0,
       platform::kErrorPathNotFound},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    machine().AddExecutable(kExePath, 14, 0, 0, 200);
    machine().AddFile(kRecordPath, "Veldorant 14.0 Update 1");
    if (c.injected != 0) machine().replaceErrors[c.recordPath] = c.injected;
    run().m_strDisplayIcon = c.displayIcon;
    run().AppendLog(L"Earlier entry.");

    EXPECT_FALSE(run().RecordInstalledUpdate());

    const std::vector<std::wstring> expected = {L"Earlier entry.",
                                                kRecordWriteFailed + DescribeFileError(c.code, c.recordPath)};
    EXPECT_EQ(test::LogEntries(run().m_strLog), expected);
    EXPECT_EQ(machine().FileText(kRecordPath), "Veldorant 14.0 Update 1");
  }
}

TEST_F(ApplicabilityTest, RecordInstalledUpdate_VeryLongPath_OneEntryWithBoundedDescription) {
  const std::wstring folder = L"C:\\" + std::wstring(1500, L'a');
  const std::wstring recordPath = folder + L"\\installedupdates.dat";
  machine().replaceErrors[recordPath] = platform::kErrorAccessDenied;
  run().m_strDisplayIcon = folder + L"\\Vdt.exe";

  EXPECT_FALSE(run().RecordInstalledUpdate());

  const auto entries = test::LogEntries(run().m_strLog);
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_EQ(entries[0].rfind(kRecordWriteFailed, 0), 0u);
  EXPECT_LE(entries[0].size() - kRecordWriteFailed.size(), 1023u);
  EXPECT_EQ(entries[0], kRecordWriteFailed + DescribeFileError(platform::kErrorAccessDenied, recordPath).substr(0, 1023));
}

}  // namespace
