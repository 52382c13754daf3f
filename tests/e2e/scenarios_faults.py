"""Faults: installers that fail, files held open by other programs, files that can't be read or written.

Every run starts from the same installation (Mode 1, Vdt.exe 14.0.0.100, an older record) and the same
patch package; only the fault differs. Whatever goes wrong, the run must end normally with exit code 0,
log what happened in order, and lose nothing: the previous record survives every failed write, and a log
that can't be replaced keeps its old content.
"""

import dataclasses

import installation as inst
from installation import (DESCRIPTOR, DESCRIPTOR_READ, INSTALLER_COMMAND_LINE, OLD_RECORD, PATCH_INFO, VALIDATED,
                          installer)
from scenario import DEFAULT_PATCH_DIR, Expect, InstallerCall, ProductExe, ProductVersionAfter, Scenario
from texts import (CONSOLE_COMPLETED, CONSOLE_INSTALLING, CONSOLE_UPDATE_FAILED, CONSOLE_UPDATE_MISMATCH,
                   CONSOLE_VALIDATION_IN_PROGRESS, CONSOLE_WAIT_TO_CLOSE, LOG_FILE_NAME, LOG_INSTALL_CANCELLED,
                   LOG_INSTALL_COMPLETED, LOG_INSTALL_MISMATCH, LOG_INSTALL_NOT_COMPLETED, LOG_RECORD_EXISTS,
                   LOG_RECORD_READ_COMPLETED, LOG_RECORD_READ_FAILED, LOG_RECORD_WRITE_FAILED, LOG_UPDATE_FOUND_1,
                   WINE_ERROR_ACCESS_DENIED, WINE_ERROR_SHARING_VIOLATION, file_error, log_entries)

LOG_PATH = DEFAULT_PATCH_DIR + "\\" + LOG_FILE_NAME
OLD_LOG = b"log of an earlier run\r\n" * 40
INSTALLER_CALL = InstallerCall(INSTALLER_COMMAND_LINE, cwd=DEFAULT_PATCH_DIR)

# The utility's CPU time allowed for a whole run that spends 30 s waiting for the installer and 10 s in
# its closing pause: a wait that polls instead of sleeping would use far more.
WAIT_SECONDS = 30
MAX_CPU_WHILE_WAITING = 1.0

# The old record is read and names another patch: the installer is started.
DECIDED_FROM_RECORD = (LOG_RECORD_EXISTS, LOG_RECORD_READ_COMPLETED, LOG_UPDATE_FOUND_1)

