// Starting the patch installer hidden and waiting for it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace platform {

// Owns a process handle; closing it is the implementation's business. Move-only.
class ProcessHandle {
 public:
  ProcessHandle() noexcept = default;
  explicit ProcessHandle(std::uintptr_t handle) noexcept : handle_(handle) {}
  ~ProcessHandle() { Close(); }
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;
  ProcessHandle(ProcessHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  ProcessHandle& operator=(ProcessHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }

  bool IsValid() const noexcept { return handle_ != 0; }
  std::uintptr_t Handle() const noexcept { return handle_; }
  void Close() noexcept;

 private:
  std::uintptr_t handle_ = 0;
};

struct LaunchResult {
  std::uint32_t error = 0;  // 0 when launched, else the error code in Windows' numbering
  ProcessHandle process;    // may be empty even after a launch
};

// Starts `file` (a full path) with `parameters` in `directory`, no window, no dialogs of any kind.
LaunchResult LaunchHidden(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory);

// Blocks until the process ends; no time limit.
void WaitForProcessEnd(const ProcessHandle& process);

}  // namespace platform
