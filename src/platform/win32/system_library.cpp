#include "platform/win32/system_library.h"

#include <string>
#include <vector>

namespace platform::win32 {

std::wstring SystemFolder() {
  const UINT needed = ::GetSystemDirectoryW(nullptr, 0);
  if (needed == 0) return {};
  std::vector<wchar_t> buffer(needed);
  const UINT length = ::GetSystemDirectoryW(buffer.data(), needed);
  if (length == 0 || length >= needed) return {};
  return std::wstring(buffer.data(), length);
}

ScopedModule LoadFromSystem32(const wchar_t* name) {
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // Windows 7 without its 2011 loader update lacks the flag: give the full path instead, and let the
    // DLL's own dependencies be searched from System32 too.
    const std::wstring folder = SystemFolder();
    if (folder.empty()) return ScopedModule();
    const std::wstring path = folder + L"\\" + name;
    module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return ScopedModule(module);
}

}  // namespace platform::win32
