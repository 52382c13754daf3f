// The companion's reading of a run: real runs of the utility on the fake machine, each log and console
// it produced read back into one outcome and exit code.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "companion/companion.h"
#include "fake/fake_machine.h"
#include "fake/fleet_sample.h"
#include "fake/sample_installation.h"
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

constexpr wchar_t kCompanionPath[] = L"C:\\Patch\\PatchUpdateResult.exe";
constexpr wchar_t kResults[] = L"C:\\ProgramData\\Veldorant\\PatchUpdate\\Results";
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
// The fake clock's moment as the companion stamps its files.
constexpr wchar_t kStamp[] = L"20261207-140500";

// The sample installation with an older record and the sample package: the run installs the patch.
void Installable(fake::Machine& m) {
  InstallProduct(m);
  PutPatchPackage(m);
  m.AddFile(kRecordPath, "Veldorant 14.0 Update 1");
}

// A REG_MULTI_SZ value's bytes: each string with its NUL, then the list's own NUL.
std::vector<std::uint8_t> MultiString(const std::vector<std::wstring>& strings) {
  std::vector<std::uint8_t> bytes;
  for (const auto& text : strings) {
    const auto one = fake::Utf16Bytes(text);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

// What the installer leaves for the next restart, as MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT records it.
void SchedulePending(fake::Machine& m, std::vector<std::uint8_t> bytes, std::uint32_t type = 7) {
  m.registry[kSessionManager].values[kPendingValue] = std::move(bytes);
  m.registry[kSessionManager].types[kPendingValue] = type;
}

// The installer could replace nothing in place: the new Vdt.exe waits for the next restart.
void VdtWaitsForRestart(fake::Machine& m) {
  Installable(m);
  m.installer = [](fake::Machine& after) {
    after.AddExecutable(L"C:\\Program Files\\Veldorant 14.0\\Vdt.exe.new", 14, 0, 0, 200);
    SchedulePending(after, MultiString({L"\\??\\C:\\Program Files\\Veldorant 14.0\\Vdt.exe.new",
                                        L"!\\??\\C:\\Program Files\\Veldorant 14.0\\VDT.EXE"}));
  };
}

// The sample install whose installer leaves this value for the next restart, and Vdt.exe as it was
// (a mismatch) or, with `applies`, at the patch's version.
std::function<void(fake::Machine&)> LeavesPending(std::vector<std::uint8_t> bytes, std::uint32_t type = 7,
                                                  bool applies = false) {
  return [bytes, type, applies](fake::Machine& m) {
    Installable(m);
    m.installer = [bytes, type, applies](fake::Machine& after) {
      if (applies) after.AddExecutable(kProductExe, 14, 0, 0, 200);
      SchedulePending(after, bytes, type);
    };
  };
}

// VdtWaitsForRestart, with the new Vdt.exe's pair after `othersBytes` of renames of other programs' files.
std::function<void(fake::Machine&)> WaitsAfterOthers(std::size_t othersBytes) {
  return [othersBytes](fake::Machine& m) {
    VdtWaitsForRestart(m);
    m.installer = [othersBytes](fake::Machine& after) {
      after.AddExecutable(L"C:\\Program Files\\Veldorant 14.0\\Vdt.exe.new", 14, 0, 0, 200);
      std::vector<std::wstring> pairs;
      const std::wstring other = L"\\??\\C:\\Program Files\\Other\\component-with-a-long-name.dll";
      for (std::size_t bytes = 0; bytes < othersBytes; bytes += (other.size() + 2) * 2 * 2) {
        pairs.push_back(other + L".new");
        pairs.push_back(L"!" + other);
      }
      pairs.push_back(L"\\??\\C:\\Program Files\\Veldorant 14.0\\Vdt.exe.new");
      pairs.push_back(L"!\\??\\C:\\Program Files\\Veldorant 14.0\\VDT.EXE");
      SchedulePending(after, MultiString(pairs));
    };
  };
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

  // Runs PatchUpdateResult beside the utility on a fresh machine set up by `setUp`; its exit code.
  int RunThroughCompanion(const std::function<void(fake::Machine&)>& setUp) {
    fake::ResetMachine();
    setUp(machine());
    machine().modulePath = kCompanionPath;
    // A row may play the utility itself, to change the machine after it ended.
    if (!machine().child) machine().child = [](fake::Machine&) { return static_cast<std::uint32_t>(RunPatchUpdate()); };
    return RunCompanion({});
  }

  // A registry value of the companion's record as text (a DWORD as its number); "" when absent.
  std::wstring RecordValue(const std::wstring& key, const std::wstring& name) {
    const auto state = machine().registry.find(key);
    if (state == machine().registry.end() || state->second.values.count(name) == 0) return {};
    const auto& bytes = state->second.values.at(name);
    if (state->second.types.at(name) == 4) {
      return std::to_wstring(static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
                             static_cast<std::uint32_t>(bytes[3]) << 24);
    }
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
  }
};

TEST_F(ResultTest, ReadRunLog_EveryWayARunEnds_OneOutcomeAndItsExitCode) {
  const struct {
    const char* name;
    std::function<void(fake::Machine&)> setUp;
    Outcome outcome;
    std::uint32_t exitCode;
    Outcome fromConsole;  // what the console alone tells, for a run whose log is missing
    // Through PatchUpdateResult, where that differs: what waits for a restart settles some runs.
    std::optional<Outcome> throughCompanion = std::nullopt;
    std::optional<std::uint32_t> companionCode = std::nullopt;
    std::vector<std::wstring> reasonSays = {};  // parts of the companion's reason
    const wchar_t* consoleSays = nullptr;       // the companion's line before the utility's console
  } kCases[] = {
      // --- the patch is on the machine ---
      {"installed and verified", Installable, Outcome::kApplied, 0, Outcome::kApplied},
      {"executable already at PatchVersion",
       [](fake::Machine& m) {
         Installable(m);
         m.AddExecutable(kProductExe, 14, 0, 0, 200);
       },
       Outcome::kAlreadyApplied, 0, Outcome::kAlreadyApplied},

      // --- what the utility decided, held against Vdt.exe's version afterwards ---
      {"record names the patch, Vdt.exe at a previous version (stale record)",
       [](fake::Machine& m) {
         Installable(m);
         m.AddFile(kRecordPath, kPatchInfo);
       },
       Outcome::kAlreadyApplied, 0, Outcome::kAlreadyApplied, Outcome::kStaleRecord, 1603,
       {L"This patch update has been already applied. (decided by installedupdates.dat, the installed-update record); "
        L"but Vdt.exe in C:\\Program Files\\Veldorant 14.0 carries 14.0.0.100, below PatchVersion 14.0.0.200"}},
      {"no record, revision not below the patch's, version below it (stale by revision)",
       [](fake::Machine& m) {
         Installable(m);
         m.files.erase(kRecordPath);
         m.AddFile(kDescriptorPath,
                   "PatchInfo=Veldorant 14.0 Update 2\r\nPatchFile=Update2Setup.exe\r\nPatchVersion=14.1.0.50\r\n"
                   "PreviousVersions=14.0.0.100\r\n");
       },
       Outcome::kAlreadyApplied, 0, Outcome::kAlreadyApplied, Outcome::kStaleRecord, 1603,
       {L"(decided by Vdt.exe's revision; no installed-update record); but Vdt.exe in C:\\Program Files\\Veldorant 14.0 carries 14.0.0.100, "
        L"below PatchVersion 14.1.0.50"}},
      {"installed and verified, then Vdt.exe rolled back before the companion looked",
       [](fake::Machine& m) {
         Installable(m);
         m.child = [](fake::Machine& c) {
           const auto code = static_cast<std::uint32_t>(RunPatchUpdate());
           c.AddExecutable(kProductExe, 14, 0, 0, 100);
           return code;
         };
       },
       Outcome::kApplied, 0, Outcome::kApplied, Outcome::kStaleRecord, 1603,
       {L"Completed successfully.; but Vdt.exe in C:\\Program Files\\Veldorant 14.0 carries 14.0.0.100, below PatchVersion 14.0.0.200"}},
      {"Vdt.exe above PatchVersion: a later patch is on it",
       [](fake::Machine& m) {
         Installable(m);
         m.AddExecutable(kProductExe, 14, 0, 1, 7);
       },
       Outcome::kNotApplicable, 1642, Outcome::kNotApplicable, Outcome::kLaterVersion, 0,
       {L"Vdt.exe in C:\\Program Files\\Veldorant 14.0 carries 14.0.1.7, at or above PatchVersion 14.0.0.200 (a later patch is installed)"}},
      {"product registered, no Vdt.exe in its folder",
       [](fake::Machine& m) {
         Installable(m);
         m.files.erase(kProductExe);
       },
       Outcome::kNotApplicable, 1642, Outcome::kNotApplicable, Outcome::kProductIncomplete, 1603,
       {L"; Veldorant 14.0 is registered, but there is no Vdt.exe with a file version in C:\\Program Files\\Veldorant 14.0"}},

      // --- one run at a time ---
      {"another run holds the run lock",
       [](fake::Machine& m) {
         Installable(m);
         m.runLock = fake::Machine::RunLock::kHeld;
         m.SetRegistryString(L"SOFTWARE\\Veldorant\\PatchUpdate", L"RunStarted", L"2026-12-07T14:01:00");
       },
       Outcome::kApplied, 0, Outcome::kApplied, Outcome::kRunInProgress, 1618,
       {L"another run of PatchUpdateResult.exe is in progress on this machine; PatchUpdate.exe was not started "
        L"(running since 2026-12-07T14:01:00)"}},
      {"the run that held the lock died: its lock is free",
       [](fake::Machine& m) {
         Installable(m);
         m.runLock = fake::Machine::RunLock::kAbandoned;
       },
       Outcome::kApplied, 0, Outcome::kApplied},
      {"a user made the lock's name first: said, never waited for",
       [](fake::Machine& m) {
         Installable(m);
         m.runLock = fake::Machine::RunLock::kForeign;
       },
       Outcome::kApplied, 0, Outcome::kApplied, std::nullopt, std::nullopt, {},
       L"PatchUpdateResult: the run lock Global\\Veldorant.PatchUpdateResult.Run was made by another account; this "
       L"run goes on without it\n"},
      {"the lock can't be made: said, the run goes on",
       [](fake::Machine& m) {
         Installable(m);
         m.runLockError = 1450;
       },
       Outcome::kApplied, 0, Outcome::kApplied, std::nullopt, std::nullopt, {},
       L"PatchUpdateResult: the run lock could not be taken (error 1450); this run goes on without it\n"},
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

      // --- the installer left files for the next restart ---
      {"new Vdt.exe scheduled for the restart (the old version seen: mismatch)", VdtWaitsForRestart,
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed, Outcome::kRestartPending, 3010},
      {"new Vdt.exe scheduled after 6 MiB of a server's other renames: read whole", WaitsAfterOthers(6U << 20),
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed, Outcome::kRestartPending, 3010},
      {"renames waiting past the 32 MiB bound: said, not taken as empty", WaitsAfterOthers(33U << 20),
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed, std::nullopt, std::nullopt,
       {L" (PendingFileRenameOperations is larger than 32 MiB and was not read: whether a restart completes the "
        L"patch is not known)"}},
      {"new Vdt.exe scheduled, the old one deleted already (cancelled)",
       [](fake::Machine& m) {
         VdtWaitsForRestart(m);
         m.installer = [installer = m.installer](fake::Machine& after) {
           installer(after);
           after.files.erase(kProductExe);
         };
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed, Outcome::kRestartPending, 3010},
      {"an earlier patch's Vdt.exe still waits for the restart",
       [](fake::Machine& m) {
         VdtWaitsForRestart(m);
         m.installer = [installer = m.installer](fake::Machine& after) {
           installer(after);
           after.AddExecutable(L"C:\\Program Files\\Veldorant 14.0\\Vdt.exe.new", 14, 0, 0, 150);
         };
       },
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"applied, another file of the install folder waits for the restart",
       LeavesPending(MultiString({L"\\??\\C:\\Program Files\\Veldorant 14.0\\old.dll", L""}), 7, true),
       Outcome::kApplied, 0, Outcome::kApplied, Outcome::kApplied, 3010},
      {"applied, files elsewhere wait for the restart",
       LeavesPending(MultiString({L"\\??\\C:\\Program Files\\Veldorant 14.0 Tools\\a.dll",
                                  L"!\\??\\C:\\Windows\\Vdt.exe"}),
                     7, true),
       Outcome::kApplied, 0, Outcome::kApplied},
      {"mismatch, Vdt.exe of another folder scheduled",
       LeavesPending(MultiString({L"\\??\\C:\\x.new", L"!\\??\\D:\\Program Files\\Veldorant 14.0\\Vdt.exe"})),
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      // Values no installer leaves are read as nothing waiting.
      {"pending value with an odd number of strings",
       LeavesPending(MultiString({L"!\\??\\C:\\Program Files\\Veldorant 14.0\\Vdt.exe"})), Outcome::kInstallFailed,
       1603, Outcome::kInstallFailed},
      {"pending paths without the \\??\\ prefix",
       LeavesPending(MultiString({L"C:\\x.new", L"C:\\Program Files\\Veldorant 14.0\\Vdt.exe"})),
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"pending value empty", LeavesPending({}), Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"pending value of an odd byte count",
       LeavesPending([] {
         auto bytes = MultiString({L"\\??\\C:\\x.new", L"!\\??\\C:\\Program Files\\Veldorant 14.0\\Vdt.exe"});
         bytes.pop_back();
         return bytes;
       }()),
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
      {"pending value not REG_MULTI_SZ",
       LeavesPending(MultiString({L"\\??\\C:\\x.new", L"!\\??\\C:\\Program Files\\Veldorant 14.0\\Vdt.exe"}), 3),
       Outcome::kInstallFailed, 1603, Outcome::kInstallFailed},
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

    // Through the companion: its exit code, the closing line, the kept outcome file and the registry record.
    const Outcome outcome = row.throughCompanion.value_or(row.outcome);
    const std::uint32_t code = row.companionCode.value_or(row.exitCode);
    EXPECT_EQ(RunThroughCompanion(row.setUp), static_cast<int>(code));
    const std::wstring closing = L"PatchUpdateResult: " + std::wstring(result::OutcomeName(outcome)) + L" (exit code " +
                                 std::to_wstring(code) + L"): ";
    const auto closingAt = machine().console.rfind(closing);
    ASSERT_NE(closingAt, std::wstring::npos) << result::ToUtf8(machine().console);
    const std::wstring reason = machine().console.substr(closingAt + closing.size());
    for (const auto& part : row.reasonSays) EXPECT_NE(reason.find(part), std::wstring::npos) << result::ToUtf8(reason);
    // Said first, before the utility is started.
    if (row.consoleSays != nullptr) {
      EXPECT_EQ(machine().console.find(row.consoleSays), 0u) << result::ToUtf8(machine().console);
    }
    // A run that found the lock held starts nothing; every other run took the lock and released it.
    EXPECT_EQ(machine().childRuns.empty(), outcome == Outcome::kRunInProgress);
    EXPECT_NE(machine().runLock, fake::Machine::RunLock::kOurs);
    if (outcome == Outcome::kRestartPending) {
      EXPECT_NE(reason.find(L"a restart completes the patch"), std::wstring::npos);
      EXPECT_NE(reason.find(L"Veldorant 14.0\\VDT.EXE"), std::wstring::npos);
    } else if (code == 3010) {
      EXPECT_NE(reason.find(L" (a restart is needed: files in C:\\Program Files\\Veldorant 14.0 are replaced at the "
                            L"next restart)"),
                std::wstring::npos)
          << result::ToUtf8(reason);
    }
    const auto kept = result::ParseOutcomeRecord(
        machine().FileText(std::wstring(kResults) + L"\\" + result::OutcomeFileName(kStamp)));
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(Name(kept->outcome), Name(outcome));
    EXPECT_EQ(kept->code, code);
    EXPECT_EQ(kept->reason + L"\n", reason);
    EXPECT_EQ(RecordValue(L"SOFTWARE\\Veldorant\\PatchUpdate", L"Outcome"), result::OutcomeName(outcome));
    EXPECT_EQ(RecordValue(L"SOFTWARE\\Veldorant\\PatchUpdate", L"ExitCode"), std::to_wstring(code));
    EXPECT_EQ(RecordValue(L"SOFTWARE\\Veldorant\\PatchUpdate\\Patches\\Veldorant 14.0 Update 2", L"ExitCode"),
              machine().files.count(kDescriptorPath) != 0 && outcome != Outcome::kBrokenPackage &&
                      outcome != Outcome::kRunInProgress
                  ? std::to_wstring(code)
                  : L"");
    EXPECT_EQ(RecordValue(L"SOFTWARE\\Veldorant\\PatchUpdate", L"RestartPending"), code == 3010 ? L"1" : L"0");
  }
}

// The folders between ProgramData and Results, all owned by `owner`; ours with the descriptor we make them with.
void ResultsLevels(fake::Machine& m, fake::Owner owner = fake::Owner::kAdministrators) {
  m.AddFolder(L"C:\\ProgramData\\Veldorant", owner);
  m.AddFolder(L"C:\\ProgramData\\Veldorant\\PatchUpdate", owner);
  m.AddFolder(kResults, owner);
  for (const wchar_t* level : {L"C:\\ProgramData\\Veldorant\\PatchUpdate", kResults}) {
    m.files[level].descriptor = platform::LevelKind::kOwn;
  }
}

// The folders as the previous release left them: SYSTEM's, with ProgramData's inherited "Users may create".
void PreviousReleaseLevels(fake::Machine& m) {
  for (const wchar_t* level : {L"C:\\ProgramData\\Veldorant", L"C:\\ProgramData\\Veldorant\\PatchUpdate", kResults}) {
    m.AddFolder(level, fake::Owner::kSystem);
    m.files[level].othersMayCreate = true;
  }
}

std::wstring InResults(const std::wstring& name) { return std::wstring(kResults) + L"\\" + name; }

// Where a level is moved aside by this run.
std::wstring MovedAside(const std::wstring& level) { return level + L".moved-aside-" + kStamp; }

// Both files of `count` earlier runs in Results, a minute apart from `first` on.
void KeptRuns(fake::Machine& m, int count, const std::wstring& day = L"20261206") {
  for (int i = 0; i < count; ++i) {
    const std::wstring stamp = day + L"-" + std::to_wstring(100000 + i * 100);
    m.AddFile(InResults(result::OutcomeFileName(stamp)), fake::fleet::OutcomeLine("PC0142", Outcome::kBlocked));
    m.AddFile(InResults(result::KeptLogName(stamp)), "log");
  }
}

TEST_F(ResultTest, RunCompanion_ResultsFolderAndRecord_KeptOnlyWhereTrusted) {
  const std::wstring thisRun = InResults(result::OutcomeFileName(kStamp));
  const std::wstring patchUpdate = L"C:\\ProgramData\\Veldorant\\PatchUpdate";
  const std::wstring elsewhere = L"C:\\Windows\\System32\\drivers\\etc\\hosts";
  const std::wstring oldRun = InResults(result::OutcomeFileName(L"20261206-100000"));
  const struct {
    const char* name;
    std::function<void(fake::Machine&)> setUp;
    const wchar_t* refused = nullptr;         // the level said on the console; nothing kept at or below it
    const wchar_t* says = nullptr;            // what the console says of it
    std::vector<std::wstring> present = {};   // files there afterwards
    std::vector<std::wstring> gone = {};      // files removed
    std::vector<std::wstring> movedAside = {};  // levels moved aside, now under their moved-aside names
    std::vector<std::wstring> carried = {};     // files of Results moved aside, copied into the fresh one
    std::vector<std::wstring> untouched = {};   // files elsewhere whose bytes, owner and descriptor stay
    const wchar_t* linkTarget = nullptr;  // where a link made meanwhile leads: nothing made or put there
  } kCases[] = {
      // --- made or exactly ours ---
      {.name = "nothing there yet: every level made", .setUp = [](fake::Machine&) {}},
      {.name = "levels made by SYSTEM", .setUp = [](fake::Machine& m) { ResultsLevels(m, fake::Owner::kSystem); }},
      {.name = "levels owned by TrustedInstaller",
       .setUp = [](fake::Machine& m) { ResultsLevels(m, fake::Owner::kTrustedInstaller); }},
      {.name = "levels owned by the companion's own account",
       .setUp = [](fake::Machine& m) { ResultsLevels(m, fake::Owner::kSelf); }},
      // --- the previous release's folders, and what a user could leave in them ---
      {.name = "previous release's Results with a hard link, a subfolder, a junction, an x. name and a folder "
               "named like a fixed-name copy: moved aside, runs carried over",
       .setUp = [&](fake::Machine& m) {
         PreviousReleaseLevels(m);
         KeptRuns(m, 2);
         m.AddFile(elsewhere, "127.0.0.1 localhost");
         m.files[elsewhere].owner = fake::Owner::kTrustedInstaller;
         m.files[elsewhere].linkId = 1;
         m.AddFile(InResults(result::OutcomeFileName(L"20261206-090000")), "127.0.0.1 localhost");
         m.files[InResults(result::OutcomeFileName(L"20261206-090000"))].linkId = 1;
         m.AddFolder(InResults(L"sub"), fake::Owner::kUser);
         m.AddFile(InResults(L"sub\\x"), "mine");
         m.AddFolder(InResults(L"junction"), fake::Owner::kUser);
         m.files[InResults(L"junction")].reparsePoint = true;
         m.AddFile(InResults(L"x."), "mine");
         m.files[InResults(L"x.")].owner = fake::Owner::kUser;
         m.AddFolder(InResults(result::kNewestLogName), fake::Owner::kUser);
       },
       .says = L"PatchUpdateResult: C:\\ProgramData\\Veldorant\\PatchUpdate was not made as this program makes it: "
               L"moved aside to PatchUpdate.moved-aside-20261207-140500, made anew",
       // What a user made or linked is never carried over.
       .gone = {InResults(result::OutcomeFileName(L"20261206-090000")), InResults(L"x."), InResults(L"sub\\x"),
                InResults(L"junction")},
       .movedAside = {patchUpdate},
       .carried = {InResults(result::OutcomeFileName(L"20261206-100000")),
                   InResults(result::KeptLogName(L"20261206-100100"))},
       .untouched = {elsewhere}},
      {.name = "previous release's Results in our PatchUpdate: only Results moved aside",
       .setUp = [](fake::Machine& m) {
         PreviousReleaseLevels(m);
         m.files[L"C:\\ProgramData\\Veldorant\\PatchUpdate"].descriptor = platform::LevelKind::kOwn;
         m.files[L"C:\\ProgramData\\Veldorant\\PatchUpdate"].othersMayCreate = false;
         KeptRuns(m, 22);
         m.AddFile(InResults(L"nul.txt"), "mine");
       },
       .says = L"PatchUpdateResult: 40 files of earlier runs carried over from "
               L"C:\\ProgramData\\Veldorant\\PatchUpdate\\Results.moved-aside-20261207-140500",
       .gone = {InResults(L"nul.txt"), oldRun},
       .movedAside = {kResults},
       .carried = {InResults(result::OutcomeFileName(L"20261206-100300")),
                   InResults(result::KeptLogName(L"20261206-102100"))}},
      {.name = "previous release's PatchUpdate turned into a link to decoy runs right after it is moved aside: "
               "its own runs carried, none through the link",
       .setUp = [](fake::Machine& m) {
         PreviousReleaseLevels(m);
         KeptRuns(m, 2);
         m.AddFile(L"C:\\Users\\Public\\decoy\\Results\\" + result::OutcomeFileName(L"20261206-230000"), "forged");
         m.onLevelHeld[MovedAside(L"C:\\ProgramData\\Veldorant\\PatchUpdate")] = [](fake::Machine& on) {
           auto& aside = on.files[MovedAside(L"C:\\ProgramData\\Veldorant\\PatchUpdate")];
           aside.reparsePoint = true;
           aside.linkTarget = L"C:\\Users\\Public\\decoy";
         };
       },
       .gone = {InResults(result::OutcomeFileName(L"20261206-230000"))},
       .carried = {InResults(result::OutcomeFileName(L"20261206-100000")),
                   InResults(result::KeptLogName(L"20261206-100100"))}},
      {.name = "PatchUpdate made by a user, with runs of their own: moved aside, none carried",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         KeptRuns(m, 3);
         for (auto& [path, state] : m.files) {
           if (path.rfind(L"C:\\ProgramData\\Veldorant\\PatchUpdate", 0) == 0) state.owner = fake::Owner::kUser;
         }
       },
       .gone = {oldRun},
       .movedAside = {patchUpdate}},
      {.name = "PatchUpdate made by a user, holding a Results and runs SYSTEM once made there: moved aside, none carried",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         KeptRuns(m, 3);
         m.files[L"C:\\ProgramData\\Veldorant\\PatchUpdate"].owner = fake::Owner::kUser;
       },
       .gone = {oldRun},
       .movedAside = {patchUpdate}},
      {.name = "Results exactly ours but for a file a user left in it: moved aside",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         KeptRuns(m, 2);
         m.AddFile(InResults(result::kNewestOutcomeName), "forged");
         m.files[InResults(result::kNewestOutcomeName)].owner = fake::Owner::kUser;
       },
       .movedAside = {kResults},
       .carried = {oldRun}},
      {.name = "PatchUpdate a link: the link moved aside, never followed",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.files[L"C:\\ProgramData\\Veldorant\\PatchUpdate"].reparsePoint = true;
       },
       .movedAside = {patchUpdate}},
      {.name = "Results a link to a folder of decoy runs: moved aside, nothing carried",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         KeptRuns(m, 22);
         m.files[kResults].reparsePoint = true;
       },
       .gone = {oldRun},
       .movedAside = {kResults}},
      {.name = "Results a file: moved aside",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.files[kResults].isFolder = false;
       },
       .movedAside = {kResults}},
      {.name = "previous release's Results with a run held open by another program: not moved, said",
       .setUp = [&](fake::Machine& m) {
         PreviousReleaseLevels(m);
         m.files[L"C:\\ProgramData\\Veldorant\\PatchUpdate"].descriptor = platform::LevelKind::kOwn;
         KeptRuns(m, 1);
         m.files[oldRun].locked = true;
       },
       .refused = kResults,
       .says = L"is not as this program makes it and could not be moved aside: System error 5. (error 5)",
       .present = {InResults(result::OutcomeFileName(L"20261206-100000"))}},
      // --- the vendor's folder: judged, never moved or changed ---
      {.name = "Veldorant a link",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.files[L"C:\\ProgramData\\Veldorant"].reparsePoint = true;
       },
       .refused = L"C:\\ProgramData\\Veldorant",
       .says = L"is a junction, symbolic link or mount point"},
      {.name = "Veldorant made by a user",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.files[L"C:\\ProgramData\\Veldorant"].owner = fake::Owner::kUser;
       },
       .refused = L"C:\\ProgramData\\Veldorant",
       .says = L"is owned by an account other than SYSTEM, Administrators, TrustedInstaller or the one this runs as"},
      {.name = "Veldorant lets Users delete what is in it: not used",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.files[L"C:\\ProgramData\\Veldorant"].othersMayRemove = true;
       },
       .refused = L"C:\\ProgramData\\Veldorant",
       .says = L"lets accounts other than SYSTEM, Administrators and TrustedInstaller delete or rename what is in it"},
      {.name = "Veldorant lets Users create in it (ProgramData's default): used, a PatchUpdate of theirs moved aside",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.files[L"C:\\ProgramData\\Veldorant"].othersMayCreate = true;
         m.files[L"C:\\ProgramData\\Veldorant\\PatchUpdate"].owner = fake::Owner::kUser;
       },
       .movedAside = {patchUpdate}},
      {.name = "Veldorant turned into a link right after its open: PatchUpdate and Results made in it, "
               "nothing through the link",
       .setUp = [](fake::Machine& m) {
         m.AddFolder(L"C:\\ProgramData\\Veldorant", fake::Owner::kSystem);
         m.files[L"C:\\ProgramData\\Veldorant"].othersMayCreate = true;
         m.onLevelHeld[L"C:\\ProgramData\\Veldorant"] = [](fake::Machine& on) {
           on.files[L"C:\\ProgramData\\Veldorant"].reparsePoint = true;
           on.files[L"C:\\ProgramData\\Veldorant"].linkTarget = L"C:\\Users\\Public\\elsewhere";
         };
       },
       .linkTarget = L"C:\\Users\\Public\\elsewhere"},
      {.name = "Results can't be made",
       .setUp = [](fake::Machine& m) { m.folderErrors[kResults] = 5; },
       .refused = kResults,
       .says = L"could not be made or opened: System error 5. (error 5)"},
      // --- pruning ---
      {.name = "twenty-two runs and other files: the oldest runs go, nothing else",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         KeptRuns(m, 22);
         m.AddFile(InResults(L"notes.txt"), "mine");
       },
       .present = {InResults(L"notes.txt"), InResults(result::OutcomeFileName(L"20261206-100300"))},
       .gone = {InResults(result::OutcomeFileName(L"20261206-100000")),
                InResults(result::KeptLogName(L"20261206-100200"))}},
      {.name = "twenty runs stamped in the future: this run stays",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         KeptRuns(m, 20, L"20991231");
       },
       .gone = {InResults(result::OutcomeFileName(L"20991231-100000"))}},
      {.name = "a run of the same second kept already: this one is the second",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.AddFile(InResults(result::OutcomeFileName(kStamp)), "earlier run");
       },
       .present = {InResults(result::OutcomeFileName(std::wstring(kStamp) + L"-2")),
                   InResults(result::KeptLogName(std::wstring(kStamp) + L"-2"))}},
      // --- what can't be kept is said ---
      {.name = "the outcome file can't be written",
       .setUp = [](fake::Machine& m) { m.putErrors[InResults(result::OutcomeFileName(kStamp))] = 5; },
       .says = L"PatchUpdateResult: the results of this run were not kept: writing in "
               L"C:\\ProgramData\\Veldorant\\PatchUpdate\\Results: System error 5. (error 5)"},
      {.name = "a file in Results held open by another program: the run ends, its outcome in the record",
       .setUp = [](fake::Machine& m) {
         ResultsLevels(m);
         m.AddFile(InResults(result::kNewestOutcomeName), "older");
         m.files[InResults(result::kNewestOutcomeName)].locked = true;
       },
       .says = L"PatchUpdateResult: the results of this run were not kept: writing in "
               L"C:\\ProgramData\\Veldorant\\PatchUpdate\\Results: System error 32. (error 32)"},
      {.name = "the system names no ProgramData folder",
       .setUp = [](fake::Machine& m) { m.programData.clear(); },
       .says = L"PatchUpdateResult: the results of this run were not kept: the system names no ProgramData folder"},
      // --- the registry record ---
      {.name = "the registry record can't be written",
       .setUp = [](fake::Machine& m) { m.createKeyErrors[L"SOFTWARE\\Veldorant\\PatchUpdate"] = 5; },
       .says = L"PatchUpdateResult: the registry record could not be written: HKLM\\SOFTWARE\\Veldorant\\PatchUpdate "
               L"(error 5)"},
      {.name = "the record's key a registry link or a user's key: refused before any value is written",
       .setUp = [](fake::Machine& m) { m.untrustedKeys = {L"SOFTWARE\\Veldorant\\PatchUpdate"}; },
       .says = L"PatchUpdateResult: the registry record could not be written: HKLM\\SOFTWARE\\Veldorant\\PatchUpdate "
               L"(error 5)"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    std::map<std::wstring, fake::FileState> before;
    const int code = RunThroughCompanion([&row, &before](fake::Machine& m) {
      Installable(m);
      row.setUp(m);
      before = m.files;
    });

    EXPECT_EQ(code, 0);
    const std::wstring& console = machine().console;
    EXPECT_NE(console.rfind(L"PatchUpdateResult: applied (exit code 0): "), std::wstring::npos);
    if (row.says != nullptr) {
      EXPECT_NE(console.find(row.says), std::wstring::npos) << result::ToUtf8(console);
    }
    for (const auto& path : row.present) EXPECT_EQ(machine().files.count(path), 1u) << result::ToUtf8(path);
    for (const auto& path : row.gone) EXPECT_EQ(machine().files.count(path), 0u) << result::ToUtf8(path);
    EXPECT_EQ(machine().openFolderHandles, 0);
    // The record is written before any file work, so a run slowed down there has said its outcome already.
    const auto firstSet = std::find_if(machine().trace.begin(), machine().trace.end(),
                                       [](const std::wstring& step) { return step.rfind(L"set ", 0) == 0; });
    const bool recordRefused = !machine().createKeyErrors.empty() || !machine().untrustedKeys.empty();
    EXPECT_EQ(firstSet == machine().trace.end(), recordRefused);
    for (auto step = machine().trace.begin(); step != firstSet && !recordRefused; ++step) {
      EXPECT_TRUE(step->rfind(L"put C:\\ProgramData", 0) != 0 && step->rfind(L"make folder", 0) != 0 &&
                  step->rfind(L"move ", 0) != 0)
          << result::ToUtf8(*step);
    }
    if (!recordRefused) {
      EXPECT_EQ(RecordValue(L"SOFTWARE\\Veldorant\\PatchUpdate", L"Outcome"), L"applied");
    }
    // Moved aside whole, never followed: everything that stood below a level is under its new name, the
    // same; nothing inside it deleted or changed.
    for (const auto& level : row.movedAside) {
      EXPECT_NE(console.find(L"PatchUpdateResult: " + level + L" was not made as this program makes it: moved aside to "),
                std::wstring::npos)
          << result::ToUtf8(console);
      for (const auto& [path, state] : before) {
        if (path != level && path.rfind(level + L"\\", 0) != 0) continue;
        const auto moved = machine().files.find(MovedAside(level) + path.substr(level.size()));
        ASSERT_NE(moved, machine().files.end()) << result::ToUtf8(path);
        EXPECT_EQ(moved->second.bytes, state.bytes) << result::ToUtf8(path);
        EXPECT_EQ(moved->second.owner, state.owner) << result::ToUtf8(path);
        EXPECT_EQ(moved->second.descriptor, state.descriptor) << result::ToUtf8(path);
        EXPECT_EQ(moved->second.usersMayOpen, state.usersMayOpen) << result::ToUtf8(path);
      }
      EXPECT_EQ(machine().files.at(level).descriptor, platform::LevelKind::kOwn) << result::ToUtf8(level);
    }
    // Carried over as new files holding the same bytes: never the old file moved or linked.
    for (const auto& path : row.carried) {
      ASSERT_EQ(machine().files.count(path), 1u) << result::ToUtf8(path);
      EXPECT_EQ(machine().files.at(path).bytes, before.at(path).bytes) << result::ToUtf8(path);
      EXPECT_EQ(machine().files.at(path).linkId, 0) << result::ToUtf8(path);
    }
    if (row.linkTarget != nullptr) {
      for (const auto& [path, state] : machine().files) {
        EXPECT_NE(path.rfind(row.linkTarget, 0), 0u) << result::ToUtf8(path);
      }
      for (const auto& step : machine().trace) {
        EXPECT_EQ(step.find(row.linkTarget), std::wstring::npos) << result::ToUtf8(step);
      }
    }
    for (const auto& path : row.untouched) {
      EXPECT_EQ(machine().files.at(path).bytes, before.at(path).bytes) << result::ToUtf8(path);
      EXPECT_EQ(machine().files.at(path).owner, before.at(path).owner) << result::ToUtf8(path);
      EXPECT_EQ(machine().files.at(path).usersMayOpen, before.at(path).usersMayOpen) << result::ToUtf8(path);
      EXPECT_EQ(machine().LinkCount(path), 2) << result::ToUtf8(path);
    }
    if (row.refused != nullptr) {
      EXPECT_NE(console.find(L"PatchUpdateResult: the results of this run were not kept: " + std::wstring(row.refused) +
                             L" "),
                std::wstring::npos)
          << result::ToUtf8(console);
      for (const auto& step : machine().trace) {
        EXPECT_TRUE(step.rfind(L"put ", 0) != 0 && step.rfind(L"delete ", 0) != 0 &&
                    step.find(row.refused) == std::wstring::npos)
            << result::ToUtf8(step);
      }
      continue;
    }
    if (row.says != nullptr && std::wstring_view(row.says).find(L"were not kept") != std::wstring_view::npos) continue;
    // Kept: our levels exactly as we make them (the vendor's folder only when we made it, else as it was),
    // this run's files there with the newest copies, twenty runs at most, no file any user may open.
    const bool madeVendorFolder = std::find(machine().trace.begin(), machine().trace.end(),
                                            L"make folder C:\\ProgramData\\Veldorant") != machine().trace.end();
    EXPECT_EQ(machine().files.at(L"C:\\ProgramData\\Veldorant").descriptor,
              madeVendorFolder ? std::optional(platform::LevelKind::kVendor) : before.at(L"C:\\ProgramData\\Veldorant").descriptor);
    for (const auto& level : {patchUpdate, std::wstring(kResults)}) {
      EXPECT_EQ(machine().files.at(level).descriptor, platform::LevelKind::kOwn) << result::ToUtf8(level);
      EXPECT_FALSE(machine().files.at(level).reparsePoint) << result::ToUtf8(level);
    }
    if (row.present.empty() || row.present.front().find(L"-2.") == std::wstring::npos) {
      EXPECT_EQ(machine().files.count(thisRun), 1u);
      EXPECT_EQ(machine().FileText(InResults(result::KeptLogName(kStamp))), machine().FileText(expect::kLogPath));
    }
    EXPECT_EQ(machine().FileText(InResults(result::kNewestLogName)), machine().FileText(expect::kLogPath));
    EXPECT_EQ(result::ParseOutcomeRecord(machine().FileText(InResults(result::kNewestOutcomeName)))->outcome,
              Outcome::kApplied);
    std::vector<std::wstring> names;
    for (const auto& [path, state] : machine().files) {
      if (path.rfind(std::wstring(kResults) + L"\\", 0) != 0) continue;
      if (before.count(path) == 0 || machine().trace.end() != std::find(machine().trace.begin(), machine().trace.end(), L"put " + path)) {
        EXPECT_FALSE(state.usersMayOpen) << result::ToUtf8(path);
      }
      if (path.rfind(std::wstring(kResults) + L"\\outcome.", 0) == 0 && !state.isFolder && !state.reparsePoint) {
        names.push_back(path);
      }
    }
    EXPECT_LE(names.size(), result::kKeptRuns);
  }
}

