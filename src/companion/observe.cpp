// The deployment cache is deleted after the install command ends, and the utility's log with it: what the
// run came to is read here from the log while it is there, else from the utility's console. The
// utility's own exit code stays 0 whatever happened; the outcome read from its log becomes ours.
#include "companion/observe.h"

#include <utility>

#include "companion/messages.h"
#include "companion/pending_restart.h"
#include "companion/registry_record.h"
#include "companion/rules.h"
#include "discovery/exe_version.h"
#include "discovery/registry_probes.h"
#include "log/log_format.h"
#include "log/run_log.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/machine_name.h"
#include "platform/module.h"
#include "platform/path_text.h"
#include "platform/version_resource.h"
#include "result/log_reading.h"

namespace {

using namespace messages::companion;

constexpr wchar_t kUtilityName[] = L"PatchUpdate.exe";
// A log written this long before the start still counts: FAT keeps write times to 2 s.
constexpr std::uint64_t kClockSlack = 2 * platform::kSystemTimeUnitsPerSecond;

// Vdt.exe's file version in that folder; empty when there is none.
std::wstring InstalledVersion(const std::wstring& folder) {
  return folder.empty() ? std::wstring() : ReadMainExecutableVersionText(folder);
}

// The file version of one executable, as text; empty when it has none.
std::wstring InstalledVersionOf(const std::wstring& file) {
  const auto words = platform::ReadFileVersionWords(file);
  return words ? FormatVersionText(*words) : std::wstring();
}

// "YYYY-MM-DDTHH:MM:SS" and the file-name stamp "YYYYMMDD-HHMMSS" of the same moment.
std::pair<std::wstring, std::wstring> TimeTexts() {
  const auto now = platform::CurrentLocalTime();
  // Without a clock the run is stamped as the oldest there can be: kept, and the first to go.
  if (!now) return {std::wstring(), L"00000000-000000"};
  const std::wstring year = std::to_wstring(now->year);
  using log_format::TwoDigits;
  const std::wstring month = TwoDigits(now->month), day = TwoDigits(now->day);
  const std::wstring hour = TwoDigits(now->hour), minute = TwoDigits(now->minute), second = TwoDigits(now->second);
  return {year + L"-" + month + L"-" + day + L"T" + hour + L":" + minute + L":" + second,
          year + month + day + L"-" + hour + minute + second};
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
  result::Reading reading = result::ReadConsole(std::wstring(run.output.begin(), run.output.end()));
  if (run.exitCode != 0) {
    // Killed or crashed: after "Installation in-progress" without a result line, the install failed,
    // whatever the installer did; before it, the console's own word stands, with the code beside it.
    if (reading.installerUnfinished) {
      return {.outcome = result::Outcome::kInstallFailed, .reason = kEndedDuringInstall + ExitCodeText(run.exitCode)};
    }
    if (reading.outcome == result::Outcome::kNoLog) {
      reading.reason += kEndedAbnormally + ExitCodeText(run.exitCode);
      return reading;
    }
  }
  if (reading.outcome != result::Outcome::kNoLog) reading.reason += kFromConsole;
  return reading;
}

// Restart pending: the installer could not replace Vdt.exe in place and left this patch's Vdt.exe to the
// next restart, so the version the utility saw is the old one, and a restart completes the patch. Only
// after an install attempt, only for files of the product's own folder, and only when what waits is
// this patch (an earlier patch's replacement, still waiting, completes nothing of this one).
bool SettleRestart(const std::wstring& installFolder, result::Cause cause, result::OutcomeRecord& record) {
  const bool mismatch = cause == result::Cause::kInstallNotInPlace;
  const bool applied = cause == result::Cause::kInstallCompleted;
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

// The outcome held against Vdt.exe's version after the run, which is what the deployment system's
// detection rule reads: the exit code must not promise what the detection will deny, nor call failed
// what it will find installed. A product registered without its Vdt.exe is a failure to look at, never
// "not applicable".
void SettleVersion(const std::wstring& folder, const result::Reading& reading, result::OutcomeRecord& record) {
  const std::wstring& found = record.versionAfter;
  const std::wstring& wanted = record.patchVersion;
  if (wanted.empty()) return;
  if (record.outcome == result::Outcome::kApplied || record.outcome == result::Outcome::kAlreadyApplied) {
    if (!found.empty() && !VersionBelow(found, wanted)) return;
    // What the utility judged an already-applied patch by, when its log says.
    const wchar_t* judgedBy = reading.judgedBy == result::JudgedBy::kRecord     ? kDecidedByRecord
                              : reading.judgedBy == result::JudgedBy::kRevision ? kDecidedByRevision
                                                                                : L"";
    record.outcome = result::Outcome::kStaleRecord;
    record.code = result::ExitCodeOf(record.outcome);
    record.reason += judgedBy + (found.empty() ? kNoVdtIn + folder
                                               : kButVdtIn + folder + kCarries + found + kBelowPatchVersion + wanted);
    return;
  }
  if (reading.cause != result::Cause::kNotForThisVersion) return;
  if (found.empty()) {
    record.outcome = result::Outcome::kProductIncomplete;
    record.reason += folder.empty() ? std::wstring(kNoInstallFolder) : kNoVdtIn + folder;
  } else if (!VersionBelow(found, wanted)) {
    record.outcome = result::Outcome::kLaterVersion;
    record.reason += kVdtIn + folder + kCarries + found + kAtOrAbovePatchVersion + wanted + kLaterPatchTail;
  }
  record.code = result::ExitCodeOf(record.outcome);
}

}  // namespace

Observation ObserveRun(platform::RunLock& lock) {
  const std::wstring folder = FolderOf(platform::GetModulePath());
  const std::wstring logPath = folder + L"\\" + kRunLogFileName;

  Observation seen;
  result::OutcomeRecord& record = seen.record;
  record.machine = platform::MachineName();
  const auto [time, stamp] = TimeTexts();
  seen.stamp = stamp;
  record.time = time;
  const PackagePatch patch = ReadPackagePatch();
  record.patch = patch.info;
  record.patchVersion = patch.version;
  const std::wstring installFolder = discovery::RegisteredInstallFolder();
  record.versionBefore = InstalledVersion(installFolder);

  // One run at a time: a second one ends at once with the code deployment systems retry later.
  const platform::RunLockAttempt attempt = platform::TakeRunLock(lock);
  if (attempt.state == platform::RunLockState::kHeld) {
    const std::wstring since = ReadRunStarted();
    record.outcome = result::Outcome::kRunInProgress;
    record.code = result::ExitCodeOf(record.outcome);
    record.reason = kRunInProgress + (since.empty() ? std::wstring() : kRunInProgressSince + since + L")");
    record.versionAfter = record.versionBefore;
    seen.patchRecord = false;
    return seen;
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

  result::Reading reading;
  if (run.error != 0) {
    // Without the utility the package is not what it should be.
    reading.outcome = result::Outcome::kBrokenPackage;
    reading.reason = kNotStarted + std::to_wstring(run.error);
  } else {
    seen.log = FreshLog(logPath, started, logBefore);
    reading = ReadRun(run, seen.log);
  }
  record.outcome = reading.outcome;
  record.code = result::ExitCodeOf(reading.outcome);
  record.reason = reading.reason;
  // The install may have changed where the product is registered; read both afresh.
  const std::wstring installedFolder = discovery::RegisteredInstallFolder();
  record.versionAfter = InstalledVersion(installedFolder);
  const bool restartSettled = SettleRestart(installedFolder, reading.cause, record);
  if (record.outcome != result::Outcome::kRestartPending) SettleVersion(installedFolder, reading, record);
  seen.restartPending = restartSettled && record.code == result::kExitRestartRequired;
  return seen;
}
