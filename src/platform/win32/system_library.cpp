#include "platform/win32/system_library.h"

#include <string>

#include "platform/win32/long_path.h"

namespace platform::win32 {

std::wstring SystemFolder() {
  return SizedText([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); });
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
