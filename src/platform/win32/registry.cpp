// Keys are opened and created in the 64-bit view: this 32-bit program would otherwise read and write
// Wow6432Node on 64-bit Windows, where the product's keys are not. Whole values are read with the size
// the system reports, bounded, because a value can grow between the call that sizes it and the next.
#include <windows.h>

#include <string>

#include "platform/registry.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/trusted_owner.h"

namespace platform {
namespace {

// What a link key holds: the path it leads to.
constexpr wchar_t kLinkValue[] = L"SymbolicLinkValue";

// Whether a key opened as itself is one we may write in: no link, owned by a trusted account.
bool IsTrustedKey(HKEY key) {
  DWORD type = REG_NONE;
  const LSTATUS link = ::RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr);
  if (link != ERROR_FILE_NOT_FOUND) return false;  // a link, or a key that won't say
  return win32::CheckOwner(key, SE_REGISTRY_KEY, win32::IsTrustedOwner) == ERROR_SUCCESS;
}

// Rounds of "sized, then grown in between"; only a value rewritten that often runs out of them.
constexpr int kQueryAttempts = 8;

}  // namespace

bool RegistryKeyTraits::Free(std::uintptr_t key) noexcept {
  return ::RegCloseKey(win32::ToHandle<HKEY>(key)) == ERROR_SUCCESS;
}

std::int32_t OpenLocalMachineKey(const std::wstring& path, RegistryKey& key) {
  key.Close();
  // The path alone decides which branch is read. This is a 32-bit program: on 64-bit Windows its plain
  // SOFTWARE paths would be redirected to Wow6432Node, so it asks for the 64-bit view, in which every
  // path names exactly the key it spells. 32-bit Windows ignores the bit.
  HKEY opened = nullptr;
  const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &opened);
  if (status != ERROR_SUCCESS) return static_cast<std::int32_t>(status);
  key = RegistryKey(reinterpret_cast<std::uintptr_t>(opened));
  return 0;
}

RegistryData QueryRegistryData(const RegistryKey& key, const std::wstring& name, std::size_t maxBytes) {
  RegistryData result;
  if (!key.IsValid()) {
    result.code = ERROR_INVALID_HANDLE;
    return result;
  }
  std::vector<std::uint8_t> buffer(kRegistryValueBufferBytes);
  for (int attempt = 0; attempt < kQueryAttempts; ++attempt) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD type = REG_NONE;
    const LSTATUS status =
        ::RegQueryValueExW(win32::ToHandle<HKEY>(key.Get()), name.c_str(), nullptr, &type, buffer.data(), &size);
    if (status == ERROR_SUCCESS) {
      buffer.resize(size < buffer.size() ? size : buffer.size());
      result.type = type;
      result.bytes = std::move(buffer);
      return result;
    }
    // On ERROR_MORE_DATA `size` is what the value needs now.
    if (status != ERROR_MORE_DATA || size > maxBytes) {
      result.code = static_cast<std::int32_t>(status);
      return result;
    }
    buffer.resize(size);
  }
  result.code = ERROR_MORE_DATA;
  return result;
}

// One query into a kRegistryValueBufferBytes buffer: a longer value fails with kErrorMoreData.
RegistryValue QueryRegistryValue(const RegistryKey& key, const std::wstring& name) {
  RegistryData data = QueryRegistryData(key, name, kRegistryValueBufferBytes);
  return {data.code, std::move(data.bytes)};
}

std::int32_t CreateLocalMachineKey(const std::wstring& path, RegistryKey& key) {
  key.Close();
  // One key at a time, each opened as itself (a registry link a user made is never followed) and
  // checked before anything is created below it or written in it: no link, a trusted owner.
  RegistryKey parent;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring name = path.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    HKEY created = nullptr;
    const LSTATUS status =
        ::RegCreateKeyExW(parent.IsValid() ? win32::ToHandle<HKEY>(parent.Get()) : HKEY_LOCAL_MACHINE, name.c_str(), 0,
                          nullptr, REG_OPTION_NON_VOLATILE | REG_OPTION_OPEN_LINK,
                          KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY | READ_CONTROL | KEY_WOW64_64KEY,
                          nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) return static_cast<std::int32_t>(status);
    RegistryKey opened(reinterpret_cast<std::uintptr_t>(created));
    if (!IsTrustedKey(created)) return ERROR_ACCESS_DENIED;
    parent = std::move(opened);
  }
  if (!parent.IsValid()) return ERROR_INVALID_PARAMETER;
  key = std::move(parent);
  return 0;
}

std::int32_t SetRegistryString(const RegistryKey& key, const std::wstring& name, const std::wstring& text) {
  if (!key.IsValid()) return ERROR_INVALID_HANDLE;
  // The byte count includes the terminating NUL, which c_str() supplies.
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (bytes > kRegistryWholeValueLimit) return ERROR_INVALID_PARAMETER;
  const LSTATUS status = ::RegSetValueExW(win32::ToHandle<HKEY>(key.Get()), name.c_str(), 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>(bytes));
  return static_cast<std::int32_t>(status);
}

std::int32_t SetRegistryDword(const RegistryKey& key, const std::wstring& name, std::uint32_t value) {
  if (!key.IsValid()) return ERROR_INVALID_HANDLE;
  const DWORD data = value;
  const LSTATUS status = ::RegSetValueExW(win32::ToHandle<HKEY>(key.Get()), name.c_str(), 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&data), sizeof(data));
  return static_cast<std::int32_t>(status);
}

}  // namespace platform
