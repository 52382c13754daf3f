// Owner of a kernel handle whose "none" value is INVALID_HANDLE_VALUE (snapshots and files).
// Private to the Windows layer; move-only, closes on destruction.
#pragma once

#include <windows.h>

#include <utility>

namespace platform::win32 {

class ScopedHandle {
 public:
  ScopedHandle() noexcept = default;
  explicit ScopedHandle(HANDLE handle) noexcept : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
  }

  bool IsValid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const noexcept { return handle_; }
  // Gives the handle up to the caller, who closes it; afterwards IsValid() is false.
  HANDLE Release() noexcept { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

  // Closes now and reports whether the close succeeded (true when nothing was open).
  bool Close() noexcept {
    if (!IsValid()) return true;
    const BOOL closed = ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
    return closed != FALSE;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace platform::win32
