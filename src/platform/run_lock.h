// One companion run at a time on a machine: a lock the system releases when the process that holds it
// ends, however it ends.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

// Owns the taken lock; dropping it releases the lock. Move-only.
class RunLock {
 public:
  RunLock() noexcept = default;
  explicit RunLock(std::uintptr_t handle) noexcept : handle_(handle) {}
  ~RunLock() { Release(); }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  RunLock(RunLock&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  RunLock& operator=(RunLock&& other) noexcept {
    if (this != &other) {
      Release();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }

  bool IsHeld() const noexcept { return handle_ != 0; }
  // Releases the lock if held; afterwards IsHeld() is false.
  void Release() noexcept;

 private:
  std::uintptr_t handle_ = 0;
};

enum class RunLockState {
  kTaken,          // ours until the RunLock is dropped or the process ends (a run that died left it free)
  kHeld,           // another run holds it now
  kForeign,        // the lock's name was made by an account other than SYSTEM, Administrators or ours:
                   // never waited for, so that no user can stop patching by holding it
  kFailed,         // the system refused for another reason (error says which)
};

struct RunLockAttempt {
  RunLockState state = RunLockState::kFailed;
  std::uint32_t error = 0;  // the system's error code for kFailed
};

// Tries once, without waiting, to take the machine's run lock into `lock`.
RunLockAttempt TakeRunLock(RunLock& lock);

}  // namespace platform
