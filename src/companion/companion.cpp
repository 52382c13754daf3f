// A run of the utility is observed (what happened) and then published (record, results, closing line),
// under the run lock throughout; the other commands hand over to the rules and the report.
#include "companion/companion.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "companion/messages.h"
#include "companion/observe.h"
#include "companion/registry_record.h"
#include "companion/results_folder.h"
#include "companion/rules.h"
#include "platform/console.h"
#include "platform/run_lock.h"
#include "result/fleet_report.h"

namespace {

using namespace messages::companion;

constexpr wchar_t kReportCommand[] = L"report";
constexpr wchar_t kRulesCommand[] = L"rules";
constexpr int kUsageExitCode = 2;

// "PatchUpdateResult: <outcome> (exit code N): <reason>", the last line of every run.
std::wstring ClosingLine(result::Outcome outcome, std::uint32_t code, const std::wstring& reason) {
  return kCompanionPrefix + std::wstring(result::OutcomeName(outcome)) + kClosingCode + std::to_wstring(code) +
         kClosingReason + reason + L"\n";
}

// Records and keeps the observation, says what could not be, ends with the closing line; the exit code.
int PublishRun(const Observation& seen) {
  const result::OutcomeRecord& record = seen.record;
  // The record first: inventory looks there, and it must say this run's outcome however the file work goes.
  try {
    result::OutcomeRecord registered = record;
    if (!seen.patchRecord) registered.patch.clear();
    if (const RecordWrite written = WriteRegistryRecord(registered, seen.restartPending); written.error != 0) {
      platform::WriteConsoleText(kRecordNotWritten + written.key + L" (error " +
                                 std::to_wstring(static_cast<std::uint32_t>(written.error)) + L")\n");
    }
  } catch (const std::exception&) {
    platform::WriteConsoleText(std::wstring(kRecordNotWritten) + kRecordKey + L" (" + kInternalFailure + L")\n");
  }
  // What is kept is said when it fails, and never changes how the run ends.
  try {
    const std::wstring notKept = KeepResults(seen.stamp, record, seen.log);
    if (!notKept.empty()) platform::WriteConsoleText(notKept);
  } catch (const std::exception&) {
    platform::WriteConsoleText(std::wstring(kNotKept) + kInternalFailure + L"\n");
  }
  platform::WriteConsoleText(ClosingLine(record.outcome, record.code, record.reason));
  return static_cast<int>(record.code);
}

int RunUtility() {
  platform::RunLock lock;
  return PublishRun(ObserveRun(lock));
}

int RunReport(const result::ReportArguments& arguments) {
  std::wstring out;
  const int code = result::RunReportCommand(arguments.folder, arguments.csv, out, arguments.expected, arguments.page,
                                            arguments.inFlight);
  platform::WriteConsoleText(out);
  return code;
}

}  // namespace

int RunCompanion(const std::vector<std::wstring>& arguments) {
  try {
    if (arguments.empty()) return RunUtility();
    if (arguments[0] == kReportCommand) {
      if (const auto report = result::ParseReportArguments({arguments.begin() + 1, arguments.end()}))
        return RunReport(*report);
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
