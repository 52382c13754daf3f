// The main executable's file version: its text, which file is read, and what is left alone.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/patch_execute.h"
#include "discovery/exe_version.h"
#include "fake/fake_machine.h"
#include "run_under_test.h"

namespace {

// Members' values before a read, so "unchanged" can't pass by being empty.
constexpr wchar_t kExeVersionBefore[] = L"<exe version>";
constexpr wchar_t kExeRevisionBefore[] = L"<exe revision>";
constexpr wchar_t kAfterInstallBefore[] = L"<after install>";

platform::FileVersionWords Words(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                                 std::uint16_t revision) {
  return {static_cast<std::uint32_t>(major) << 16 | minor, static_cast<std::uint32_t>(build) << 16 | revision};
}

TEST(FormatVersionTextTest, Words_FourUnsignedDecimalParts) {
  const struct {
    platform::FileVersionWords words;
    const wchar_t* version;
    const wchar_t* revision;
  } kCases[] = {
      {Words(14, 0, 2, 1), L"14.0.2.1", L"1"},
      {Words(0, 0, 0, 0), L"0.0.0.0", L"0"},
      {Words(65535, 65535, 65535, 65535), L"65535.65535.65535.65535", L"65535"},
      // Parts with the top bit set stay positive.
      {Words(32768, 1, 40000, 32768), L"32768.1.40000.32768", L"32768"},
      {Words(14, 10, 0, 100), L"14.10.0.100", L"100"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.version)));
    EXPECT_EQ(FormatVersionText(row.words), row.version);
    EXPECT_EQ(FormatRevisionText(row.words), row.revision);
  }
}

class ExeVersionTest : public fake::FakeMachineTest {
 protected:
  // The constructor validates the installation itself; each read starts from a clean object on a
  // machine that saw none of that.
  void SetUp() override {
    fake::FakeMachineTest::SetUp();
    run_ = test::NewIdleRun({.m_strVersionAfterInstall = kAfterInstallBefore,
                             .m_strExeVersion = kExeVersionBefore,
                             .m_strExeRevision = kExeRevisionBefore});
  }
  CPatchExecute& run() { return *run_; }

 private:
  std::unique_ptr<CPatchExecute> run_;
};

struct ExecutableSetup {
  const wchar_t* path;
  std::optional<platform::FileVersionWords> version;  // none: no version resource
};

TEST_F(ExeVersionTest, Read_InstallFolderAndFiles_FileChosenAndMembersSet) {
  const struct {
    const char* name;
    std::wstring installPath;
    std::vector<ExecutableSetup> files;
    std::vector<std::wstring> existenceChecks;
    std::optional<std::wstring> version;  // none: members unchanged
    std::wstring revision;
  } kCases[] = {
      // Which name is used
      {"Vdt.exe first, vdt.exe never looked at",
       L"C:\\Vdt",
       {{L"C:\\Vdt\\Vdt.exe", Words(14, 0, 2, 1)}, {L"C:\\Vdt\\vdt.exe", Words(14, 0, 9, 9)}},
       {L"C:\\Vdt\\Vdt.exe"},
       L"14.0.2.1",
       L"1"},
      {"vdt.exe when Vdt.exe is absent",
       L"C:\\Vdt",
       {{L"C:\\Vdt\\vdt.exe", Words(14, 0, 3, 7)}},
       {L"C:\\Vdt\\Vdt.exe", L"C:\\Vdt\\vdt.exe"},
       L"14.0.3.7",
       L"7"},
      {"other casing isn't found", L"C:\\Vdt", {{L"C:\\Vdt\\VDT.EXE", Words(14, 0, 3, 7)}},
       {L"C:\\Vdt\\Vdt.exe", L"C:\\Vdt\\vdt.exe"}, std::nullopt, L""},
      {"neither", L"C:\\Vdt", {}, {L"C:\\Vdt\\Vdt.exe", L"C:\\Vdt\\vdt.exe"}, std::nullopt, L""},
      // The folder as stored
      {"trailing backslash doubled",
       L"C:\\Vdt\\",
       {{L"C:\\Vdt\\\\Vdt.exe", Words(14, 0, 2, 1)}},
       {L"C:\\Vdt\\\\Vdt.exe"},
       L"14.0.2.1",
       L"1"},
      {"empty folder names the drive root",
       L"",
       {{L"\\vdt.exe", Words(14, 0, 2, 1)}},
       {L"\\Vdt.exe", L"\\vdt.exe"},
       L"14.0.2.1",
       L"1"},
      // No usable version information
      {"Vdt.exe without version: no second look",
       L"C:\\Vdt",
       {{L"C:\\Vdt\\Vdt.exe", std::nullopt}, {L"C:\\Vdt\\vdt.exe", Words(14, 0, 2, 1)}},
       {L"C:\\Vdt\\Vdt.exe"},
       std::nullopt,
       L""},
      {"vdt.exe without version", L"C:\\Vdt", {{L"C:\\Vdt\\vdt.exe", std::nullopt}},
       {L"C:\\Vdt\\Vdt.exe", L"C:\\Vdt\\vdt.exe"}, std::nullopt, L""},
  };
  for (const bool afterInstall : {false, true}) {
    for (const auto& row : kCases) {
      SCOPED_TRACE(std::string(afterInstall ? "after install: " : "before: ") + row.name);
      SetUp();
      for (const auto& file : row.files) {
        machine().files[file.path].bytes = {'M', 'Z'};
        machine().files[file.path].version = file.version;
      }
      run().m_strInstallPath = row.installPath;

      if (afterInstall) {
        run().ReadExeVersionAfterInstall();
      } else {
        run().ReadExeVersion();
      }

      EXPECT_EQ(machine().existenceChecks, row.existenceChecks);
      const bool read = row.version.has_value();
      if (afterInstall) {
        EXPECT_EQ(run().m_strVersionAfterInstall, read ? *row.version : kAfterInstallBefore);
        EXPECT_EQ(run().m_strExeVersion, kExeVersionBefore);
        EXPECT_EQ(run().m_strExeRevision, kExeRevisionBefore);
      } else {
        EXPECT_EQ(run().m_strExeVersion, read ? *row.version : kExeVersionBefore);
        EXPECT_EQ(run().m_strExeRevision, read ? row.revision : kExeRevisionBefore);
        EXPECT_EQ(run().m_strVersionAfterInstall, kAfterInstallBefore);
      }
      EXPECT_EQ(run().m_strLog, L"");
      EXPECT_EQ(run().m_strInstallPath, row.installPath);
    }
  }
}

TEST_F(ExeVersionTest, ReadAfterInstall_ExecutableReplaced_SeesNewVersionOnly) {
  run().m_strInstallPath = L"C:\\Vdt";
  machine().AddExecutable(L"C:\\Vdt\\Vdt.exe", 14, 0, 2, 1);
  run().ReadExeVersion();
  machine().AddExecutable(L"C:\\Vdt\\Vdt.exe", 14, 0, 3, 12);

  run().ReadExeVersionAfterInstall();

  EXPECT_EQ(run().m_strExeVersion, L"14.0.2.1");
  EXPECT_EQ(run().m_strExeRevision, L"1");
  EXPECT_EQ(run().m_strVersionAfterInstall, L"14.0.3.12");
}

}  // namespace
