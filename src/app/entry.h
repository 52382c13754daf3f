// The program's start-up and run sequence.
#pragma once

// Runs the whole utility; returns the process exit code (1 only when start-up fails).
int RunPatchUpdate();
