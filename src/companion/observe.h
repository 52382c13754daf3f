// What one run of PatchUpdate.exe came to, before any of it is kept, recorded or said: the facts
// gathered before the run, what the utility left and said, and the outcome settled against what waits
// for a restart and Vdt.exe's version afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/run_lock.h"
#include "result/outcome_file.h"

struct Observation {
  std::wstring stamp;                            // the start's "YYYYMMDD-HHMMSS", which names the kept files
  result::OutcomeRecord record;                  // the settled outcome, its code and reason, the versions
  std::optional<std::vector<std::uint8_t>> log;  // the log this run wrote; none when it wrote none
  bool restartPending = false;                   // a restart completes what this run did
  bool patchRecord = true;  // false when another run holds the lock: the patch's own record is that run's
};

// Runs PatchUpdate.exe beside this program, one run at a time by `lock`, which stays taken for the caller
// to publish the observation under. The lock's own troubles are said on the console as they happen.
Observation ObserveRun(platform::RunLock& lock);
