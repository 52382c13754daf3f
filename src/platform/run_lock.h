// One companion run at a time on a machine: a lock the system releases when the process that holds it
// ends, however it ends.
#pragma once

#include <cstdint>

#include "platform/scoped_generic.h"

namespace platform {

// How a taken lock is released: the implementation's business.
struct RunLockTraits {
  static constexpr std::uintptr_t InvalidValue() noexcept { return 0; }
  static bool Free(std::uintptr_t lock) noexcept;
};

// Owns the taken lock; dropping it releases the lock. Move-only.
using RunLock = ScopedGeneric<std::uintptr_t, RunLockTraits>;

enum class RunLockState {
  kTaken,    // ours until the RunLock is dropped or the process ends (a run that died left it free)
  kHeld,     // another run holds it now
  kForeign,  // the lock's name was made by an account other than SYSTEM, Administrators or ours:
             // never waited for, so that no user can stop patching by holding it
  kFailed,   // the system refused for another reason (error says which)
};

struct RunLockAttempt {
  RunLockState state = RunLockState::kFailed;
  std::uint32_t error = 0;  // the system's error code for kFailed
};

// Tries once, without waiting, to take the machine's run lock into `lock`.
RunLockAttempt TakeRunLock(RunLock& lock);

}  // namespace platform