INSTALLING = CONSOLE_VALIDATION_IN_PROGRESS + CONSOLE_INSTALLING
APPLIED = dict(console=INSTALLING + CONSOLE_COMPLETED + CONSOLE_WAIT_TO_CLOSE, min_seconds=10)
NOT_APPLIED = {inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.100"), inst.RECORD: OLD_RECORD}
# The product folder after any install: no temporary file of a record write left behind.
PRODUCT_FOLDER = {inst.INSTALL_DIR: ["Vdt.exe", "installedupdates.dat"]}


def faulty(name: str, description: str, expect: Expect, files: dict = None, **fields) -> Scenario:
    """The usual installation and patch package, with `files` added, replaced or (None) removed, and the
    fault in `fields`."""
    fields.setdefault("installer", installer("copy new_Vdt.exe"))
    laid_out = {**inst.product_files("14.0.0.100"), inst.RECORD: OLD_RECORD, **(files or {})}
    return Scenario(name=name, description=description, registry=inst.wow_registry(),
                    files={path: content for path, content in laid_out.items() if content is not None},
                    descriptor=DESCRIPTOR, expect=expect, **fields)


def record_not_written(read: tuple, write_error: str, kept: dict = None) -> Expect:
    """The patch installed but its record refused: the read entries, the write failure with its cause,
    "not completed", and the old record (or what stands in its place) kept."""
    return Expect(
        console=INSTALLING + CONSOLE_UPDATE_FAILED + CONSOLE_WAIT_TO_CLOSE,
        log=log_entries(*VALIDATED, *DESCRIPTOR_READ, *read,
                        LOG_RECORD_WRITE_FAILED + file_error(write_error, inst.RECORD), LOG_INSTALL_NOT_COMPLETED),
        min_seconds=10,
        files={inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.200"), **(kept or {inst.RECORD: OLD_RECORD})},
        installer_calls=[INSTALLER_CALL], folder_contents=PRODUCT_FOLDER)


# The whole install went through; the log (and record) replaced as usual.
REPLACED = Expect(
    **APPLIED, log=log_entries(*VALIDATED, *DESCRIPTOR_READ, *DECIDED_FROM_RECORD, LOG_INSTALL_COMPLETED),
    files={inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.200"), inst.RECORD: PATCH_INFO},
    installer_calls=[INSTALLER_CALL], folder_contents=PRODUCT_FOLDER)


# The installer did nothing: version mismatch, the record kept.
MISMATCH = Expect(
    console=INSTALLING + CONSOLE_UPDATE_MISMATCH + CONSOLE_WAIT_TO_CLOSE,
    log=log_entries(*VALIDATED, *DESCRIPTOR_READ, *DECIDED_FROM_RECORD, LOG_INSTALL_MISMATCH),
    min_seconds=10, files=NOT_APPLIED, installer_calls=[INSTALLER_CALL])


def record_read_failed(error: str) -> tuple:
    """The record exists but can't be read: its cause, the failure, and revisions 100 < 200 decide."""
    return (LOG_RECORD_EXISTS, file_error(error, inst.RECORD), LOG_RECORD_READ_FAILED, LOG_UPDATE_FOUND_1)


SCENARIOS = [
    # --- The installer fails: judged by the version it leaves, the record untouched ---
    faulty(
        "faults_installer_crashes",
        "the installer dies of an access violation having done nothing: version mismatch, record kept",
        installer=installer("crash"), expect=MISMATCH),
    faulty(
        "faults_installer_exits_nonzero",
        "the installer ends with 1603 having done nothing: its exit code is not read, version mismatch",
        installer=installer("exit 1603"), expect=MISMATCH),
    faulty(
        "faults_installer_runs_30s",
        f"the installer takes {WAIT_SECONDS} s: the utility waits for it, using under "
        f"{MAX_CPU_WHILE_WAITING:g} s of CPU, then verifies",
        installer=installer(f"sleep {WAIT_SECONDS}", "copy new_Vdt.exe"),
        expect=dataclasses.replace(REPLACED, min_seconds=WAIT_SECONDS + 10, max_cpu_seconds=MAX_CPU_WHILE_WAITING)),
    faulty(
        "faults_exe_left_without_version",
        "the installer leaves a Vdt.exe without version resource: cancelled, record kept",
        installer=installer("copy new_Vdt.exe", new_exe=ProductExe(kind="no_version")),
        expect=Expect(
            console=INSTALLING + CONSOLE_UPDATE_FAILED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*VALIDATED, *DESCRIPTOR_READ, *DECIDED_FROM_RECORD, LOG_INSTALL_CANCELLED),
            min_seconds=10,
            files={inst.PRODUCT_EXE: ProductVersionAfter(None), inst.RECORD: OLD_RECORD},
            installer_calls=[INSTALLER_CALL], folder_contents=PRODUCT_FOLDER)),

    # --- Files held open by another program ---
    faulty(
        "faults_record_held_open",
        "another program holds the record: the read fails, revisions decide, the install runs, the record "
        "write fails and the old record stays",
        held_open=[inst.RECORD],
        expect=record_not_written(record_read_failed(WINE_ERROR_SHARING_VIOLATION), WINE_ERROR_SHARING_VIOLATION)),

    faulty(
        "faults_record_shared_open",
        "a scanner holds the record with full sharing: the exclusive read fails, the install runs, the new "
        "record is written beside it but can't be moved over it; the temporary file goes, the old record stays",
        held_shared=[inst.RECORD],
        expect=record_not_written(record_read_failed(WINE_ERROR_SHARING_VIOLATION), WINE_ERROR_ACCESS_DENIED)),

    # --- A record that can't be replaced ---
    faulty(
        "faults_record_read_only",
        "the record is read-only: it is read, the install runs, the write is denied and the old record stays",
        read_only=[inst.RECORD],
        expect=record_not_written(DECIDED_FROM_RECORD, WINE_ERROR_ACCESS_DENIED)),
    faulty(
        "faults_record_is_folder",
        "installedupdates.dat is a folder: read and write fail with access denied, the folder's content stays",
        files={inst.RECORD: None, inst.RECORD + r"\kept.txt": b"not ours"},
        expect=record_not_written(record_read_failed(WINE_ERROR_ACCESS_DENIED), WINE_ERROR_ACCESS_DENIED,
                                  kept={inst.RECORD + r"\kept.txt": b"not ours"})),

    # --- Files someone hid, left by an earlier run: replaced as any other ---
    # (Windows refuses to truncate a hidden or system file opened with normal attributes; Wine 8.0 doesn't,
    # so these rows keep the replacement working but can't show that refusal.)
    faulty(
        "faults_record_hidden_system",
        "the record is hidden and system: it is read, and replaced after the install",
        attributes={inst.RECORD: "hs"}, expect=REPLACED),

    # --- A log that can't be replaced: the run is not disturbed, the old log stays as it was ---
    faulty(
        "faults_log_read_only",
        "the old log is read-only: the patch is applied, nothing printed about the log, the old log unchanged",
        files={LOG_PATH: OLD_LOG}, read_only=[LOG_PATH], expect=dataclasses.replace(REPLACED, log=None)),
    faulty(
        "faults_log_locked",
        "another program holds the old log: the patch is applied, nothing printed about the log, the old "
        "log unchanged",
        files={LOG_PATH: OLD_LOG}, held_open=[LOG_PATH], expect=dataclasses.replace(REPLACED, log=None)),
    # ... but one someone hid is replaced as any earlier log.
    faulty(
        "faults_log_hidden_system",
        "the old log is hidden and system: it is replaced all the same",
        files={LOG_PATH: OLD_LOG}, attributes={LOG_PATH: "hs"}, expect=REPLACED),
]