TEST_F(ResultTest, RunCompanion_HowTheUtilityEnds_OutcomeFromLogOrConsole) {
  constexpr std::uint32_t kAccessViolation = 0xC0000005;
  const std::wstring validating = L"Patch update status: Validation in-progress...\n";
  const std::wstring installing = L"Patch update status: Installation in-progress.\nPlease wait to complete...\n";
  const struct {
    const char* name;
    std::function<void(fake::Machine&)> setUp;
    Outcome outcome;
    std::wstring reason;  // the closing line's reason, whole
  } kCases[] = {
      {"PatchUpdate.exe missing",
       [](fake::Machine& m) { m.childStartError = 2; },
       Outcome::kBrokenPackage, L"PatchUpdate.exe could not be started, error 2"},
      {"crashed while the installer ran",
       [&](fake::Machine& m) {
         m.child = [&](fake::Machine& c) {
           c.console += validating + installing;
           return kAccessViolation;
         };
       },
       Outcome::kInstallFailed,
       L"PatchUpdate.exe ended abnormally after the installer was started, exit code 3221225477 (0xC0000005)"},
      {"killed before it said anything",
       [](fake::Machine& m) { m.child = [](fake::Machine&) { return 1u; }; },
       Outcome::kNoLog,
       L"no log from this run, and the console names no outcome; PatchUpdate.exe ended with exit code 1 (0x00000001)"},
      {"crashed after the result was printed, before the log",
       [&](fake::Machine& m) {
         m.child = [&](fake::Machine& c) {
           c.console += validating + installing + L"Patch update status: Completed successfully.\n";
           c.AddExecutable(kProductExe, 14, 0, 0, 200);
           return kAccessViolation;
         };
       },
       Outcome::kApplied, L"Patch update status: Completed successfully. (no log from this run; read from its console)"},
      {"new Vdt.exe scheduled for the restart, the log not written: read from the console",
       [](fake::Machine& m) {
         VdtWaitsForRestart(m);
         m.AddFile(expect::kLogPath, "");
         m.files[expect::kLogPath].readOnly = true;
       },
       Outcome::kRestartPending,
       L"a restart completes the patch: the installer scheduled C:\\Program Files\\Veldorant 14.0\\VDT.EXE to be "
       L"replaced at the next restart"},
      {"an older log beside it is not this run's",
       [&](fake::Machine& m) {
         m.AddFile(expect::kLogPath, fake::fleet::Logs()[0]);
         m.child = [](fake::Machine& c) {
           c.console += L"Patch update status: Please check and close Veldorant/Excel application,if open.\n";
           return 0u;
         };
       },
       Outcome::kBlocked,
       L"Patch update status: Please check and close Veldorant/Excel application,if open. (no log from this run; read "
       L"from its console)"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    Installable(machine());
    machine().modulePath = kCompanionPath;
    machine().child = [](fake::Machine&) { return static_cast<std::uint32_t>(RunPatchUpdate()); };
    row.setUp(machine());

    const int code = RunCompanion({});

    EXPECT_EQ(code, static_cast<int>(result::ExitCodeOf(row.outcome)));
    const std::wstring closing = L"PatchUpdateResult: " + std::wstring(result::OutcomeName(row.outcome)) +
                                 L" (exit code " + std::to_wstring(code) + L"): " + row.reason + L"\n";
    EXPECT_EQ(machine().console.substr(machine().console.size() - std::min(closing.size(), machine().console.size())),
              closing);
    ASSERT_EQ(machine().childRuns.size(), 1u);
    EXPECT_EQ(machine().childRuns[0].file, L"C:\\Patch\\PatchUpdate.exe");
    EXPECT_EQ(machine().childRuns[0].directory, L"C:\\Patch");
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

// Both files of each of `count` runs, a minute apart, oldest first.
std::vector<std::wstring> SavedRuns(int count, const std::wstring& day = L"20261209") {
  std::vector<std::wstring> names;
  for (int i = 0; i < count; ++i) {
    const std::wstring stamp = day + L"-" + std::to_wstring(100000 + i * 100).substr(0, 6);
    names.push_back(result::KeptLogName(stamp));
    names.push_back(result::OutcomeFileName(stamp));
  }
  return names;
}

TEST(KeptRunsTest, RunsToRemove_SavedRuns_AllButTheNewestTwenty) {
  const struct {
    const char* name;
    std::vector<std::wstring> names;
    std::wstring current;  // the run just kept
    std::vector<std::wstring> removed;
  } kCases[] = {
      {"twenty runs, both files each: nothing goes", SavedRuns(20), L"20261209-101900", {}},
      {"twenty-two runs: the two oldest go with both their files", SavedRuns(22), L"20261209-102100",
       {SavedRuns(22)[0], SavedRuns(22)[1], SavedRuns(22)[2], SavedRuns(22)[3]}},
      {"a run whose log copy is missing still counts once",
       [] {
         auto names = SavedRuns(21);
         names.erase(names.begin() + 10);
         return names;
       }(),
       L"20261209-102000", {SavedRuns(21)[0], SavedRuns(21)[1]}},
      {"other files are never removed",
       [] {
         auto names = SavedRuns(21);
         names.insert(names.begin(), {L"notes.txt", L"outcome.json", L"Log_VDT_14_PatchUpdate.txt",
                                      L"outcome.2026-12-09.json", L"PatchUpdate-newest.log",
                                      L"PatchUpdate-newest-outcome.txt", L"outcome.20261209-100000-1.json"});
         return names;
       }(),
       L"20261209-102000", {SavedRuns(21)[0], SavedRuns(21)[1]}},
      {"twenty runs stamped in the future: this run stays, the oldest of them goes",
       [] {
         auto names = SavedRuns(20, L"20991231");
         names.push_back(result::OutcomeFileName(L"20261209-033005"));
         return names;
       }(),
       L"20261209-033005", {SavedRuns(20, L"20991231")[0], SavedRuns(20, L"20991231")[1]}},
      {"a run from a clock that ran ahead goes before the real ones",
       [] {
         auto names = SavedRuns(21);
         names.push_back(result::OutcomeFileName(L"20991231-000000"));
         return names;
       }(),
       L"20261209-102000", {SavedRuns(21)[0], SavedRuns(21)[1], result::OutcomeFileName(L"20991231-000000")}},
      // --- stamps compared as time: seconds apart across a month's end, a year's end, a leap day ---
      {"a run 31 seconds after this one across the month's end is the newest, not one from a clock ahead",
       [] {
         auto names = SavedRuns(20, L"20261130");
         names.push_back(result::OutcomeFileName(L"20261201-000030"));
         return names;
       }(),
       L"20261130-235959", {SavedRuns(20, L"20261130")[0], SavedRuns(20, L"20261130")[1],
                            SavedRuns(20, L"20261130")[2], SavedRuns(20, L"20261130")[3]}},
      {"a run 31 seconds after this one across the year's end is the newest",
       [] {
         auto names = SavedRuns(20, L"20261231");
         names.push_back(result::OutcomeFileName(L"20270101-000030"));
         return names;
       }(),
       L"20261231-235959", {SavedRuns(20, L"20261231")[0], SavedRuns(20, L"20261231")[1],
                            SavedRuns(20, L"20261231")[2], SavedRuns(20, L"20261231")[3]}},
      {"a run 31 seconds after this one across a leap day's end is the newest",
       [] {
         auto names = SavedRuns(20, L"20280229");
         names.push_back(result::OutcomeFileName(L"20280301-000030"));
         return names;
       }(),
       L"20280229-235959", {SavedRuns(20, L"20280229")[0], SavedRuns(20, L"20280229")[1],
                            SavedRuns(20, L"20280229")[2], SavedRuns(20, L"20280229")[3]}},
      {"a run three days ahead across the month's end goes first",
       [] {
         auto names = SavedRuns(20, L"20261130");
         names.push_back(result::OutcomeFileName(L"20261203-235959"));
         return names;
       }(),
       L"20261130-235959", {SavedRuns(20, L"20261130")[0], SavedRuns(20, L"20261130")[1],
                            result::OutcomeFileName(L"20261203-235959")}},
      {"a leap day of a year that has none is no stamp, never removed",
       [] {
         auto names = SavedRuns(21, L"20270301");
         names.insert(names.begin(), result::OutcomeFileName(L"20270229-000000"));
         return names;
       }(),
       L"20270301-102000", {SavedRuns(21, L"20270301")[0], SavedRuns(21, L"20270301")[1]}},
      {"runs of one second by their sequence, not their text",
       {result::OutcomeFileName(L"20261209-033005-10"), result::OutcomeFileName(L"20261209-033005-9"),
        result::OutcomeFileName(L"20261209-033005")},
       L"20261209-033005-10", {}},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(result::RunsToRemove(row.names, result::kKeptRuns, row.current), row.removed);
  }
  EXPECT_EQ(result::RunsToRemove({result::OutcomeFileName(L"20261209-033005-10"),
                                  result::OutcomeFileName(L"20261209-033005-9")},
                                 2, L"20261209-033006"),
            std::vector<std::wstring>{result::OutcomeFileName(L"20261209-033005-9")});
}

}  // namespace
