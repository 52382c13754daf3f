#include <windows.h>

#include <vector>

#include "platform/module.h"
#include "platform/win32/system_library.h"

namespace platform {

void RestrictLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  // kernel32 is mapped in every process; its handle is the system's, not ours to free.
  const auto setDefault =
      win32::FunctionOf<SetDefaultDllDirectoriesFn>(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
  if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE) return;
  // Without it, at least the working directory leaves the search.
  (void)::SetDllDirectoryW(L"");
}

bool HasModuleHandle() { return ::GetModuleHandleW(nullptr) != nullptr; }

bool InitializeApplication() {
  // An unattended run must never stop at a system error box (missing drive, crash dialog).
  // (COM is started by the installer launch alone: a run that launches nothing doesn't load it.)
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  return true;
}

std::wstring GetModulePath() {
  // Paths can run to 32767 characters; the buffer doubles until the whole path fits.
  constexpr std::size_t kLimit = 65536;
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size() || buffer.size() >= kLimit) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace platform
