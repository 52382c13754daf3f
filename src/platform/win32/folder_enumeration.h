// One folder's entries through FindFirstFileExW, as the results folder and the report's walk list them.
// Private to the Windows layer.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/win32/long_path.h"
#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

// Calls onEntry(const WIN32_FIND_DATAW&) for every entry of `folder` but "." and "..". Returns 0 or the
// error code. The caller has made sure the folder exists: an empty one (a drive root can be) fails with
// the same code as a missing one, and is taken as empty. Basic information (no short names) fetched in
// large batches: the walk lists many folders.
template <typename OnEntry>
DWORD ForEachEntry(const std::wstring& folder, OnEntry&& onEntry) {
  std::wstring pattern = ForFileApi(folder);
  if (pattern.empty() || (pattern.back() != L'\\' && pattern.back() != L'/')) pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data{};
  const ScopedFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH));
  if (!find.IsValid()) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  do {
    const std::wstring_view name(data.cFileName);
    if (name != L"." && name != L"..") onEntry(static_cast<const WIN32_FIND_DATAW&>(data));
  } while (::FindNextFileW(find.Get(), &data));
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

}  // namespace platform::win32
