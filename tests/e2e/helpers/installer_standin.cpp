// The patch installer, played by a program that records what it got and does what the scenario asks.
//
// On every start it appends to "installer_record.txt" beside itself (UTF-8, LF):
//   invocation
//   commandline: <GetCommandLineW()>
//   cwd: <current directory>
//   show: <wShowWindow from the start-up info, or "default" when none was given>
// then runs the lines of "installer_actions.txt" beside itself (UTF-8), one action per line:
//   copy FILE    copy FILE (beside the installer, or a full path) over "<INSTALLPATH>\Vdt.exe"
//   delete       delete "<INSTALLPATH>\Vdt.exe"
//   schedule FILE  copy FILE beside the installer to "<INSTALLPATH>\Vdt.exe.new" and schedule it to replace
//                "<INSTALLPATH>\Vdt.exe" at the next restart, as an installer does when Vdt.exe is in use
//   leave        do nothing
//   sleep N      sleep N seconds
//   await FILE N wait until FILE beside the installer exists (the harness's signal), at most N seconds
//   exit N       end now with exit code N
//   crash        die of an access violation
//   abort        die through abort()
//   block        wait for ever without using the processor, as a hung program does (the harness's
//                watchdog must end it)
// INSTALLPATH comes from INSTALLPATH="..." on the command line. Failed actions append "error: ..." to
// the record. Without an actions file it just ends with exit code 0.
#include <cstdlib>

#include "common.h"

namespace {

const wchar_t kRecordName[] = L"installer_record.txt";
const wchar_t kActionsName[] = L"installer_actions.txt";
const wchar_t kInstallPathKey[] = L"INSTALLPATH=\"";

std::wstring Folder() { return e2e::FolderOf(e2e::ModulePath()); }

void Record(const std::string& line) { e2e::WriteWholeFile(Folder() + L"\\" + kRecordName, line + "\n", true); }

std::wstring CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::vector<wchar_t> buffer(size + 1);
  const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  return std::wstring(buffer.data(), length);
}

std::string ShowState() {
  STARTUPINFOW info{};
  info.cb = sizeof info;
  GetStartupInfoW(&info);
  if ((info.dwFlags & STARTF_USESHOWWINDOW) == 0) return "default";
  return std::to_string(info.wShowWindow);
}

// The quoted value after INSTALLPATH=; empty when the command line has none.
std::wstring InstallPath(const std::wstring& commandLine) {
  const auto start = commandLine.find(kInstallPathKey);
  if (start == std::wstring::npos) return {};
  const auto from = start + (sizeof kInstallPathKey / sizeof kInstallPathKey[0]) - 1;
  const auto end = commandLine.find(L'"', from);
  return commandLine.substr(from, end == std::wstring::npos ? std::wstring::npos : end - from);
}

std::vector<std::wstring> ActionLines() {
  std::string bytes;
  if (!e2e::ReadWholeFile(Folder() + L"\\" + kActionsName, bytes)) return {};
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    auto end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) lines.push_back(e2e::FromUtf8(line));
    start = end + 1;
  }
  return lines;
}

// An unhandled exception ends the process with the exception code, as a crash does, but without the
// debugger or crash dialog that would otherwise start (and write into the caller's console).
LONG WINAPI EndWithExceptionCode(EXCEPTION_POINTERS* info) {
  TerminateProcess(GetCurrentProcess(), info->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

[[noreturn]] void Crash() {
  SetUnhandledExceptionFilter(EndWithExceptionCode);
  RaiseException(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), EXCEPTION_NONCONTINUABLE, 0, nullptr);
  ExitProcess(static_cast<UINT>(EXCEPTION_ACCESS_VIOLATION));
}

}  // namespace

int main() {
  const std::wstring commandLine = GetCommandLineW();
  Record("invocation");
  Record("commandline: " + e2e::ToUtf8(commandLine));
  Record("cwd: " + e2e::ToUtf8(CurrentDirectory()));
  Record("show: " + ShowState());

  const std::wstring target = InstallPath(commandLine) + L"\\Vdt.exe";
  for (const std::wstring& line : ActionLines()) {
    const auto blank = line.find(L' ');
    const std::wstring verb = line.substr(0, blank);
    const std::wstring arg = blank == std::wstring::npos ? std::wstring() : line.substr(blank + 1);
    if (verb == L"copy") {
      const bool absolute = arg.size() > 1 && (arg[1] == L':' || arg[0] == L'\\');
      const std::wstring source = absolute ? arg : Folder() + L"\\" + arg;
      if (!CopyFileW(source.c_str(), target.c_str(), FALSE))
        Record("error: copy " + e2e::ToUtf8(source) + " -> " + e2e::ToUtf8(target) + " failed " +
               std::to_string(GetLastError()));
    } else if (verb == L"schedule") {
      const std::wstring source = Folder() + L"\\" + arg;
      const std::wstring staged = target + L".new";
      if (!CopyFileW(source.c_str(), staged.c_str(), FALSE) ||
          !MoveFileExW(staged.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
        Record("error: schedule " + e2e::ToUtf8(staged) + " -> " + e2e::ToUtf8(target) + " failed " +
               std::to_string(GetLastError()));
    } else if (verb == L"delete") {
      if (!DeleteFileW(target.c_str()))
        Record("error: delete " + e2e::ToUtf8(target) + " failed " + std::to_string(GetLastError()));
    } else if (verb == L"leave") {
    } else if (verb == L"sleep") {
      Sleep(e2e::Seconds(arg, 0) * 1000);
    } else if (verb == L"await") {
      const auto space = arg.find(L' ');
      const std::wstring signal = Folder() + L"\\" + arg.substr(0, space);
      const DWORD limit = e2e::Seconds(space == std::wstring::npos ? std::wstring() : arg.substr(space + 1), 600);
      for (DWORD waited = 0; GetFileAttributesW(signal.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited) {
        if (waited == limit * 5) {
          Record("error: await " + e2e::ToUtf8(signal) + " timed out");
          break;
        }
        Sleep(200);
      }
    } else if (verb == L"exit") {
      return static_cast<int>(e2e::Seconds(arg, 0));
    } else if (verb == L"crash") {
      Crash();
    } else if (verb == L"abort") {
      std::abort();
    } else if (verb == L"block") {
      Sleep(INFINITE);
    } else {
      Record("error: unknown action " + e2e::ToUtf8(line));
    }
  }
  return 0;
}
