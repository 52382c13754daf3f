"""Running-application guard: the product or Excel running stops the run before anything else."""

from typing import Sequence

import installation as inst
from scenario import DEFAULT_PATCH_DIR, Expect, Scenario
from texts import (CONSOLE_GUARD_BLOCKED, CONSOLE_VALIDATION_IN_PROGRESS, LOG_DESCRIPTOR_NOT_FOUND, LOG_FILE_NAME,
                   log_entries)

# Blocked: the guard's message, with its single line feed, is the whole log text.
BLOCKED = Expect(console=CONSOLE_GUARD_BLOCKED, log=CONSOLE_GUARD_BLOCKED, min_seconds=7)

# Not blocked, installed product, no descriptor: validation's entries, then the missing descriptor.
NOT_BLOCKED = Expect(
    console=CONSOLE_VALIDATION_IN_PROGRESS,
    log=log_entries(*inst.VALIDATED, LOG_DESCRIPTOR_NOT_FOUND),
    min_seconds=7)



def guard(name: str, description: str, expect: Expect, running: Sequence[str] = (), files: dict = None) -> Scenario:
    """The installed product, with these processes running and `files` beside it."""
    return Scenario(name=name, description=description, registry=inst.wow_registry(),
                    files={**inst.product_files(), **(files or {})}, running=running, expect=expect)


SCENARIOS = [
    guard("guard_vdt_running", "a running Vdt.exe blocks the run; the log holds only the guard's message",
          BLOCKED, running=["Vdt.exe"]),
    guard("guard_excel_running", "a running EXCEL.EXE blocks the run, whatever the letter case",
          BLOCKED, running=["EXCEL.EXE"]),
    guard("guard_excel_bak_not_blocking", "excel.exe.bak is not Excel: whole names are compared",
          NOT_BLOCKED, running=["excel.exe.bak"]),
    guard("guard_nothing_running",
          "nothing running: the run goes on and replaces an older, longer log beside the exe",
          NOT_BLOCKED, files={DEFAULT_PATCH_DIR + "\\" + LOG_FILE_NAME: b"earlier run\r\n" * 2000}),
]
