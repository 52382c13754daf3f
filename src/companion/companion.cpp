// The deployment cache is deleted after the install command ends, and the utility's log with it: the
// log and a one-line outcome are kept under %ProgramData%, which survives. The utility's own exit
// code stays 0 whatever happened; the outcome read from its log becomes ours.
#include "companion/companion.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include "app/path_text.h"
#include "descriptor/patch_descriptor.h"
#include "descriptor/whole_file.h"
#include "discovery/exe_version.h"
#include "discovery/product_keys.h"
#include "discovery/registry_probes.h"
#include "log/run_log.h"
#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "result/fleet_report.h"
#include "result/kept_runs.h"
#include "result/log_reading.h"
#include "result/outcome_file.h"

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kUtilityName[] = L"PatchUpdate.exe";
constexpr wchar_t kResultsFolder[] = L"\\Veldorant\\PatchUpdate\\Results";
constexpr wchar_t kReportCommand[] = L"report";
constexpr wchar_t kUsage[] =
    L"Usage: PatchUpdateResult.exe                      runs PatchUpdate.exe beside it, exits with its outcome's code\n"
    L"       PatchUpdateResult.exe report FOLDER [CSV]  the outcomes of the logs collected under FOLDER\n";
constexpr wchar_t kClosingPrefix[] = L"PatchUpdateResult: ";
constexpr wchar_t kNotStarted[] = L"PatchUpdate.exe could not be started, error ";
constexpr wchar_t kFromConsole[] = L" (no log from this run; read from its console)";
constexpr wchar_t kInternalFailure[] = L"internal failure";
constexpr wchar_t kNotSaved[] = L"PatchUpdateResult: the outcome could not be kept in ";
// A log written this long before the start still counts: FAT keeps write times to 2 s.
constexpr auto kClockSlack = std::chrono::seconds(2);

// Vdt.exe's file version where the registry says the product is, the Wow6432Node key first as the
// utility looks; empty when there is none.
std::wstring InstalledVersion() {
  for (const wchar_t* keyPath : {product_keys::kProductKeyWow64, product_keys::kProductKeyPlain}) {
    platform::RegistryKey key;
    if (platform::OpenLocalMachineKey(keyPath, key) != 0) continue;
    const platform::RegistryValue value = platform::QueryRegistryValue(key, product_keys::kInstallPathValue);
    if (value.code != 0) continue;
    if (const auto words = ReadMainExecutableVersion(DecodeRegistryString(value.bytes))) {
      return FormatVersionText(*words);
    }
  }
  return {};
}

// PatchInfo and PatchVersion of the descriptor beside us, for the outcome file only: the utility's
// own reading of it decides everything else.
void ReadPatchNames(const std::wstring& folder, result::OutcomeRecord& record) {
  const platform::FileReadResult file = platform::ReadFileExclusive(folder + L"\\" + kDescriptorFileName);
  if (file.status != platform::FileReadStatus::kOk) return;
  const std::wstring text = RemoveLineBreaks(AnsiBytesToText(file.bytes));
  auto between = [&text](const wchar_t* key, const wchar_t* next) {
    const auto start = text.find(key);
    const auto end = text.find(next);
    if (start == std::wstring::npos || end == std::wstring::npos || end <= start) return std::wstring();
    return GetKeyValue(text.substr(start, end - start), L"=");
  };
  record.patch = between(L"PatchInfo", L"PatchFile");
  record.patchVersion = between(L"PatchVersion", L"PreviousVersions");
}

std::wstring TwoDigits(int value) { return (value < 10 ? L"0" : L"") + std::to_wstring(value); }

// "YYYY-MM-DDTHH:MM:SS" and the file-name stamp "YYYYMMDD-HHMMSS" of the same moment.
std::pair<std::wstring, std::wstring> TimeTexts() {
  const auto now = platform::CurrentLocalTime();
  if (!now) return {};
  const std::wstring year = std::to_wstring(now->year);
  const std::wstring month = TwoDigits(now->month), day = TwoDigits(now->day);
  const std::wstring hour = TwoDigits(now->hour), minute = TwoDigits(now->minute), second = TwoDigits(now->second);
  return {year + L"-" + month + L"-" + day + L"T" + hour + L":" + minute + L":" + second,
          year + month + day + L"-" + hour + minute + second};
}

// "PatchUpdateResult: <outcome> (exit code N): <reason>", the last line of every run.
std::wstring ClosingLine(result::Outcome outcome, const std::wstring& reason) {
  return kClosingPrefix + std::wstring(result::OutcomeName(outcome)) + L" (exit code " +
         std::to_wstring(result::ExitCodeOf(outcome)) + L"): " + reason + L"\n";
}

