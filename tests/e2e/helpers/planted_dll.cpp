// A DLL an attacker could leave in the patch folder or the working directory, copied there by the harness
// under names that Windows looks for beside a program (version.dll, uxtheme.dll, ...). When a process
// loads it, it appends a line "<process path>|<its own path>" to C:\planted_dll_loads.txt: the scenario
// fails when the utility wrote one. It also passes the three version.dll functions an importer needs on to
// the real version.dll, so a program that imports them runs on and the marker, not a failed start, tells.
// Test tooling only; kernel32 alone.
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kMarker[] = L"C:\\planted_dll_loads.txt";

std::wstring ModulePath(HMODULE module) {
  wchar_t buffer[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameW(module, buffer, static_cast<DWORD>(sizeof buffer / sizeof buffer[0]));
  return std::wstring(buffer, length);
}

void AppendMarker(HMODULE self) {
  const std::wstring line = ModulePath(nullptr) + L"|" + ModulePath(self) + L"\n";
  const int wide = static_cast<int>(line.size());
  char utf8[MAX_PATH * 16];
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), wide, utf8, sizeof utf8, nullptr, nullptr);
  HANDLE file = CreateFileW(kMarker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, utf8, static_cast<DWORD>(size > 0 ? size : 0), &written, nullptr);
  CloseHandle(file);
}

// The real version.dll, by its full System32 path.
FARPROC Real(const char* name) {
  static HMODULE real = [] {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? nullptr : LoadLibraryW((std::wstring(folder) + L"\\version.dll").c_str());
  }();
  return real == nullptr ? nullptr : GetProcAddress(real, name);
}

template <typename F>
F RealFunction(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(Real(name)));
}

}  // namespace

extern "C" {

DWORD WINAPI PlantedGetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle) {
  const auto real = RealFunction<DWORD(WINAPI*)(LPCWSTR, LPDWORD)>("GetFileVersionInfoSizeW");
  return real == nullptr ? 0 : real(file, handle);
}

BOOL WINAPI PlantedGetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data) {
  const auto real = RealFunction<BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID)>("GetFileVersionInfoW");
  return real == nullptr ? FALSE : real(file, handle, size, data);
}

BOOL WINAPI PlantedVerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length) {
  const auto real = RealFunction<BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT)>("VerQueryValueW");
  return real == nullptr ? FALSE : real(block, subBlock, buffer, length);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) AppendMarker(self);
  return TRUE;
}

}  // extern "C"
