// The deployment cache is deleted after the install command ends, and the utility's log with it: the
// log and a one-line outcome are kept under ProgramData, which survives, and the outcome in the registry,
// where inventory looks. The utility's own exit code stays 0 whatever happened; the outcome read from
// its log becomes ours.
#include "companion/companion.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/patch_execute.h"
#include "app/path_text.h"
#include "companion/kept_results.h"
#include "companion/messages.h"
#include "companion/pending_restart.h"
#include "companion/registry_record.h"
#include "companion/rules.h"
#include "discovery/exe_version.h"
#include "discovery/product_keys.h"
#include "applicability/messages.h"
#include "discovery/registry_probes.h"
#include "installer/messages.h"
#include "log/run_log.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/machine_name.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/run_lock.h"
#include "platform/version_resource.h"
#include "result/fleet_report.h"
#include "result/log_reading.h"
#include "result/outcome_file.h"

namespace {

using namespace messages::companion;
namespace installer = messages::installer;
namespace applicability = messages::applicability;

constexpr wchar_t kUtilityName[] = L"PatchUpdate.exe";
constexpr wchar_t kReportCommand[] = L"report";
constexpr wchar_t kRulesCommand[] = L"rules";
constexpr int kUsageExitCode = 2;
// A log written this long before the start still counts: FAT keeps write times to 2 s.
constexpr std::uint64_t kClockSlack = 2 * platform::kSystemTimeUnitsPerSecond;

// The install folder the registry names, the Wow6432Node key first as the utility looks; empty when none.
std::wstring InstallFolder() {
  for (const wchar_t* keyPath : {product_keys::kProductKeyWow64, product_keys::kProductKeyPlain}) {
    platform::RegistryKey key;
    if (platform::OpenLocalMachineKey(keyPath, key) != 0) continue;
    const platform::RegistryValue value = platform::QueryRegistryValue(key, product_keys::kInstallPathValue);
    if (value.code == 0) return DecodeRegistryString(value.bytes);
  }
  return {};
}

// Vdt.exe's file version in that folder; empty when there is none.
std::wstring InstalledVersion(const std::wstring& folder) {
  if (folder.empty()) return {};
  const auto words = ReadMainExecutableVersion(folder);
  return words ? FormatVersionText(*words) : std::wstring();
}

// The file version of one executable, as text; empty when it has none.
std::wstring InstalledVersionOf(const std::wstring& file) {
  const auto words = platform::ReadFileVersionWords(file);
  return words ? FormatVersionText(*words) : std::wstring();
}

std::wstring TwoDigits(int value) { return (value < 10 ? L"0" : L"") + std::to_wstring(value); }

// "YYYY-MM-DDTHH:MM:SS" and the file-name stamp "YYYYMMDD-HHMMSS" of the same moment.
std::pair<std::wstring, std::wstring> TimeTexts() {
  const auto now = platform::CurrentLocalTime();
  // Without a clock the run is stamped as the oldest there can be: kept, and the first to go.
  if (!now) return {std::wstring(), L"00000000-000000"};
  const std::wstring year = std::to_wstring(now->year);
  const std::wstring month = TwoDigits(now->month), day = TwoDigits(now->day);
  const std::wstring hour = TwoDigits(now->hour), minute = TwoDigits(now->minute), second = TwoDigits(now->second);
  return {year + L"-" + month + L"-" + day + L"T" + hour + L":" + minute + L":" + second,
          year + month + day + L"-" + hour + minute + second};
}

// "PatchUpdateResult: <outcome> (exit code N): <reason>", the last line of every run.
std::wstring ClosingLine(result::Outcome outcome, std::uint32_t code, const std::wstring& reason) {
  return kClosingPrefix + std::wstring(result::OutcomeName(outcome)) + kClosingCode + std::to_wstring(code) +
         kClosingReason + reason + L"\n";
}

std::wstring ExitCodeText(std::uint32_t code) {
  constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring hex;
  for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(code >> shift) & 0xF];
  return std::to_wstring(code) + L" (0x" + hex + L")";
}

