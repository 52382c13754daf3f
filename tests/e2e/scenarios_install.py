"""The whole install job: the decision, the installer's launch and what the run makes of its result.

The successful first run is run_patch_applied (scenarios_run.py). Here: the second run after it, the
other ways the decision goes, installers that leave the wrong version or none, installers that can't be
started, a record that can't be written, and install folders that are awkward to pass on. Every run
starts from a validated installation (Mode 1, product 14.0) and a readable descriptor; install attempts
take at least 10 s, the others at least 7 s.
"""

import installation as inst
from scenario import DEFAULT_PATCH_DIR, Expect, InstallerCall, Interruption, ProductExe, ProductVersionAfter, Scenario
from installation import (DESCRIPTOR, DESCRIPTOR_READ, INSTALLER, INSTALLER_COMMAND_LINE, OLD_RECORD, PATCH_INFO,
                          VALIDATED, installer)
from texts import (CONSOLE_ALREADY_APPLIED, CONSOLE_COMPLETED, CONSOLE_INSTALLING, CONSOLE_NOT_APPLICABLE,
                   CONSOLE_UPDATE_FAILED, CONSOLE_UPDATE_MISMATCH, CONSOLE_VALIDATION_IN_PROGRESS,
                   CONSOLE_WAIT_TO_CLOSE, LOG_ALREADY_APPLIED, LOG_ALREADY_APPLIED_STATUS, LOG_INSTALL_CANCELLED,
                   LOG_INSTALL_COMPLETED, LOG_INSTALL_MISMATCH, LOG_INSTALL_NOT_COMPLETED, LOG_INSTALL_PATH_QUOTED,
                   LOG_LAUNCH_FILE_NOT_FOUND, LOG_LAUNCH_SHARING_VIOLATION, LOG_NOT_APPLICABLE, LOG_RECORD_EXISTS,
                   LOG_RECORD_READ_COMPLETED, LOG_RECORD_WRITE_FAILED, LOG_UPDATE_FOUND_1, LOG_UPDATE_FOUND_2,
                   LOG_UPDATE_NOT_FOUND_1, LOG_UPDATE_NOT_FOUND_2, LOG_UPDATE_NOT_FOUND_3, WINE_ERROR_ACCESS_DENIED,
                   file_error, log_entries)

INSTALLER_PATH = DEFAULT_PATCH_DIR + r"\Update2Setup.exe"
INSTALLER_CALL = InstallerCall(INSTALLER_COMMAND_LINE, cwd=DEFAULT_PATCH_DIR)

# Log entries up to the decision.
READY = VALIDATED + DESCRIPTOR_READ
# The record names an older patch: the installer is started.
FOUND_FROM_RECORD = (LOG_RECORD_EXISTS, LOG_RECORD_READ_COMPLETED, LOG_UPDATE_FOUND_1)

