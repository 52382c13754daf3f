#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/patch_execute.h"
#include "companion/companion.h"
#include "descriptor/patch_descriptor.h"
#include "descriptor/whole_file.h"
#include "expected_texts.h"
#include "fake/fake_machine.h"
#include "run_under_test.h"
#include "platform/errors.h"

namespace {

constexpr wchar_t kPatchFolder[] = L"C:\\Patch";
constexpr wchar_t kDescriptorPath[] = L"C:\\Patch\\patchupdate.dat";
constexpr wchar_t kInstallerPath[] = L"C:\\Patch\\Update2Setup.exe";
constexpr std::uint32_t kErrorReadFault = 30;  // what a failing read reports on the fake machine

// The table rows below hold pointers.
const wchar_t* const kReadCompleted = expect::kDescriptorReadCompleted.c_str();
const wchar_t* const kReadFailed = expect::kDescriptorReadFailed.c_str();
const wchar_t* const kFound = expect::kKeysFound.c_str();
const wchar_t* const kExit1 = expect::kKeysExit1.c_str();
constexpr wchar_t kExit2[] = L"Patch updates read process: key values not found.Exit code 2.";
constexpr wchar_t kExit3[] = L"Patch update read process: key values not found.Exit code 3.";
constexpr wchar_t kExit4[] = L"Patch update read process: key values not found.Exit code 4.";
constexpr wchar_t kExit5[] = L"Patch update read process: key file not found.Exit code 5.";
const wchar_t* const kExit6 = expect::kKeysExit6.c_str();

// The lines of the conforming descriptor.
constexpr wchar_t kInfo[] = L"PatchInfo=Veldorant 14.0 Update 2";
constexpr wchar_t kFile[] = L"PatchFile=Update2Setup.exe";
constexpr wchar_t kVersion[] = L"PatchVersion=14.0.0.200";
constexpr wchar_t kPrevious[] = L"PreviousVersions=14.0.0.100, 14.0.0.150";
const std::string kConformingFile =
    "PatchInfo=Veldorant 14.0 Update 2\r\nPatchFile=Update2Setup.exe\r\nPatchVersion=14.0.0.200\r\n"
    "PreviousVersions=14.0.0.100, 14.0.0.150\r\n";

std::wstring Lines(std::initializer_list<std::wstring_view> lines) {
  std::wstring text;
  for (const auto line : lines) text.append(line).append(L"\r\n");
  return text;
}

class DescriptorTest : public fake::FakeMachineTest {};

TEST_F(DescriptorTest, ParsePatchDescriptor_DescriptorText_LogsItsBranchAndGivesValuesOnlyOnSuccess) {
  const struct {
    const char* name;
    std::wstring text;
    const wchar_t* entry;
    std::vector<std::wstring> previous = {L"14.0.0.100", L"14.0.0.150"};  // afterwards, also on failure
    std::wstring installer = L"Update2Setup.exe";  // looked up beside the utility once the values are there
    // Stored only on success.
    std::wstring info = L"Veldorant 14.0 Update 2";
    std::wstring file = L"Update2Setup.exe";
    std::wstring version = L"14.0.0.200";
    std::wstring revision = L"200";
  } kCases[] = {
      {.name = "ConformingExample", .text = Lines({kInfo, kFile, kVersion, kPrevious}), .entry = kFound},
      // A key missing.
      {.name = "KeyInAnotherCase",
       .text = Lines({L"patchinfo=Veldorant 14.0 Update 2", kFile, kVersion, kPrevious}),
       .entry = kExit1,
       .previous = {}},
      {.name = "EmptyText", .text = L"", .entry = kExit1, .previous = {}},
      // The installer's name.
      {.name = "UpperCaseExe",
       .text = Lines({kInfo, L"PatchFile=Update2Setup.EXE", kVersion, kPrevious}),
       .entry = kExit2,
       .previous = {}},
      {.name = "UpperCaseExeThenLowerCaseLater_SliceRunsAcrossKeys",
       .text = Lines({kInfo, L"PatchFile=Update2Setup.EXE", kVersion, L"PreviousVersions=14.0.0.100, Tool.exe"}),
       .entry = kExit5,
       .previous = {L"14.0.0.100", L"Tool.exe"},
       .installer = L"Update2Setup.EXEPatchVersion=14.0.0.200PreviousVersions=14.0.0.100, Tool.exe"},
      {.name = "TextAfterExeIgnored",
       .text = Lines({kInfo, L"PatchFile=Update2Setup.exe /silent, please", kVersion, kPrevious}),
       .entry = kFound},
      // Keys out of order.
      {.name = "PatchFileBeforePatchInfo",
       .text = Lines({kFile, kInfo, kVersion, kPrevious}),
       .entry = kExit3,
       .previous = {}},
      {.name = "PreviousVersionsBeforePatchVersion",
       .text = Lines({kInfo, kFile, kPrevious, kVersion}),
       .entry = kExit3,
       .previous = {}},
      // Empty values; the list is filled before the values are judged.
      {.name = "KeyWithColonInsteadOfEquals",
       .text = Lines({kInfo, kFile, L"PatchVersion: 14.0.0.200", kPrevious}),
       .entry = kExit4},
      {.name = "PatchInfoOnlyBlanks", .text = Lines({L"PatchInfo= \t ", kFile, kVersion, kPrevious}), .entry = kExit4},
      {.name = "PreviousVersionsOnlyCommasAndBlanks",
       .text = Lines({kInfo, kFile, kVersion, L"PreviousVersions= , ,, \t,"}),
       .entry = kExit4,
       .previous = {}},
      {.name = "PreviousVersionsEmpty",
       .text = Lines({kInfo, kFile, kVersion, L"PreviousVersions="}),
       .entry = kExit4,
       .previous = {}},
      // The installer beside the utility.
      {.name = "InstallerMissing",
       .text = Lines({kInfo, L"PatchFile=Update3Setup.exe", kVersion, kPrevious}),
       .entry = kExit5,
       .installer = L"Update3Setup.exe"},
      // Lines are joined, and each key owns the text up to the next.
      {.name = "CommentLineJoinedIntoPatchInfo",
       .text = Lines({kInfo, L"; built for the spring release", kFile, kVersion, kPrevious}),
       .entry = kFound,
       .info = L"Veldorant 14.0 Update 2; built for the spring release"},
      {.name = "ListOverSeveralLines",
       .text = Lines({kInfo, kFile, kVersion, L"PreviousVersions=14.0.0.100,", L"14.0.0.150,", L"  14.0.0.170"}),
       .entry = kFound,
       .previous = {L"14.0.0.100", L"14.0.0.150", L"14.0.0.170"}},
      {.name = "KeyNameInsideEarlierValue",
       .text = Lines({L"PatchInfo=Fixes the PatchFile check", kFile, kVersion, kPrevious}),
       .entry = kFound,
       .info = L"Fixes the"},
      {.name = "FurtherEqualsBelongsToValue",
       .text = Lines({L"PatchInfo=Build=2", kFile, kVersion, kPrevious}),
       .entry = kFound,
       .info = L"Build=2"},
      {.name = "TextBeforeEqualsAndWhiteSpaceAroundValuesIgnored",
       .text = Lines({L"[Patch]", L"PatchInfo (name)\t= Veldorant 14.0 Update 2 \v\f", kFile,
                      L"PatchVersion =\t14.0.0.200\t", kPrevious}),
       .entry = kFound},
      // The revision.
      {.name = "PatchVersionWithoutDot",
       .text = Lines({kInfo, kFile, L"PatchVersion=200", kPrevious}),
       .entry = kFound,
       .version = L"200",
       .revision = L""},
  };
  machine().AddFile(kInstallerPath, "MZ");

  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    machine().existenceChecks.clear();
    std::wstring log;
    descriptor::PatchDescriptor found;
    found.folder = kPatchFolder;

    descriptor::ParsePatchDescriptor(row.text, found, log);

    const bool success = std::wstring_view(row.entry) == kFound;
    EXPECT_EQ(test::LogEntries(log), std::vector<std::wstring>{row.entry});
    EXPECT_EQ(found.read, success);
    EXPECT_EQ(found.refusal, success ? L"" : row.entry);  // the one entry a refusal is judged by
    EXPECT_EQ(found.previous, row.previous);
    const bool valuesComplete = success || std::wstring_view(row.entry) == kExit5;
    EXPECT_EQ(machine().existenceChecks,
              valuesComplete ? std::vector<std::wstring>{std::wstring(kPatchFolder) + L"\\" + row.installer}
                             : std::vector<std::wstring>{});
    EXPECT_EQ(found.info, success ? row.info : L"");
    EXPECT_EQ(found.file, success ? row.file : L"");
    EXPECT_EQ(found.version, success ? row.version : L"");
    EXPECT_EQ(found.revision, success ? row.revision : L"");
  }
}