// The log's bytes when this run wrote it: present, written after the start, not the earlier one.
std::optional<std::vector<std::uint8_t>> FreshLog(const std::wstring& path, std::uint64_t started,
                                                  const std::optional<std::uint64_t>& before) {
  const auto written = platform::FileWriteTime(path);
  if (!written || *written + kClockSlack < started || (before && *written == *before)) return std::nullopt;
  const platform::FileReadResult file = platform::ReadFileExclusive(path);
  if (file.status != platform::FileReadStatus::kOk) return std::nullopt;
  return file.bytes;
}

// What the run tells: its fresh log, else its console; a utility that ended abnormally says so.
result::Reading ReadRun(const platform::ChildRun& run, const std::optional<std::vector<std::uint8_t>>& log) {
  if (log) return result::ReadRunLog(*log);
  // Redirected, the utility writes its console as single bytes; every line that decides is ASCII.
  const std::wstring console(run.output.begin(), run.output.end());
  result::Reading reading = result::ReadConsole(console);
  if (run.exitCode != 0) {
    // Killed or crashed: after "Installation in-progress" without a result line, the install failed,
    // whatever the installer did; before it, the console's own word stands, with the code beside it.
    const bool installerStarted = console.find(installer::kInProgressConsole) != std::wstring::npos;
    const bool installResult = console.find(installer::kCompletedConsole) != std::wstring::npos ||
                               console.find(installer::kUpdateFailedConsole) != std::wstring::npos ||
                               console.find(installer::kMismatchConsole) != std::wstring::npos;
    if (installerStarted && !installResult) {
      return {result::Outcome::kInstallFailed, kEndedDuringInstall + ExitCodeText(run.exitCode), {}};
    }
    if (reading.outcome == result::Outcome::kNoLog) {
      reading.reason += kEndedAbnormally + ExitCodeText(run.exitCode);
      return reading;
    }
  }
  if (reading.outcome != result::Outcome::kNoLog) reading.reason += kFromConsole;
  return reading;
}

// What the install attempt left, by the entry or console line that decided the run.
enum class InstallResult { kNone, kApplied, kNotInPlace };

InstallResult InstallResultOf(const std::wstring& reason) {
  const auto fromConsole = [](const wchar_t* line) {
    std::wstring text(line);
    text.pop_back();  // its line feed
    return text + kFromConsole;
  };
  if (reason == installer::kCompletedEntry || reason == fromConsole(installer::kCompletedConsole)) {
    return InstallResult::kApplied;
  }
  if (reason == installer::kMismatchEntry || reason == installer::kCancelledEntry ||
      reason == fromConsole(installer::kMismatchConsole) || reason == fromConsole(installer::kUpdateFailedConsole)) {
    return InstallResult::kNotInPlace;
  }
  return InstallResult::kNone;
}

// Restart pending: the installer could not replace Vdt.exe in place and left this patch's Vdt.exe to the
// next restart, so the version the utility saw is the old one, and a restart completes the patch. Only
// after an install attempt, only for files of the product's own folder, and only when what waits is
// this patch (an earlier patch's replacement, still waiting, completes nothing of this one).
bool SettleRestart(const std::wstring& installFolder, result::OutcomeRecord& record) {
  const InstallResult result = InstallResultOf(record.reason);
  const bool mismatch = result == InstallResult::kNotInPlace;
  const bool applied = result == InstallResult::kApplied;
  if (!mismatch && !applied) return false;
  const PendingRestart pending = FindPendingRestart(installFolder);
  if (mismatch && !pending.mainExecutable.empty() && InstalledVersionOf(pending.replacement) == record.patchVersion &&
      !record.patchVersion.empty()) {
    record.outcome = result::Outcome::kRestartPending;
    record.code = result::kExitRestartRequired;
    record.reason = kRestartCompletes + pending.mainExecutable + kRestartCompletesTail;
    return true;
  }
  if (applied && pending.installFolder) {
    record.code = result::kExitRestartRequired;
    record.reason += kRestartAlsoNeeded + installFolder + kRestartAlsoNeededTail;
    return true;
  }
  static_assert(kPendingRenamesLimit == 32U << 20, "kPendingTooLarge names the limit");
  if (pending.tooLarge) record.reason += kPendingTooLarge;
  return false;
}

