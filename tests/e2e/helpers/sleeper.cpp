// Stands in for a running application: copied under the name the guard looks for (Vdt.exe, EXCEL.EXE...)
// and left running while the utility starts.
//
//   sleeper SECONDS [READY_FILE]
// Writes READY_FILE once it runs, so the harness knows the process is in the process list, then sleeps.
#include "common.h"

int main() {
  const auto args = e2e::Arguments();
  const DWORD seconds = e2e::Seconds(args.empty() ? std::wstring() : args[0], 300);
  if (args.size() > 1 && !e2e::WriteWholeFile(args[1], "running\n")) return 2;
  Sleep(seconds * 1000);
  return 0;
}
