// The program's start-up and run sequence.
#pragma once

#include <cstdint>

// How long the console stays readable before a run ends without installing anything.
inline constexpr std::uint32_t kClosingPauseMilliseconds = 7000;

// Runs the whole utility; returns the process exit code (1 only when start-up fails).
int RunPatchUpdate();
