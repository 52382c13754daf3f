#include "app/entry.h"

#include <exception>
#include <new>

#include "app/patch_execute.h"
#include "guard/filter_process.h"
#include "log/messages.h"
#include "log/run_log.h"
#include "platform/console.h"
#include "platform/module.h"
#include "platform/pause.h"

namespace {

using namespace messages::startup;

constexpr int kExitCompleted = 0;
constexpr int kExitStartUpFailed = 1;

// Everything after start-up: the guard, the patch run and the log. Always ends with 0.
int RunGuardedPatch() {
  const CFilterProcess guard;
  if (guard.m_bBlocked) {
    // The guard's message is the whole log; nothing of the installation is looked at.
    WriteRunLog(guard.GetStatusMessage());
    platform::Pause(kClosingPauseMilliseconds);
    return kExitCompleted;
  }

  // Declared after the guard, so it is destroyed first.
  CPatchExecute run;
  if (run.m_bReady) {
    run.RunPatch();
  } else {
    platform::Pause(kClosingPauseMilliseconds);
  }
  WriteRunLog(run.GetLog());
  return kExitCompleted;
}

}  // namespace

int RunPatchUpdate() {
  if (!platform::HasModuleHandle()) {
    platform::WriteConsoleText(kNoModuleHandle);
    return kExitStartUpFailed;
  }
  if (!platform::InitializeApplication()) {
    platform::WriteConsoleText(kInitializationFailed);
    return kExitStartUpFailed;
  }

  // The operator must not close the console half-way through an install; results are not
  // tested because without a console window there is nothing to remove.
  platform::DeleteSystemMenuItem(platform::kScClose);
  platform::DeleteSystemMenuItem(platform::kScMinimize);
  platform::DeleteSystemMenuItem(platform::kScMaximize);

  // Steps report through the log and flags; an exception here means the run can't go on at all.
  try {
    return RunGuardedPatch();
  } catch (const std::bad_alloc&) {
    platform::WriteConsoleText(kOutOfMemory);
  } catch (const std::exception&) {
    platform::WriteConsoleText(kInternalFailure);
  }
  return kExitStartUpFailed;
}