// What the utility judged an already-applied patch by, when its log says: the record or the revision.
std::wstring DecidedBy(const std::optional<std::vector<std::uint8_t>>& log) {
  if (!log) return {};
  const std::string_view text(reinterpret_cast<const char*>(log->data()), log->size());
  const auto has = [text](std::wstring_view entry) {
    std::string ascii(entry.size(), '\0');
    std::transform(entry.begin(), entry.end(), ascii.begin(), [](wchar_t c) { return static_cast<char>(c); });
    return text.find(ascii + "\r\n") != std::string_view::npos;
  };
  if (has(applicability::kNotFoundExitCode1)) return kDecidedByRecord;
  if (has(applicability::kNotFoundExitCode2)) return kDecidedByRevision;
  return {};
}

bool SaysNotForThisVersion(const std::wstring& reason) {
  std::wstring console(applicability::kNotApplicableConsole);
  console.pop_back();  // its line feed
  return reason == applicability::kNotApplicableEntry || reason == console + kFromConsole;
}

// The outcome held against Vdt.exe's version after the run, which is what the deployment system's
// detection rule reads: the exit code must not promise what the detection will deny, nor call failed
// what it will find installed. A product registered without its Vdt.exe is a failure to look at, never
// "not applicable".
void SettleVersion(const std::wstring& folder, const std::wstring& decidedBy, result::OutcomeRecord& record) {
  const std::wstring& found = record.versionAfter;
  const std::wstring& wanted = record.patchVersion;
  if (wanted.empty()) return;
  if (record.outcome == result::Outcome::kApplied || record.outcome == result::Outcome::kAlreadyApplied) {
    if (!found.empty() && !VersionBelow(found, wanted)) return;
    record.outcome = result::Outcome::kStaleRecord;
    record.code = result::ExitCodeOf(record.outcome);
    record.reason += decidedBy + (found.empty() ? kNoVdtIn + folder
                                                : kButVdtIn + folder + kCarries + found + kBelowPatchVersion + wanted);
    return;
  }
  if (record.outcome != result::Outcome::kNotApplicable || !SaysNotForThisVersion(record.reason)) return;
  if (found.empty()) {
    record.outcome = result::Outcome::kProductIncomplete;
    record.reason += folder.empty() ? std::wstring(kNoInstallFolder) : kNoVdtIn + folder;
  } else if (!VersionBelow(found, wanted)) {
    record.outcome = result::Outcome::kLaterVersion;
    record.reason += kVdtIn + folder + kCarries + found + kAtOrAbovePatchVersion + wanted + kLaterPatchTail;
  }
  record.code = result::ExitCodeOf(record.outcome);
}

// Keeps the run's results and ends it with its closing line. A run that found another one running
// leaves the patch's own record (`patchRecord` false), which the detection rule reads, to that run.
int EndRun(const std::wstring& stamp, const result::OutcomeRecord& record,
           const std::optional<std::vector<std::uint8_t>>& log, bool restartPending, bool patchRecord) {
  // The record first: inventory looks there, and it must say this run's outcome however the file work goes.
  try {
    result::OutcomeRecord registered = record;
    if (!patchRecord) registered.patch.clear();
    if (const RecordWrite written = WriteRegistryRecord(registered, restartPending); written.error != 0) {
      platform::WriteConsoleText(kRecordNotWritten + written.key + L" (error " +
                                 std::to_wstring(static_cast<std::uint32_t>(written.error)) + L")\n");
    }
  } catch (const std::exception&) {
    platform::WriteConsoleText(std::wstring(kRecordNotWritten) + kRecordKey + L" (" + kInternalFailure + L")\n");
  }
  // What is kept is said when it fails, and never changes how the run ends.
  try {
    const std::wstring notKept = KeepResults(stamp, record, log);
    if (!notKept.empty()) platform::WriteConsoleText(notKept);
  } catch (const std::exception&) {
    platform::WriteConsoleText(std::wstring(kNotKept) + kInternalFailure + L"\n");
  }
  platform::WriteConsoleText(ClosingLine(record.outcome, record.code, record.reason));
  return static_cast<int>(record.code);
}

