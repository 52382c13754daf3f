// Owner of a file descriptor; move-only, closed on destruction. Private to the Linux layer.
#pragma once

#include <unistd.h>

#include <utility>

namespace platform::posix {

class ScopedFd {
 public:
  ScopedFd() noexcept = default;
  explicit ScopedFd(int fd) noexcept : fd_(fd) {}
  ~ScopedFd() { Close(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  ScopedFd(ScopedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  bool IsValid() const noexcept { return fd_ >= 0; }
  int Get() const noexcept { return fd_; }
  // Gives the descriptor up to the caller; afterwards IsValid() is false.
  int Release() noexcept { return std::exchange(fd_, -1); }

  // Closes now; false when close reported an error (errno says which), true when nothing was open.
  bool Close() noexcept {
    if (fd_ < 0) return true;
    // Not retried on EINTR: Linux has released the descriptor by then.
    return ::close(std::exchange(fd_, -1)) == 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace platform::posix
