"""Running-application guard: the product or Excel running stops the run before anything else."""

import installation as inst
from scenario import DEFAULT_PATCH_DIR, Expect, Scenario
from texts import (CONSOLE_GUARD_BLOCKED, CONSOLE_VALIDATION_IN_PROGRESS, LOG_DESCRIPTOR_NOT_FOUND, LOG_FILE_NAME,
                   LOG_MODE_1, LOG_THREE_COMPLETED, LOG_TWO_COMPLETED, LOG_VERSION_COMPLETED, log_entries)

# Blocked: the guard's message, with its single line feed, is the whole log text.
BLOCKED = Expect(console=CONSOLE_GUARD_BLOCKED, log=CONSOLE_GUARD_BLOCKED, min_seconds=7)

# Not blocked, installed product, no descriptor: validation's entries, then the missing descriptor.
NOT_BLOCKED = Expect(
    console=CONSOLE_VALIDATION_IN_PROGRESS,
    log=log_entries(LOG_MODE_1, LOG_VERSION_COMPLETED, LOG_THREE_COMPLETED, LOG_TWO_COMPLETED,
                    LOG_DESCRIPTOR_NOT_FOUND),
    min_seconds=7)

SCENARIOS = [
    Scenario(
        name="guard_vdt_running",
        description="a running Vdt.exe blocks the run; the log holds only the guard's message",
        registry=inst.wow_registry(), files=inst.product_files(), running=["Vdt.exe"],
        expect=BLOCKED),
    Scenario(
        name="guard_excel_running",
        description="a running EXCEL.EXE blocks the run, whatever the letter case",
        registry=inst.wow_registry(), files=inst.product_files(), running=["EXCEL.EXE"],
        expect=BLOCKED),
    Scenario(
        name="guard_excel_bak_not_blocking",
        description="excel.exe.bak is not Excel: whole names are compared",
        registry=inst.wow_registry(), files=inst.product_files(), running=["excel.exe.bak"],
        expect=NOT_BLOCKED),
    Scenario(
        name="guard_nothing_running",
        description="nothing running: the run goes on and replaces an older, longer log beside the exe",
        registry=inst.wow_registry(),
        files={**inst.product_files(),
               DEFAULT_PATCH_DIR + "\\" + LOG_FILE_NAME: b"earlier run\r\n" * 2000},
        expect=NOT_BLOCKED),
]
