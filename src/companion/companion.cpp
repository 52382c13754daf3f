// A run of the utility is observed (what happened) and then published (record, results, closing line),
// under the run lock throughout; the other commands hand over to the rules and the report.
#include "companion/companion.h"

#include <exception>
#include <string>
#include <vector>

#include "companion/messages.h"
#include "companion/observe.h"
#include "companion/publish.h"
#include "companion/rules.h"
#include "platform/console.h"
#include "platform/run_lock.h"
#include "result/fleet_report.h"

namespace {

using namespace messages::companion;

constexpr wchar_t kReportCommand[] = L"report";
constexpr wchar_t kRulesCommand[] = L"rules";
constexpr int kUsageExitCode = 2;

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
