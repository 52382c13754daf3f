// Read-only access to HKEY_LOCAL_MACHINE: open a key by path, query one value, close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Every value is queried into a buffer of this many bytes; longer data fails with kErrorMoreData.
inline constexpr std::size_t kRegistryValueBufferBytes = 256;

// Owns one open registry key; closing it is the implementation's business. Move-only.
class RegistryKey {
 public:
  RegistryKey() noexcept = default;
  explicit RegistryKey(std::uintptr_t handle) noexcept : handle_(handle) {}
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  RegistryKey(RegistryKey&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }

  bool IsOpen() const noexcept { return handle_ != 0; }
  std::uintptr_t Handle() const noexcept { return handle_; }
  // Closes the key if open; afterwards IsOpen() is false.
  void Close() noexcept;

 private:
  std::uintptr_t handle_ = 0;
};

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