int RunUtility() {
  const std::wstring folder = FolderOf(platform::GetModulePath());
  const std::wstring logPath = folder + L"\\" + kRunLogFileName;

  result::OutcomeRecord record;
  record.machine = platform::MachineName();
  const auto [time, stamp] = TimeTexts();
  record.time = time;
  const PackagePatch patch = ReadPackagePatch();
  record.patch = patch.info;
  record.patchVersion = patch.version;
  const std::wstring installFolder = InstallFolder();
  record.versionBefore = InstalledVersion(installFolder);

  // One run at a time: a second one ends at once with the code deployment systems retry later.
  platform::RunLock lock;
  const platform::RunLockAttempt attempt = platform::TakeRunLock(lock);
  if (attempt.state == platform::RunLockState::kHeld) {
    const std::wstring since = ReadRunStarted();
    record.outcome = result::Outcome::kRunInProgress;
    record.code = result::ExitCodeOf(record.outcome);
    record.reason = kRunInProgress + (since.empty() ? std::wstring() : kRunInProgressSince + since + L")");
    record.versionAfter = record.versionBefore;
    return EndRun(stamp, record, std::nullopt, false, false);
  }
  // A lock we can't trust or take never stops patching: said, and the run goes on.
  if (attempt.state == platform::RunLockState::kForeign) platform::WriteConsoleText(kRunLockForeign);
  if (attempt.state == platform::RunLockState::kFailed) {
    platform::WriteConsoleText(kRunLockFailed + std::to_wstring(attempt.error) + kRunLockFailedTail);
  }
  if (lock.IsValid()) WriteRunStarted(time);

  const auto logBefore = platform::FileWriteTime(logPath);
  const std::uint64_t started = platform::CurrentSystemTime();
  const platform::ChildRun run = platform::RunRelayingOutput(folder + L"\\" + kUtilityName, folder);

  std::optional<std::vector<std::uint8_t>> log;
  result::Reading reading;
  if (run.error != 0) {
    // Without the utility the package is not what it should be.
    reading = {result::Outcome::kBrokenPackage, kNotStarted + std::to_wstring(run.error), {}};
  } else {
    log = FreshLog(logPath, started, logBefore);
    reading = ReadRun(run, log);
  }
  record.outcome = reading.outcome;
  record.code = result::ExitCodeOf(reading.outcome);
  record.reason = reading.reason;
  // The install may have changed where the product is registered; read both afresh.
  const std::wstring installedFolder = InstallFolder();
  record.versionAfter = InstalledVersion(installedFolder);
  const bool restartSettled = SettleRestart(installedFolder, record);
  if (record.outcome != result::Outcome::kRestartPending) SettleVersion(installedFolder, DecidedBy(log), record);
  return EndRun(stamp, record, log, restartSettled && record.code == result::kExitRestartRequired, true);
}

int RunReport(const result::ReportArguments& arguments) {
  std::wstring out;
  const int code = result::RunReportCommand(arguments.folder, arguments.csv, out, arguments.expected, arguments.page);
  platform::WriteConsoleText(out);
  return code;
}

}  // namespace

int RunCompanion(const std::vector<std::wstring>& arguments) {
  try {
    if (arguments.empty()) return RunUtility();
    if (arguments[0] == kReportCommand) {
      if (const auto report = result::ParseReportArguments({arguments.begin() + 1, arguments.end()})) return RunReport(*report);
    }
    if (arguments[0] == kRulesCommand && arguments.size() == 1) return RunRulesCommand();
    platform::WriteConsoleText(kUsage);
    return kUsageExitCode;
  } catch (const std::exception&) {
    // Nothing could be read: the deployment system hears "no log", never a crash.
    const auto outcome = result::Outcome::kNoLog;
    platform::WriteConsoleText(ClosingLine(outcome, result::ExitCodeOf(outcome), kInternalFailure));
    return static_cast<int>(result::ExitCodeOf(outcome));
  }
}
