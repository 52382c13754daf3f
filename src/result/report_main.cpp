// PatchUpdateResult on Linux: the fleet report over logs collected from Windows machines.
#include <cstdio>
#include <string>

#include "result/fleet_report.h"
#include "result/outcome_file.h"

namespace {

constexpr char kUsage[] = "usage: PatchUpdateResult report FOLDER [CSV]\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || std::string(argv[1]) != "report") {
    (void)std::fputs(kUsage, stderr);
    return 2;
  }
  const std::wstring folder = result::FromUtf8(argv[2]);
  const std::wstring csv = argc == 4 ? result::FromUtf8(argv[3]) : std::wstring();
  std::wstring out;
  const int code = result::RunReportCommand(folder, csv, out);
  (void)std::fputs(result::ToUtf8(out).c_str(), stdout);
  return code;
}
