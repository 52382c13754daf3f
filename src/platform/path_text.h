// Folder of a Windows path text: everything before its last backslash; empty when it has none.
#pragma once

#include <string>
#include <string_view>

inline std::wstring FolderOf(std::wstring_view path) {
  const auto last = path.rfind(L'\\');
  return last == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, last));
}
