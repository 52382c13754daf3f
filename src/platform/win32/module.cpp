#include <windows.h>
#include <objbase.h>

#include <vector>

#include "platform/module.h"

namespace platform {

bool HasModuleHandle() { return ::GetModuleHandleW(nullptr) != nullptr; }

bool InitializeApplication() {
  // An unattended run must never stop at a system error box (missing drive, crash dialog).
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // ShellExecuteExW may hand the launch to COM-based shell extensions; it wants an apartment.
  // Kept for the life of the process.
  const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
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
