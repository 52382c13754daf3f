// Runs a program the way a deployment system does (its console ours, waited for by handle) and prints
// its full exit code as the last line "exit code N": Wine hands a Windows exit code to Linux only as
// its low 8 bits, so 1618 would arrive as 82.
//   exit_code.exe PROGRAM [ARGUMENTS...]
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "common.h"

int wmain() {
  // "\n" as it is, like the utility's own redirected console.
  (void)_setmode(_fileno(stdout), _O_BINARY);
  const auto args = e2e::Arguments();
  if (args.empty()) {
    std::fputs("usage: exit_code PROGRAM [ARGUMENTS...]\n", stderr);
    return 2;
  }
  std::wstring commandLine;
  for (const auto& arg : args) commandLine += (commandLine.empty() ? L"\"" : L" \"") + arg + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(args[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("not started, error %lu\n", GetLastError());
    return 3;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  std::fflush(stdout);
  std::printf("exit code %lu\n", code);
  return 0;
}
