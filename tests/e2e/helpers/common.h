// Small pieces the end-to-end helper programs share. Test tooling only: never linked into the utility.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace e2e {

// The program's own arguments, argv[0] excluded.
inline std::vector<std::wstring> Arguments() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> args;
  for (int i = 1; argv != nullptr && i < count; ++i) args.emplace_back(argv[i]);
  if (argv != nullptr) LocalFree(argv);
  return args;
}

inline std::wstring ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length < size) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

inline std::wstring FolderOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

inline std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int wide = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), size, nullptr, nullptr);
  return out;
}

inline std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int narrow = static_cast<int>(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), narrow, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), narrow, out.data(), size);
  return out;
}

// Creates or replaces a file with the bytes; false on any failure.
inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes, bool append = false) {
  HANDLE file = CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok != FALSE && written == bytes.size();
}

// The whole file, or false when it can't be read.
inline bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes.clear();
  char chunk[4096];
  DWORD got = 0;
  BOOL ok = TRUE;
  while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) != FALSE && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return ok != FALSE;
}

// Seconds from a decimal argument; `fallback` when it isn't one.
inline DWORD Seconds(const std::wstring& text, DWORD fallback) {
  if (text.empty()) return fallback;
  DWORD value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return fallback;
    value = value * 10 + static_cast<DWORD>(c - L'0');
  }
  return value;
}

}  // namespace e2e
