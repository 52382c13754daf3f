"""PatchUpdateResult.exe run as a deployment system runs it, one scenario per exit-code class.

Each is an existing scenario run again through the companion: the same machine, the same console
passed through and the same log, then the companion's closing line, its full exit code (read on the
Windows side by the exit_code helper) and the copy it keeps under ProgramData.
"""

import dataclasses

import scenarios_faults
import scenarios_guard
import scenarios_install
import scenarios_run
from harness import Companion, Scenario, find
from texts import (CONSOLE_COMPLETED, CONSOLE_GUARD_BLOCKED, LOG_ALREADY_APPLIED, LOG_DESCRIPTOR_NOT_FOUND,
                   LOG_INSTALL_COMPLETED, LOG_INSTALL_MISMATCH, LOG_NOT_APPLICABLE)

BASES = scenarios_run.SCENARIOS + scenarios_install.SCENARIOS + scenarios_guard.SCENARIOS + scenarios_faults.SCENARIOS
FROM_CONSOLE = " (no log from this run; read from its console)"


def again(name: str, companion: Companion, suffix: str = "", why: str = "", expect=None, **changes) -> Scenario:
    """The scenario `name` through the companion; `changes` and `expect` (Expect fields) vary it."""
    base = find(BASES, name)
    return dataclasses.replace(
        base, name="companion_" + name + suffix, companion=companion,
        description=f"through PatchUpdateResult.exe, {companion.outcome} ({companion.code}): {why or base.description}",
        expect=dataclasses.replace(base.expect, **(expect or {})), **changes)


SCENARIOS = [
    again("run_patch_applied", Companion("applied", 0, LOG_INSTALL_COMPLETED)),
    again("run_patch_applied_dlls_planted", Companion("applied", 0, LOG_INSTALL_COMPLETED)),
    again("install_second_run_exe_at_patch_version", Companion("already-applied", 0, LOG_ALREADY_APPLIED)),
    again("guard_vdt_running", Companion("blocked", 1618, CONSOLE_GUARD_BLOCKED.rstrip("\n"))),
    again("install_mismatch", Companion("install-failed", 1603, LOG_INSTALL_MISMATCH)),
    again("guard_nothing_running", Companion("broken-package", 1620, LOG_DESCRIPTOR_NOT_FOUND),
          why="no descriptor beside the utility; the older log beside it is replaced and read"),
    again("install_version_not_previous", Companion("not-applicable", 1642, LOG_NOT_APPLICABLE)),
    # No fresh log: the older one beside the utility must not be taken for this run's.
    again("guard_nothing_running",
          Companion("no-log", 1622, "no log from this run, and the console names no outcome"),
          suffix="_log_read_only", why="the older log is read-only and the console names no outcome",
          read_only=[scenarios_faults.LOG_PATH], expect={"log": None}),
    again("faults_log_read_only",
          Companion("applied", 0, CONSOLE_COMPLETED.rstrip("\n") + FROM_CONSOLE),
          why="the older log is read-only; the console still says the patch was applied"),
]

