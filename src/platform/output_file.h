// A file written front to back in pieces, as a report streams its rows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

// Owns one file open for writing; the first failure is kept and every later write skipped. Move-only.
class OutputFile {
 public:
  OutputFile() noexcept = default;
  ~OutputFile() { (void)Close(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  OutputFile(OutputFile&& other) noexcept
      : handle_(std::exchange(other.handle_, 0)), error_(std::exchange(other.error_, 0)) {}
  OutputFile& operator=(OutputFile&& other) noexcept {
    if (this != &other) {
      (void)Close();
      handle_ = std::exchange(other.handle_, 0);
      error_ = std::exchange(other.error_, 0);
    }
    return *this;
  }

  // Creates or truncates `path`. Returns 0 or the error code.
  std::uint32_t Open(const std::wstring& path);
  void Write(std::string_view bytes);
  // Flushes and closes; 0 when every write since Open went through, else the first error code.
  std::uint32_t Close() noexcept;

 private:
  std::uintptr_t handle_ = 0;
  std::uint32_t error_ = 0;
};

}  // namespace platform
