// The program's start-up and run sequence.
#pragma once

#include <cstdint>

// How long the console stays readable before a run ends without installing anything.
inline constexpr std::uint32_t kClosingPauseMilliseconds = 7000;

// The last console line of every run that got as far as the applicability decision.
inline constexpr wchar_t kWaitToClose[] = L"Please wait to close the application...\n";

// Runs the whole utility; returns the process exit code (1 only when start-up fails).
int RunPatchUpdate();