TEST_F(DescriptorTest, ReadPatchDescriptor_DescriptorFile_ReadsBesideTheUtilityAndLogsInOrder) {
  const std::vector<std::uint8_t> utf16 = fake::Utf16Bytes(Lines({kInfo, kFile, kVersion, kPrevious}));
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::wstring> entries;
    bool read = false;
    bool locked = false;
    bool readFails = false;
    bool installerIsFolder = false;
    // Why `PatchUpdateResult.exe rules` refuses it: the entry the utility's log is judged by.
    const wchar_t* refusal = nullptr;
    // What the rules for a descriptor it takes say besides the detection on PatchVersion.
    const wchar_t* rulesSay =
        L"    Key path: HKEY_LOCAL_MACHINE\\SOFTWARE\\Veldorant\\PatchUpdate\\Patches\\Veldorant 14.0 Update 2\n";
  } kCases[] = {
      {.name = "ConformingFile", .bytes = kConformingFile, .entries = {kReadCompleted, kFound}, .read = true},
      {.name = "LowestPreviousVersionByNumbersNotText",
       .bytes = "PatchInfo=Veldorant 14.0 Update 2\r\nPatchFile=Update2Setup.exe\r\nPatchVersion=14.0.0.200\r\n"
                "PreviousVersions=14.0.0.10, 14.0.0.9, 14.0.0.100\r\n",
       .entries = {kReadCompleted, kFound},
       .read = true,
       .rulesSay = L"a Vdt.exe below 14.0.0.9 or between the listed versions with 1642"},
      {.name = "Utf8WithBom_MarkStandsBeforeFirstKey",
       .bytes = "\xEF\xBB\xBF" + kConformingFile,
       .entries = {kReadCompleted, kFound},
       .read = true},
      // No key in what was read.
      {.name = "Utf16File",
       .bytes = std::string(utf16.begin(), utf16.end()),
       .entries = {kReadCompleted, kExit1},
       .refusal = kExit1},
      {.name = "EmptyFile", .bytes = "", .entries = {kReadCompleted, kExit1}, .refusal = kExit1},
      {.name = "ZeroByteEndsTheText",
       .bytes = "PatchInfo=Veldorant 14.0 Update 2" + std::string(1, '\0') + kConformingFile.substr(33),
       .entries = {kReadCompleted, kExit1},
       .refusal = kExit1},
      // The file can't be read: the system's reason, then the failure, then no key.
      {.name = "LockedFile",
       .bytes = kConformingFile,
       .entries = {DescribeFileError(platform::kErrorSharingViolation, kDescriptorPath), kReadFailed, kExit1},
       .locked = true,
       .refusal = kReadFailed},
      {.name = "ReadFails",
       .bytes = kConformingFile,
       .entries = {DescribeFileError(kErrorReadFault, kDescriptorPath), kReadFailed, kExit1},
       .readFails = true,
       .refusal = kReadFailed},
      // A folder named like the installer is no installer: launching it would open a window to wait on.
      {.name = "InstallerIsAFolder",
       .bytes = kConformingFile,
       .entries = {kReadCompleted, kExit5},
       .installerIsFolder = true,
       .refusal = kExit5},
  };

  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    machine().AddFile(kInstallerPath, "MZ");
    machine().AddFile(kDescriptorPath, row.bytes);
    machine().files[kDescriptorPath].locked = row.locked;
    machine().files[kDescriptorPath].readFails = row.readFails;
    machine().files[kInstallerPath].isFolder = row.installerIsFolder;
    auto run = test::NewIdleRun();

    run->ReadPatchDescriptor();

    EXPECT_EQ(test::LogEntries(run->m_strLog), row.entries);
    EXPECT_EQ(run->m_bPatchInfoRead, row.read);
    EXPECT_EQ(run->m_strPatchFolder, kPatchFolder);
    EXPECT_EQ(run->m_strPatchInfo, row.read ? L"Veldorant 14.0 Update 2" : L"");

    // PatchUpdateResult.exe beside it prints the rules for a descriptor the utility takes, and the
    // utility's reason for one it refuses.
    machine().console.clear();
    machine().modulePath = L"C:\\Patch\\PatchUpdateResult.exe";
    EXPECT_EQ(RunCompanion({L"rules"}), row.read ? 0 : 1620);
    // Taken: the registry requirement on the product key, the file detection and the record's.
    const std::vector<std::wstring> said =
        row.read ? std::vector<std::wstring>{
                       L"    Key path: HKEY_LOCAL_MACHINE\\SOFTWARE\\KORVEN Software Inc.\\VeldoRant\\14.0\n"
                       L"    Value name: Version\n    Registry key requirement: String comparison\n    Operator: Equals\n"
                       L"    Value: 14.0\n    Associated with a 32-bit app on 64-bit clients: Yes",
                       L"    Hive: HKEY_LOCAL_MACHINE\n    Key: SOFTWARE\\KORVEN Software Inc.\\VeldoRant\\14.0\n"
                       L"    Value: Version\n",
                       L"Detection method: String (version)\n    Operator: Greater than or equal to\n    Value: 14.0.0.200\n",
                       L"    Value name: ExitCode\n    Detection method: Integer comparison\n    Operator: Equals\n"
                       L"    Value: 0\n",
                       L"    Key: SOFTWARE\\Veldorant\\PatchUpdate\\Patches\\Veldorant 14.0 Update 2\n    Value: ExitCode, "
                       L"data type Integer\n"}
                 : std::vector<std::wstring>{std::wstring(L"PatchUpdateResult: this package's patchupdate.dat is refused: ") +
                                             row.refusal + L"\n"};
    for (const auto& text : said) EXPECT_NE(machine().console.find(text), std::wstring::npos) << machine().console.size();
    // Nothing in the rules depends on the install folder but the default-folder detection.
    EXPECT_EQ(machine().console.find(L"Requirement rule (additional), rule type File"), std::wstring::npos);
    if (row.read) {
      EXPECT_NE(machine().console.find(row.rulesSay), std::wstring::npos) << machine().console.size();
    }
  }
}