std::optional<fs::file_time_type> WriteTime(const fs::path& path) {
  std::error_code error;
  const auto time = fs::last_write_time(path, error);
  if (error) return std::nullopt;
  return time;
}

// The log's bytes when this run wrote it: present, written after the start, not the earlier one.
std::optional<std::vector<std::uint8_t>> FreshLog(const fs::path& path, fs::file_time_type started,
                                                  const std::optional<fs::file_time_type>& before) {
  const auto written = WriteTime(path);
  if (!written || *written + kClockSlack < started || (before && *written == *before)) return std::nullopt;
  const platform::FileReadResult file = platform::ReadFileExclusive(path.wstring());
  if (file.status != platform::FileReadStatus::kOk) return std::nullopt;
  return file.bytes;
}

// Keeps the newest runs; other files in the folder are left alone.
void PruneResults(const fs::path& folder) {
  std::error_code error;
  std::vector<std::wstring> names;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().wstring());
  }
  for (const auto& name : result::RunsToRemove(names, result::kKeptRuns)) fs::remove(folder / name, error);
}

// Writes the outcome file and the log copy; false when the folder can't take them.
bool KeepResults(const std::wstring& stamp, const result::OutcomeRecord& record,
                 const std::optional<std::vector<std::uint8_t>>& log) {
  const std::wstring programData = platform::ProgramDataFolder();
  if (programData.empty()) return false;
  const fs::path folder = programData + kResultsFolder;
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return false;
  bool kept = true;
  if (log) {
    kept &= platform::WriteFileExclusive((folder / result::KeptLogName(stamp)).wstring(), *log) == 0;
  }
  const std::string line = result::FormatOutcomeRecord(record) + "\r\n";
  kept &= platform::WriteFileExclusive((folder / result::OutcomeFileName(stamp)).wstring(),
                                       std::vector<std::uint8_t>(line.begin(), line.end())) == 0;
  PruneResults(folder);
  return kept;
}

int RunUtility() {
  const std::wstring folder = FolderOf(platform::GetModulePath());
  const fs::path logPath = folder + L"\\" + kRunLogFileName;

  result::OutcomeRecord record;
  record.machine = platform::MachineName();
  const auto [time, stamp] = TimeTexts();
  record.time = time;
  ReadPatchNames(folder, record);
  record.versionBefore = InstalledVersion();

  const auto logBefore = WriteTime(logPath);
  const auto started = fs::file_time_type::clock::now();
  const platform::ChildRun run = platform::RunRelayingOutput(folder + L"\\" + kUtilityName, folder);

  std::optional<std::vector<std::uint8_t>> log;
  result::Reading reading;
  if (run.error != 0) {
    // Without the utility the package is not what it should be.
    reading = {result::Outcome::kBrokenPackage, kNotStarted + std::to_wstring(run.error), {}};
  } else if ((log = FreshLog(logPath, started, logBefore))) {
    reading = result::ReadRunLog(*log);
  } else {
    // Redirected, the utility writes its console as single bytes; every line that decides is ASCII.
    const std::wstring console(run.output.begin(), run.output.end());
    reading = result::ReadConsole(console);
    if (reading.outcome != result::Outcome::kNoLog) reading.reason += kFromConsole;
  }
  record.outcome = reading.outcome;
  record.code = result::ExitCodeOf(reading.outcome);
  record.reason = reading.reason;
  record.versionAfter = InstalledVersion();

  if (!KeepResults(stamp, record, log)) {
    platform::WriteConsoleText(kNotSaved + platform::ProgramDataFolder() + kResultsFolder + L"\n");
  }
  platform::WriteConsoleText(ClosingLine(record.outcome, record.reason));
  return static_cast<int>(record.code);
}

}  // namespace

int RunCompanion(const std::vector<std::wstring>& arguments) {
  try {
    if (arguments.empty()) return RunUtility();
    if (arguments[0] == kReportCommand && (arguments.size() == 2 || arguments.size() == 3)) {
      const fs::path folder = arguments[1];
      const fs::path csv = arguments.size() == 3 ? fs::path(arguments[2]) : folder / result::kReportCsvName;
      std::wstring out;
      const int code = result::RunReportCommand(folder, csv, out);
      platform::WriteConsoleText(out);
      return code;
    }
    platform::WriteConsoleText(kUsage);
    return 2;
  } catch (const std::exception&) {
    // Nothing could be read: the deployment system hears "no log", never a crash.
    platform::WriteConsoleText(ClosingLine(result::Outcome::kNoLog, kInternalFailure));
    return static_cast<int>(result::ExitCodeOf(result::Outcome::kNoLog));
  }
}
