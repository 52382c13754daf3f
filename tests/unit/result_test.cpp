// The companion's reading of a run: real runs of the utility on the fake machine, each log and console
// it produced read back into one outcome and exit code.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fake/fake_machine.h"
#include "fake/fleet_sample.h"
#include "fake/sample_installation.h"
#include "result/fleet_report.h"
#include "result/kept_runs.h"
#include "result/log_reading.h"
#include "result/outcome.h"
#include "result/outcome_file.h"
#include "run_log_expect.h"

namespace {

using namespace fake::sample;
using result::Outcome;

constexpr char kPatchInfo[] = "Veldorant 14.0 Update 2";

std::string Name(Outcome outcome) { return result::ToUtf8(result::OutcomeName(outcome)); }

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The sample installation with an older record and the sample package: the run installs the patch.
void Installable(fake::Machine& m) {
  InstallProduct(m);
  PutPatchPackage(m);
  m.AddFile(kRecordPath, "Veldorant 14.0 Update 1");
}

class ResultTest : public fake::FakeMachineTest {
 protected:
  // Runs the utility on a fresh machine set up by `setUp`; the log it wrote, "" when none.
  std::string Run(const std::function<void(fake::Machine&)>& setUp) {
    fake::ResetMachine();
    setUp(machine());
    RunPatchUpdate();
    return machine().FileText(expect::kLogPath);
  }
};

TEST_F(ResultTest, ReadRunLog_EveryWayARunEnds_OneOutcomeAndItsExitCode) {
  const struct {
    const char* name;
    std::function<void(fake::Machine&)> setUp;
    Outcome outcome;
    std::uint32_t exitCode;
    Outcome fromConsole;  // what the console alone tells, for a run whose log is missing
  } kCases[] = {
      // --- the patch is on the machine ---
      {"installed and verified", Installable, Outcome::kApplied, 0, Outcome::kApplied},
      {"executable already at PatchVersion",
       [](fake::Machine& m) {
         Installable(m);
         m.AddExecutable(kProductExe, 14, 0, 0, 200);
       },
       Outcome::kAlreadyApplied, 0, Outcome::kAlreadyApplied},
      {"record names the patch",
       [](fake::Machine& m) {
         Installable(m);
         m.AddFile(kRecordPath, kPatchInfo);
       },
       Outcome::kAlreadyApplied, 0, Outcome::kAlreadyApplied},
      {"no record, installed revision not below the patch's",
       [](fake::Machine& m) {
         Installable(m);
         m.files.erase(kRecordPath);
         m.AddFile(kDescriptorPath,
                   "PatchInfo=Veldorant 14.0 Update 2\r\nPatchFile=Update2Setup.exe\r\nPatchVersion=14.0.0.50\r\n"
                   "PreviousVersions=14.0.0.100\r\n");
       },
       Outcome::kAlreadyApplied, 0, Outcome::kAlreadyApplied},

      // --- try again later ---
      {"product running",
       [](fake::Machine& m) {
         Installable(m);
         m.processes = std::vector<std::wstring>{L"Vdt.exe"};
       },
       Outcome::kBlocked, 1618, Outcome::kBlocked},

      // --- the install attempt failed ---
      {"launch refused (1223)",
       [](fake::Machine& m) {
         Installable(m);
         m.launchError = 1223;
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"launch error outside the known set (1460)",
       [](fake::Machine& m) {
         Installable(m);
         m.launchError = 1460;
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"installer left the old version (mismatch)",
       [](fake::Machine& m) {
         Installable(m);
         m.installer = [](fake::Machine&) {};
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"installer removed the executable (cancelled)",
       [](fake::Machine& m) {
         Installable(m);
         m.installer = [](fake::Machine& after) { after.files.erase(kProductExe); };
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"record not written",
       [](fake::Machine& m) {
         Installable(m);
         m.replaceErrors[kRecordPath] = 5;
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"install path with a double quote",
       [](fake::Machine& m) {
         Installable(m);
         m.SetRegistryString(kProductKey, L"Installpath", L"C:\\Q\"x");
         m.AddExecutable(L"C:\\Q\"x\\Vdt.exe", 14, 0, 0, 100);
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},

      // --- the package is broken ---
      {"no descriptor",
       [](fake::Machine& m) {
         Installable(m);
         m.files.erase(kDescriptorPath);
       },
       Outcome::kBrokenPackage, 1620, Outcome::kNoLog},
      {"descriptor held open by another program",
       [](fake::Machine& m) {
         Installable(m);
         m.files[kDescriptorPath].locked = true;
       },
       Outcome::kBrokenPackage, 1620, Outcome::kNoLog},
      {"descriptor without keys",
       [](fake::Machine& m) {
         Installable(m);
         m.AddFile(kDescriptorPath, "not a descriptor");
       },
       Outcome::kBrokenPackage, 1620, Outcome::kNoLog},
      {"installer missing beside the utility",
       [](fake::Machine& m) {
         Installable(m);
         m.files.erase(kInstallerPath);
       },
       Outcome::kBrokenPackage, 1620, Outcome::kNoLog},

      // --- nothing to do on this machine ---
      {"product not installed, package broken as well",
       [](fake::Machine& m) { PutPatchPackage(m); },
       Outcome::kNotApplicable, 1642, Outcome::kNotApplicable},
      {"another product version installed",
       [](fake::Machine& m) {
         Installable(m);
         m.SetRegistryString(kProductKey, L"Version", L"14.1");
       },
       Outcome::kNotApplicable, 1642, Outcome::kNoLog},
      {"executable version not among PreviousVersions",
       [](fake::Machine& m) {
         Installable(m);
         m.AddExecutable(kProductExe, 14, 0, 0, 90);
       },
       Outcome::kNotApplicable, 1642, Outcome::kNotApplicable},

      // --- the installation itself is damaged ---
      {"uninstall entry without DisplayIcon",
       [](fake::Machine& m) {
         Installable(m);
         m.registry.erase(kUninstallKey);
       },
       Outcome::kProductIncomplete, 1603, Outcome::kProductIncomplete},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    const std::string log = Run(row.setUp);
    ASSERT_FALSE(log.empty());

    const result::Reading reading = result::ReadRunLog(Bytes(log));
    EXPECT_EQ(Name(reading.outcome), Name(row.outcome)) << result::ToUtf8(reading.reason);
    EXPECT_EQ(result::ExitCodeOf(reading.outcome), row.exitCode);
    // The reason is the deciding entry, word for word as the log has it.
    ASSERT_FALSE(reading.reason.empty());
    EXPECT_NE(log.find(result::ToUtf8(reading.reason) + "\r\n"), std::string::npos) << result::ToUtf8(reading.reason);
    EXPECT_EQ(reading.logDate, L"Monday 14:05, December 07, 2026");

    const result::Reading console = result::ReadConsole(machine().console);
    EXPECT_EQ(Name(console.outcome), Name(row.fromConsole)) << result::ToUtf8(console.reason);
  }
}

TEST_F(ResultTest, ReadRunLog_NoCompleteLogOfTheUtility_UnreadableWithReason) {
  const std::string log = Run(Installable);
  std::string utf16;
  for (const char c : log) utf16 += std::string{c, '\0'};
  const struct {
    const char* name;
    std::string bytes;
    const wchar_t* reason;
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
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    const result::Reading reading = result::ReadRunLog(Bytes(row.bytes));
    EXPECT_EQ(Name(reading.outcome), "unreadable");
    EXPECT_EQ(result::ExitCodeOf(reading.outcome), 1622u);
    EXPECT_FALSE(reading.reason.empty());
    if (row.reason != nullptr) {
      EXPECT_EQ(reading.reason, row.reason);
    }
  }
  // The same log with bare line feeds, as a copy through a tool that converts line ends, still reads.
  std::string unix;
  for (const char c : log) {
    if (c != '\r') unix += c;
  }
  EXPECT_EQ(result::ReadRunLog(Bytes(unix)).outcome, Outcome::kApplied);
}

TEST_F(ResultTest, ReadConsole_StartUpFailed_NoLogWithTheFatalLine) {
  const struct {
    const char* name;
    bool hasModuleHandle;
    const wchar_t* reason;
  } kCases[] = {
      {"no module handle", false, L"Fatal Error: GetModuleHandle failed"},
      {"framework initialisation fails", true, L"Fatal Error: MFC initialization failed"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    machine().hasModuleHandle = row.hasModuleHandle;
    machine().initializeSucceeds = false;
    EXPECT_EQ(RunPatchUpdate(), 1);
    const result::Reading reading = result::ReadConsole(machine().console);
    EXPECT_EQ(reading.outcome, Outcome::kNoLog);
    EXPECT_EQ(result::ExitCodeOf(reading.outcome), 1622u);
    EXPECT_EQ(reading.reason, row.reason);
  }
}

TEST_F(ResultTest, OutcomeRecord_WrittenThenRead_SameFields) {
  const struct {
    const char* name;
    std::wstring text;
  } kCases[] = {
      {"plain ASCII", L"Execute patch process silent: Completed successfully."},
      {"quotes, backslashes and control characters", L"C:\\Patch \"x\"\r\n\t"},
      {"outside ASCII, beyond the basic plane", L"Mu\u00dfe \u20ac \U0001F600"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    result::OutcomeRecord record;
    record.machine = L"PC-" + row.text;
    record.time = L"2026-12-09T03:30:05";
    record.outcome = Outcome::kInstallFailed;
    record.code = 1603;
    record.reason = row.text;
    record.patch = row.text;
    record.patchVersion = L"14.0.0.200";
    record.versionBefore = L"14.0.0.100";
    record.versionAfter = L"14.0.0.100";
    const std::string line = result::FormatOutcomeRecord(record);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const auto read = result::ParseOutcomeRecord(line);
    ASSERT_TRUE(read.has_value()) << line;
    EXPECT_EQ(read->machine, record.machine);
    EXPECT_EQ(read->time, record.time);
    EXPECT_EQ(read->outcome, record.outcome);
    EXPECT_EQ(read->code, record.code);
    EXPECT_EQ(read->reason, record.reason);
    EXPECT_EQ(read->patch, record.patch);
    EXPECT_EQ(read->versionBefore, record.versionBefore);
    EXPECT_EQ(read->versionAfter, record.versionAfter);
  }
}

TEST_F(ResultTest, ParseOutcomeRecord_NotAnOutcomeLine_Nothing) {
  const struct {
    const char* name;
    const char* text;
  } kCases[] = {
      {"empty", ""},
      {"unknown outcome", R"({"outcome": "fine", "code": 0})"},
      {"no outcome", R"({"machine": "PC01"})"},
      {"cut short", R"({"machine": "PC01", "outcome": "applied")"},
      {"two objects", R"({"outcome": "applied"}{"outcome": "applied"})"},
      {"nested object", R"({"outcome": "applied", "x": {}})"},
      {"bad escape", R"({"outcome": "applied", "reason": "\q"})"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_FALSE(result::ParseOutcomeRecord(row.text).has_value());
  }
}

}  // namespace

namespace {

class FleetReportTest : public fake::FakeMachineTest {};

TEST_F(FleetReportTest, BuildFleetReport_ThousandCollectedMachines_TotalsMatchWhatWasWritten) {
  const auto folder = std::filesystem::temp_directory_path() / ("fleet_report_test_" + std::to_string(::getpid()));
  const auto expected = fake::fleet::WriteFleet(folder, 1000);

  const result::FleetReport report = result::BuildFleetReport(folder);

  EXPECT_EQ(report.rows.size(), 1000u);
  EXPECT_EQ(report.machineCount, 1000u);
  for (const Outcome outcome : result::kAllOutcomes) {
    SCOPED_TRACE(Name(outcome));
    const auto it = report.machines.find(outcome);
    EXPECT_EQ(it == report.machines.end() ? 0 : it->second.size(), expected.at(outcome));
  }
  // Machine names come from the folder, the renamed file and the prefixed file alike.
  for (const char* machine : {"PC10000", "PC10001", "PC10002", "PC10007"}) {
    bool found = false;
    for (const auto& row : report.rows) found |= result::ToUtf8(row.machine) == machine;
    EXPECT_TRUE(found) << machine;
  }
  const std::string csv = result::FormatReportCsv(report);
  EXPECT_EQ(static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')), 1001u);
  std::filesystem::remove_all(folder);
}

TEST_F(FleetReportTest, BuildFleetReport_SeveralRunsOfOneMachine_NewestCounts) {
  const auto folder = std::filesystem::temp_directory_path() / ("fleet_newest_test_" + std::to_string(::getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "PC01" / "Results");
  const struct {
    const char* file;
    const char* time;
    Outcome outcome;
  } kRuns[] = {
      {"outcome.20261207-101500.json", "2026-12-07T10:15:00", Outcome::kBlocked},
      {"outcome.20261209-033005.json", "2026-12-09T03:30:05", Outcome::kApplied},
      {"outcome.20261208-090000.json", "2026-12-08T09:00:00", Outcome::kInstallFailed},
  };
  for (const auto& run : kRuns) {
    result::OutcomeRecord record;
    record.time = std::wstring(run.time, run.time + std::strlen(run.time));
    record.outcome = run.outcome;
    std::ofstream(folder / "PC01" / "Results" / run.file) << result::FormatOutcomeRecord(record);
  }
  std::ofstream(folder / "PC01" / "Results" / "junk.txt") << "not a log";

  const result::FleetReport report = result::BuildFleetReport(folder);

  EXPECT_EQ(report.rows.size(), 4u);
  EXPECT_EQ(report.machineCount, 1u);
  ASSERT_EQ(report.machines.size(), 1u);
  EXPECT_EQ(Name(report.machines.begin()->first), "applied");
  EXPECT_EQ(report.machines.begin()->second, std::vector<std::wstring>{L"PC01"});
  std::filesystem::remove_all(folder);
}

}  // namespace

namespace {

// Both files of each of `count` runs, a minute apart, oldest first.
std::vector<std::wstring> SavedRuns(int count) {
  std::vector<std::wstring> names;
  for (int i = 0; i < count; ++i) {
    const std::wstring stamp = L"20261209-" + std::to_wstring(100000 + i * 100).substr(0, 6);
    names.push_back(result::KeptLogName(stamp));
    names.push_back(result::OutcomeFileName(stamp));
  }
  return names;
}

TEST(KeptRunsTest, RunsToRemove_SavedRuns_AllButTheNewestTwenty) {
  const struct {
    const char* name;
    std::vector<std::wstring> names;
    std::vector<std::wstring> removed;
  } kCases[] = {
      {"twenty runs, both files each: nothing goes", SavedRuns(20), {}},
      {"twenty-two runs: the two oldest go with both their files", SavedRuns(22),
       {SavedRuns(22)[0], SavedRuns(22)[1], SavedRuns(22)[2], SavedRuns(22)[3]}},
      {"a run whose log copy is missing still counts once",
       [] {
         auto names = SavedRuns(21);
         names.erase(names.begin() + 10);
         return names;
       }(),
       {SavedRuns(21)[0], SavedRuns(21)[1]}},
      {"other files are never removed",
       [] {
         auto names = SavedRuns(21);
         names.insert(names.begin(), {L"notes.txt", L"outcome.json", L"Log_VDT_14_PatchUpdate.txt"});
         return names;
       }(),
       {SavedRuns(21)[0], SavedRuns(21)[1]}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(result::RunsToRemove(row.names, result::kKeptRuns), row.removed);
  }
}

}  // namespace
