// PatchUpdateResult on Linux: the fleet report over logs collected from Windows machines.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "result/fleet_report.h"

namespace {

constexpr char kUsage[] =
    "usage: PatchUpdateResult report FOLDER [CSV] [--expected LIST] [--html PAGE] [--parallel N]\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 2; i < argc; ++i) arguments.push_back(platform::FromUtf8(argv[i]));
  const auto parsed =
      argc >= 3 && std::string(argv[1]) == "report" ? result::ParseReportArguments(arguments) : std::nullopt;
  if (!parsed) {
    (void)std::fputs(kUsage, stderr);
    return 2;
  }
  std::wstring out;
  const int code =
      result::RunReportCommand(parsed->folder, parsed->csv, out, parsed->expected, parsed->page, parsed->inFlight);
  (void)std::fputs(platform::ToUtf8(out).c_str(), stdout);
  return code;
}
