// Paths of MAX_PATH characters or more (a patch package unpacked deep in a deployment cache).
// The file functions take them only in the extended-length form "\\?\"; process creation and
// version resources take them not at all, so those get the short (8.3) form when there is one.
// Shorter paths pass through unchanged, so their meaning (relative, drive root) stays the system's.
#pragma once

#include <windows.h>

#include <string>

namespace platform::win32 {

// Below this the plain form works everywhere (folders are limited to MAX_PATH - 12).
inline constexpr std::size_t kPlainPathLimit = MAX_PATH - 12;

// The text of a call that is asked its size first: `call(nullptr, 0)` gives the characters needed, NUL
// included, and `call(buffer, size)` the length written. Empty when either fails or the text grew meanwhile.
template <typename Call>
std::wstring SizedText(Call call) {
  const DWORD needed = call(nullptr, 0);
  if (needed == 0) return {};
  std::wstring text(needed, L'\0');
  const DWORD length = call(text.data(), needed);
  if (length == 0 || length >= needed) return {};
  text.resize(length);
  return text;
}

// The full path as the file functions resolve it (relative parts, "..", "/" and trailing dots gone); an
// extended-length path "\\?\" as it is, which the system takes verbatim. Empty when it can't be resolved.
inline std::wstring FullPath(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\", 0) == 0) return path;
  return SizedText(
      [&path](wchar_t* buffer, DWORD size) { return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr); });
}

// The path as the file functions (CreateFileW, GetFileAttributesW, MoveFileExW, DeleteFileW) need it.
inline std::wstring ForFileApi(const std::wstring& path) {
  if (path.size() < kPlainPathLimit || path.rfind(L"\\\\?\\", 0) == 0) return path;
  // The extended form skips the system's normalisation ("..", "/"), so normalise first.
  const std::wstring full = FullPath(path);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return path;
}

// The path in a form short enough for CreateProcess and LoadLibrary; unchanged when it already is,
// or when the volume keeps no short names.
inline std::wstring ShortEnough(const std::wstring& path) {
  if (path.size() < kPlainPathLimit) return path;
  const std::wstring extended = ForFileApi(path);
  std::wstring shortPath = SizedText(
      [&extended](wchar_t* buffer, DWORD size) { return ::GetShortPathNameW(extended.c_str(), buffer, size); });
  if (shortPath.empty()) return path;
  if (shortPath.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    shortPath = L"\\\\" + shortPath.substr(8);
  } else if (shortPath.rfind(L"\\\\?\\", 0) == 0) {
    shortPath.erase(0, 4);
  }
  return shortPath.size() < kPlainPathLimit ? shortPath : path;
}

}  // namespace platform::win32
