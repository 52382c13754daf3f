// Read-only access to HKEY_LOCAL_MACHINE: open a key by path, query one value, close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/scoped_generic.h"

namespace platform {

// Every value is queried into a buffer of this many bytes; longer data fails with kErrorMoreData.
inline constexpr std::size_t kRegistryValueBufferBytes = 256;

// How an open registry key is closed: the implementation's business.
struct RegistryKeyTraits {
  static constexpr std::uintptr_t InvalidValue() noexcept { return 0; }
  static bool Free(std::uintptr_t key) noexcept;
};

// Owns one open registry key. Move-only.
using RegistryKey = ScopedGeneric<std::uintptr_t, RegistryKeyTraits>;

// Opens HKEY_LOCAL_MACHINE\path for reading, in the view where the path names exactly the key it spells
// (never redirected to Wow6432Node). Returns the error code (0 on success);
// on failure `key` stays closed.
std::int32_t OpenLocalMachineKey(const std::wstring& path, RegistryKey& key);

struct RegistryValue {
  std::int32_t code = 0;            // 0, kErrorFileNotFound, kErrorMoreData or any other code
  std::vector<std::uint8_t> bytes;  // the returned data; its size is the returned byte count
};

// Queries one value into a kRegistryValueBufferBytes buffer; the value's type is not looked at.
RegistryValue QueryRegistryValue(const RegistryKey& key, const std::wstring& name);

// Registry value types, as the system numbers them.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// A value read whole can be no larger than this; larger ones fail with kErrorMoreData.
inline constexpr std::size_t kRegistryWholeValueLimit = 1U << 20;

struct RegistryData {
  std::int32_t code = 0;            // 0, kErrorFileNotFound, kErrorMoreData or any other code
  std::uint32_t type = 0;           // the value's type, when read
  std::vector<std::uint8_t> bytes;  // all of its data, when read
};

// Queries one value whole, however long (up to `maxBytes`), with its type; a longer one fails with
// kErrorMoreData.
RegistryData QueryRegistryData(const RegistryKey& key, const std::wstring& name,
                               std::size_t maxBytes = kRegistryWholeValueLimit);

// Opens HKEY_LOCAL_MACHINE\path for writing, creating the missing keys, in the same view as
// OpenLocalMachineKey. Returns the error code (0 on success); on failure `key` stays closed.
std::int32_t CreateLocalMachineKey(const std::wstring& path, RegistryKey& key);

// Sets a REG_SZ value. Returns the error code (0 on success).
std::int32_t SetRegistryString(const RegistryKey& key, const std::wstring& name, const std::wstring& text);

// Sets a REG_DWORD value. Returns the error code (0 on success).
std::int32_t SetRegistryDword(const RegistryKey& key, const std::wstring& name, std::uint32_t value);

}  // namespace platform
