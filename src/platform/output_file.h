// A file written front to back in pieces, as a report streams its rows. It is written under a new name
// beside its own and moved into place when closed, so whatever stood under that name before, a link
// included, is replaced and never written through; a failed file leaves nothing behind.
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

  // Starts the file for `path`. Returns 0 or the error code.
  std::uint32_t Open(const std::wstring& path);
  void Write(std::string_view bytes);
  // Flushes, closes and moves the file to its path; 0 when all of that and every write since Open went
  // through, else the first error code (and then the path is as it was).
  std::uint32_t Close() noexcept;

 private:
  std::uintptr_t handle_ = 0;
  std::uint32_t error_ = 0;
};

}  // namespace platform
