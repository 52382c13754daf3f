#include <windows.h>

#include <vector>

#include "platform/child_process.h"
#include "platform/win32/long_path.h"
#include "platform/win32/scoped_handle.h"

namespace platform {
namespace {

// How often the pipe is looked at while the program runs.
constexpr DWORD kPollMilliseconds = 50;

// Copies whatever the pipe holds now to our output and to the transcript; false once it is broken.
bool Drain(HANDLE pipe, HANDLE out, std::vector<std::uint8_t>& transcript) {
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    std::vector<std::uint8_t> chunk(available);
    DWORD read = 0;
    if (!::ReadFile(pipe, chunk.data(), available, &read, nullptr) || read == 0) return false;
    chunk.resize(read);
    transcript.insert(transcript.end(), chunk.begin(), chunk.end());
    DWORD written = 0;
    if (out != nullptr && out != INVALID_HANDLE_VALUE) (void)::WriteFile(out, chunk.data(), read, &written, nullptr);
  }
}

}  // namespace

ChildRun RunRelayingOutput(const std::wstring& file, const std::wstring& directory) {
  ChildRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
    run.error = ::GetLastError();
    return run;
  }
  win32::ScopedHandle pipe(readEnd);
  win32::ScopedHandle childEnd(writeEnd);
  // Only the child gets the write end; our read end stays ours.
  (void)::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;

  const std::wstring application = win32::ShortEnough(file);
  const std::wstring folder = win32::ShortEnough(directory);
  // The command line names the program again, quoted, as its argv[0]; the path alone picks the file.
  std::wstring commandLine = L"\"" + application + L"\"";
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    run.error = ::GetLastError();
    return run;
  }
  win32::ScopedHandle child(process.hProcess);
  const win32::ScopedHandle thread(process.hThread);
  childEnd.Close();

  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  bool open = true;
  while (::WaitForSingleObject(child.Get(), kPollMilliseconds) == WAIT_TIMEOUT) {
    if (open) open = Drain(pipe.Get(), out, run.output);
  }
  if (open) (void)Drain(pipe.Get(), out, run.output);
  DWORD exitCode = 0;
  if (::GetExitCodeProcess(child.Get(), &exitCode)) run.exitCode = exitCode;
  return run;
}

std::wstring ProgramDataFolder() {
  // From the environment, which needs no shell library; SYSTEM and every user have it.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetEnvironmentVariableW(L"ProgramData", buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length);
  }
}

std::wstring MachineName() {
  wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(buffer, &length)) return {};
  return std::wstring(buffer, length);
}

}  // namespace platform