TEST_F(DescriptorTest, ReadPatchDescriptor_NoDescriptor_LogsOnlyExitCode6AndKeepsFolderEmpty) {
  machine().AddFile(kInstallerPath, "MZ");
  auto run = test::NewIdleRun();

  run->ReadPatchDescriptor();

  EXPECT_EQ(test::LogEntries(run->m_strLog), std::vector<std::wstring>{kExit6});
  EXPECT_FALSE(run->m_bPatchInfoRead);
  EXPECT_EQ(run->m_strPatchFolder, L"");
  EXPECT_EQ(machine().existenceChecks, std::vector<std::wstring>{kDescriptorPath});

  machine().modulePath = L"C:\\Patch\\PatchUpdateResult.exe";
  EXPECT_EQ(RunCompanion({L"rules"}), 1620);
  EXPECT_EQ(machine().console, std::wstring(L"PatchUpdateResult: this package's patchupdate.dat is refused: ") + kExit6 + L"\n");
}

TEST_F(DescriptorTest, ReadPatchDescriptor_UtilityInAnotherFolder_LooksForBothFilesThere) {
  machine().modulePath = L"D:\\Tools\\Patch Kit\\PatchUpdate.exe";
  machine().AddFile(L"D:\\Tools\\Patch Kit\\patchupdate.dat", kConformingFile);
  machine().AddFile(L"D:\\Tools\\Patch Kit\\Update2Setup.exe", "MZ");
  auto run = test::NewIdleRun();

  run->ReadPatchDescriptor();

  EXPECT_TRUE(run->m_bPatchInfoRead);
  EXPECT_EQ(run->m_strPatchFolder, L"D:\\Tools\\Patch Kit");
  const std::vector<std::wstring> checked = {L"D:\\Tools\\Patch Kit\\patchupdate.dat",
                                             L"D:\\Tools\\Patch Kit\\Update2Setup.exe"};
  EXPECT_EQ(machine().existenceChecks, checked);
}

