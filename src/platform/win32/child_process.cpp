// The child inherits exactly its standard handles, named in PROC_THREAD_ATTRIBUTE_HANDLE_LIST: with
// bInheritHandles alone it would get every inheritable handle of ours. The list takes only real,
// inheritable handles, each once, so our standard input goes in as an inheritable duplicate (its own
// flag is left as it is); when there is none, or it is a Windows 7 console pseudo-handle, which the
// console hands over itself, it stays off the list.
#include <windows.h>

#include <vector>

#include "platform/child_process.h"
#include "platform/win32/long_path.h"
#include "platform/win32/scoped_handle.h"

namespace platform {
namespace {

// How often the pipe is looked at while the program runs.
constexpr DWORD kPollMilliseconds = 50;

// Windows 7 console handles are not kernel handles; they carry these low bits.
bool IsConsolePseudoHandle(HANDLE handle) { return (reinterpret_cast<std::uintptr_t>(handle) & 0x10000003) == 0x3; }

// Our standard input as the child is to get it: `owned` holds an inheritable duplicate when there is
// one to list; `listed` says whether the returned handle goes on the handle list.
HANDLE InputForChild(win32::ScopedHandle& owned, bool& listed) {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  listed = false;
  if (IsConsolePseudoHandle(input)) return input;
  // Not ours to pass on when it can't be duplicated: the child gets no standard input.
  HANDLE copy = win32::InheritableCopy(input, owned);
  listed = copy != nullptr;
  return copy;
}

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

  win32::ScopedHandle input;
  bool inputListed = false;
  std::vector<HANDLE> inherited{writeEnd};  // the list must outlive the attribute list that points to it
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = InputForChild(input, inputListed);
  startup.StartupInfo.hStdOutput = writeEnd;
  startup.StartupInfo.hStdError = writeEnd;
  if (inputListed) inherited.push_back(startup.StartupInfo.hStdInput);

  const win32::AttributeList attributes(1);
  if (attributes.Get() == nullptr ||
      !::UpdateProcThreadAttribute(attributes.Get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                   inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
    run.error = ::GetLastError();
    return run;
  }
  startup.lpAttributeList = attributes.Get();

  const std::wstring application = win32::ShortEnough(file);
  const std::wstring folder = win32::ShortEnough(directory);
  // The command line names the program again, quoted, as its argv[0]; the path alone picks the file.
  std::wstring commandLine = L"\"" + application + L"\"";
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT,
                        nullptr, folder.empty() ? nullptr : folder.c_str(), &startup.StartupInfo, &process)) {
    run.error = ::GetLastError();
    return run;
  }
  win32::ScopedHandle child(process.hProcess);
  const win32::ScopedHandle thread(process.hThread);
  childEnd.Close();
  input.Close();

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

}  // namespace platform