INSTALLING = CONSOLE_VALIDATION_IN_PROGRESS + CONSOLE_INSTALLING
NOTHING_TO_DO = CONSOLE_VALIDATION_IN_PROGRESS + "{}" + CONSOLE_WAIT_TO_CLOSE
UNCHANGED = {inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.100"), inst.RECORD: OLD_RECORD}
APPLIED = {inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.200"), inst.RECORD: PATCH_INFO}


def descriptor(patch_info: bytes, patch_version: bytes, previous: bytes) -> bytes:
    return (b"PatchInfo=" + patch_info + b"\r\nPatchFile=Update2Setup.exe\r\nPatchVersion=" + patch_version
            + b"\r\nPreviousVersions=" + previous + b"\r\n")


def scenario(name: str, description: str, expect: Expect, exe: str = "14.0.0.100",
             record: bytes = OLD_RECORD, **fields) -> Scenario:
    """The validated installation with this Vdt.exe and record (None: no record), the conforming
    descriptor and an installer that puts 14.0.0.200 in place, unless `fields` say otherwise."""
    fields.setdefault("registry", inst.wow_registry())
    fields.setdefault("descriptor", DESCRIPTOR)
    fields.setdefault("installer", INSTALLER)
    files = {**inst.product_files(exe), **({inst.RECORD: record} if record is not None else {}),
             **fields.pop("files", {})}
    return Scenario(name=name, description=description, files=files, expect=expect, **fields)


def at_install_dir(install_dir: str, display_icon: str, record: bytes = OLD_RECORD) -> dict:
    """Scenario fields for an installation registered with this "Installpath" and "DisplayIcon"."""
    folder = display_icon.rsplit("\\", 1)[0]
    return dict(registry={inst.PRODUCT_KEY_WOW: inst.product_values(install_dir=install_dir),
                          inst.UNINSTALL_KEY_WOW: inst.uninstall_values(display_icon=display_icon)},
                files={folder + r"\Vdt.exe": ProductExe("14.0.0.100"), folder + r"\installedupdates.dat": record})


def command_line(install_path: str) -> str:
    return '"' + INSTALLER_PATH + '"  /s  INSTALLPATH="' + install_path + '" ALLUSERS=TRUE '


# Multiple and leading blanks, shell and batch metacharacters, an environment variable reference and a
# character outside ASCII: all must reach the installer as they are, inside the quotes.
ODD_DIR = r"C:\Veldorant  Apps\ Ed.  14,0;  (x86) & Co's [ü] %PATH% ^!#"
ODD_EXE = ODD_DIR + r"\Vdt.exe"
# A quote would end the quoted INSTALLPATH early and put the rest on the installer's command line as
# properties of their own. The ".." (over one name: no "/" or "\" inside) makes the value still lead to
# the real Vdt.exe, so the run gets as far as the launch.
QUOTED_DIR = inst.INSTALL_DIR + r'\x" ALLUSERS=FALSE REBOOT=FORCE "y\..'

SCENARIOS = [
    # --- A second run after the first one applied the patch ---
    scenario(
        "install_second_run_exe_at_patch_version",
        "the state the first run leaves (Vdt.exe 14.0.0.200, record names the patch): Exit code 3, nothing run",
        exe="14.0.0.200", record=PATCH_INFO,
        expect=Expect(
            console=NOTHING_TO_DO.format(CONSOLE_ALREADY_APPLIED),
            log=log_entries(*READY, LOG_UPDATE_NOT_FOUND_3, LOG_ALREADY_APPLIED),
            min_seconds=7, files=APPLIED, installer_calls=[])),
    scenario(
        "install_second_run_record_names_patch",
        "the record names this patch but Vdt.exe is older again: the record wins, already applied (Exit code 1)",
        record=PATCH_INFO,
        expect=Expect(
            console=NOTHING_TO_DO.format(CONSOLE_ALREADY_APPLIED),
            log=log_entries(*READY, LOG_RECORD_EXISTS, LOG_RECORD_READ_COMPLETED, LOG_UPDATE_NOT_FOUND_1,
                            LOG_ALREADY_APPLIED_STATUS),
            min_seconds=7, files={**UNCHANGED, inst.RECORD: PATCH_INFO}, installer_calls=[])),

    # --- The other ways the decision goes ---
    scenario(
        "install_record_lists_several_patches",
        "a record naming the product twice (this patch among others) is decided by the revisions: installed, "
        "and the record rewritten to name this patch alone",
        record=OLD_RECORD + b"; " + PATCH_INFO,
        expect=Expect(
            console=INSTALLING + CONSOLE_COMPLETED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_INSTALL_COMPLETED),
            min_seconds=10, files=APPLIED, installer_calls=[INSTALLER_CALL])),
    scenario(
        "install_no_record_lower_revision",
        "no record, installed revision 100 below the patch's 101 (another build number): installed, record made",
        record=None, descriptor=descriptor(b"Veldorant 14.0 Update 3", b"14.0.1.101", b"14.0.0.100"),
        installer=installer("copy new_Vdt.exe", new_exe=ProductExe("14.0.1.101")),
        expect=Expect(
            console=INSTALLING + CONSOLE_COMPLETED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*READY, LOG_UPDATE_FOUND_2, LOG_INSTALL_COMPLETED),
            min_seconds=10,
            files={inst.PRODUCT_EXE: ProductVersionAfter("14.0.1.101"), inst.RECORD: b"Veldorant 14.0 Update 3"},
            installer_calls=[INSTALLER_CALL])),
    scenario(
        "install_no_record_equal_revision",
        "no record, revisions equal (14.0.0.100 against 14.0.1.100): only revisions count, already applied",
        record=None, descriptor=descriptor(b"Veldorant 14.0 Update 3", b"14.0.1.100", b"14.0.0.100"),
        expect=Expect(
            console=NOTHING_TO_DO.format(CONSOLE_ALREADY_APPLIED),
            log=log_entries(*READY, LOG_UPDATE_NOT_FOUND_2, LOG_ALREADY_APPLIED_STATUS),
            min_seconds=7, files={**UNCHANGED, inst.RECORD: None}, installer_calls=[])),
    scenario(
        "install_version_not_previous",
        "Vdt.exe 14.0.0.120 is not among the previous versions: not applicable, nothing run",
        exe="14.0.0.120",
        expect=Expect(
            console=NOTHING_TO_DO.format(CONSOLE_NOT_APPLICABLE),
            log=log_entries(*READY, LOG_NOT_APPLICABLE),
            min_seconds=7, files={**UNCHANGED, inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.120")},
            installer_calls=[])),

    # --- The installer ran: judged by the version it left ---
    scenario(
        "install_mismatch",
        "the installer leaves Vdt.exe 14.0.0.199: version mismatch, record kept",
        installer=installer("copy new_Vdt.exe", new_exe=ProductExe("14.0.0.199")),
        expect=Expect(
            console=INSTALLING + CONSOLE_UPDATE_MISMATCH + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_INSTALL_MISMATCH),
            min_seconds=10, files={**UNCHANGED, inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.199")},
            installer_calls=[INSTALLER_CALL])),
    scenario(
        "install_cancelled",
        "the installer deletes Vdt.exe (cancelled half-way): no version found, cancelled, record kept",
        installer=installer("delete"),
        expect=Expect(
            console=INSTALLING + CONSOLE_UPDATE_FAILED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_INSTALL_CANCELLED),
            min_seconds=10, files={**UNCHANGED, inst.PRODUCT_EXE: None}, installer_calls=[INSTALLER_CALL])),

    # --- The installer can't be started ---
    scenario(
        "install_installer_vanished",
        "the installer is removed by another program after the descriptor read, before the launch: file not "
        "found, nothing more printed",
        interruption=Interruption(console_before=CONSOLE_VALIDATION_IN_PROGRESS, after_reading=inst.RECORD,
                                  delete=[INSTALLER_PATH]),
        expect=Expect(
            console=INSTALLING,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_LAUNCH_FILE_NOT_FOUND),
            min_seconds=10, files={**UNCHANGED, INSTALLER_PATH: None}, installer_calls=[])),
    scenario(
        "install_installer_locked",
        "another program (a virus scanner, say) holds the installer without sharing: sharing violation at the "
        "launch",
        held_open=[INSTALLER_PATH],
        expect=Expect(
            console=INSTALLING,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_LAUNCH_SHARING_VIOLATION),
            min_seconds=10, files=UNCHANGED, installer_calls=[])),

    # --- The record can't be written ---
    scenario(
        "install_record_read_only",
        "the record is read-only: it is read, the patch is installed, the write is refused and reported, the "
        "old record stays",
        read_only=[inst.RECORD],
        expect=Expect(
            console=INSTALLING + CONSOLE_UPDATE_FAILED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*READY, *FOUND_FROM_RECORD,
                            LOG_RECORD_WRITE_FAILED + file_error(WINE_ERROR_ACCESS_DENIED, inst.RECORD),
                            LOG_INSTALL_NOT_COMPLETED),
            min_seconds=10, files={**APPLIED, inst.RECORD: OLD_RECORD}, installer_calls=[INSTALLER_CALL])),

    # --- Install folders that are awkward to pass on ---
    scenario(
        "install_path_odd_characters",
        "an install folder with runs of blanks, & ; , ( ) [ ] ' % ^ ! # and a non-ASCII letter reaches the "
        "installer unchanged inside the quotes",
        **at_install_dir(ODD_DIR, ODD_EXE),
        expect=Expect(
            console=INSTALLING + CONSOLE_COMPLETED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_INSTALL_COMPLETED),
            min_seconds=10,
            files={ODD_EXE: ProductVersionAfter("14.0.0.200"), ODD_DIR + r"\installedupdates.dat": PATCH_INFO},
            installer_calls=[InstallerCall(command_line(ODD_DIR), cwd=DEFAULT_PATCH_DIR)])),
    scenario(
        "install_path_trailing_backslash",
        "\"Installpath\" ends in a backslash: passed on as it is (\\\" before the closing quote), Vdt.exe found "
        "through the doubled backslash before and after",
        **at_install_dir(inst.INSTALL_DIR + "\\", inst.PRODUCT_EXE),
        expect=Expect(
            console=INSTALLING + CONSOLE_COMPLETED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_INSTALL_COMPLETED),
            min_seconds=10, files=APPLIED,
            installer_calls=[InstallerCall(command_line(inst.INSTALL_DIR + "\\"), cwd=DEFAULT_PATCH_DIR)])),
    scenario(
        "install_path_double_quote",
        "\"Installpath\" holds a double quote that would smuggle arguments onto the installer's command line: "
        "refused, no launch, 10 s pause",
        **at_install_dir(QUOTED_DIR, inst.PRODUCT_EXE),
        expect=Expect(
            console=INSTALLING,
            log=log_entries(*READY, *FOUND_FROM_RECORD, LOG_INSTALL_PATH_QUOTED),
            min_seconds=10, files=UNCHANGED, installer_calls=[])),
]