TEST_F(DescriptorTest, ReadWholeFile_ForRecord_UsesTheRecordWording) {
  const std::wstring path = L"C:\\Veldorant\\installedupdates.dat";
  const struct {
    const char* name;
    bool present;
    bool locked;
    std::wstring text;
    std::vector<std::wstring> entries;
  } kCases[] = {
      {"Readable", true, false, L"Veldorant 14.0 Update 1", {L"Read local installer update file completed."}},
      {"Missing",
       false,
       false,
       L"",
       {DescribeFileError(platform::kErrorFileNotFound, path), L"Read local installer update file failed."}},
      {"Locked",
       true,
       true,
       L"",
       {DescribeFileError(platform::kErrorSharingViolation, path), L"Read local installer update file failed."}},
  };

  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    if (row.present) {
      machine().AddFile(path, "Veldorant 14.0 Update 1");
      machine().files[path].locked = row.locked;
    }
    auto run = test::NewIdleRun();

    EXPECT_EQ(run->ReadWholeFile(path, true), row.text);
    EXPECT_EQ(test::LogEntries(run->m_strLog), row.entries);
  }
}

TEST_F(DescriptorTest, DescribeFileError_AnyPath_NamesCauseAndFileWithinTheBuffer) {
  const std::wstring cause = platform::SystemErrorText(platform::kErrorSharingViolation);
  const std::wstring shortText = DescribeFileError(platform::kErrorSharingViolation, kDescriptorPath);
  EXPECT_EQ(shortText.find(cause), 0u);
  EXPECT_NE(shortText.find(kDescriptorPath), std::wstring::npos);

  const std::wstring longPath = L"C:\\" + std::wstring(600, L'x') + L"\\patchupdate.dat";
  const std::wstring longText = DescribeFileError(platform::kErrorSharingViolation, longPath);
  EXPECT_EQ(longText.size(), kFileErrorTextChars - 1);
  EXPECT_EQ(longText.find(cause), 0u);
}

TEST_F(DescriptorTest, GetKeyValue_Slice_TakesTrimmedTextAfterFirstSeparator) {
  const struct {
    const wchar_t* slice;
    const wchar_t* value;
  } kCases[] = {
      {L"PatchFile=Update2Setup.exe", L"Update2Setup.exe"},
      {L"PatchFile", L""},
      {L"PatchFile:Update2Setup.exe", L""},
      {L"PatchFile=", L""},
      {L"PatchInfo=a=b", L"a=b"},
      {L"PatchInfo = \t\r\n\v\f Update 2 \f\v\n\r\t ", L"Update 2"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.slice);
    EXPECT_EQ(GetKeyValue(row.slice, L"="), row.value);
  }
}

TEST_F(DescriptorTest, SplitPreviousVersions_BlankEntries_LeftOut) {
  EXPECT_EQ(descriptor::SplitPreviousVersions(L"14.0.0.100"), std::vector<std::wstring>{L"14.0.0.100"});
  EXPECT_TRUE(descriptor::SplitPreviousVersions(L" , ").empty());
}

}  // namespace
