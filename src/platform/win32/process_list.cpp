#include <windows.h>
#include <tlhelp32.h>

#include <new>

#include "platform/process_list.h"
#include "platform/win32/scoped_handle.h"

namespace platform {

std::optional<std::vector<std::wstring>> ListProcessNames() {
  const win32::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid()) return std::nullopt;

  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!::Process32FirstW(snapshot.Get(), &entry)) return std::nullopt;

  try {
    std::vector<std::wstring> names;
    do {
      names.emplace_back(entry.szExeFile);
    } while (::Process32NextW(snapshot.Get(), &entry));
    return names;
  } catch (const std::bad_alloc&) {
    return std::nullopt;  // a list we couldn't hold counts as unreadable
  }
}

}  // namespace platform
