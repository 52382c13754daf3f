// Starting the patch installer hidden and waiting for it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/scoped_generic.h"

namespace platform {

// How a process handle is closed: the implementation's business.
struct ProcessHandleTraits {
  static constexpr std::uintptr_t InvalidValue() noexcept { return 0; }
  static bool Free(std::uintptr_t process) noexcept;
};

// Owns a process handle. Move-only.
using ProcessHandle = ScopedGeneric<std::uintptr_t, ProcessHandleTraits>;

struct LaunchResult {
  std::uint32_t error = 0;  // 0 when launched, else the error code in Windows' numbering
  ProcessHandle process;    // may be empty even after a launch
};

// Starts `file` (a full path) with `parameters` in `directory`, no window, no dialogs of any kind.
LaunchResult LaunchHidden(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory);

// Blocks until the process ends; no time limit.
void WaitForProcessEnd(const ProcessHandle& process);

}  // namespace platform
