#include <windows.h>

#include "platform/registry.h"

namespace platform {
namespace {

// The platform headers keep handles as integers so that they carry no Windows types.
HKEY ToHkey(std::uintptr_t handle) { return reinterpret_cast<HKEY>(handle); }  // NOLINT(performance-no-int-to-ptr)

}  // namespace

void RegistryKey::Close() noexcept {
  if (handle_ != 0) {
    ::RegCloseKey(ToHkey(std::exchange(handle_, 0)));
  }
}

std::int32_t OpenLocalMachineKey(const std::wstring& path, RegistryKey& key) {
  key.Close();
  // The path alone decides which branch is read. This is a 32-bit program: on 64-bit Windows its plain
  // SOFTWARE paths would be redirected to Wow6432Node, so it asks for the 64-bit view, in which every
  // path names exactly the key it spells. 32-bit Windows ignores the bit.
  HKEY opened = nullptr;
  const LSTATUS status =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &opened);
  if (status != ERROR_SUCCESS) return static_cast<std::int32_t>(status);
  key = RegistryKey(reinterpret_cast<std::uintptr_t>(opened));
  return 0;
}

RegistryValue QueryRegistryValue(const RegistryKey& key, const std::wstring& name) {
  RegistryValue result;
  if (!key.IsOpen()) {
    result.code = ERROR_INVALID_HANDLE;
    return result;
  }
  std::vector<std::uint8_t> buffer(kRegistryValueBufferBytes);
  DWORD size = static_cast<DWORD>(buffer.size());
  DWORD type = REG_SZ;  // whatever type comes back, the bytes are read as text by the caller
  const LSTATUS status = ::RegQueryValueExW(ToHkey(key.Handle()), name.c_str(), nullptr, &type, buffer.data(), &size);
  result.code = static_cast<std::int32_t>(status);
  if (status == ERROR_SUCCESS) {
    buffer.resize(size < buffer.size() ? size : buffer.size());
    result.bytes = std::move(buffer);
  }
  return result;
}

}  // namespace platform
