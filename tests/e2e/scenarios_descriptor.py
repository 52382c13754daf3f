"""The patch descriptor beside the utility: found, read and parsed, or why not.

Every run starts from an installation that passes validation (Mode 1, product 14.0), so what the
descriptor does to the run shows: a descriptor that can't be used leaves the run not ready, which means
only the validation line on the console, no installer started and the 7 s pause.
"""

import installation as inst
from scenario import (DEFAULT_PATCH_DIR, DESCRIPTOR_NAME, Expect, InstallerCall, ProductExe, ProductVersionAfter,
                      Scenario)
from installation import DESCRIPTOR, DESCRIPTOR_PATH, INSTALLER, INSTALLER_COMMAND_LINE, PATCH_INFO, VALIDATED
from texts import (CONSOLE_ALREADY_APPLIED, CONSOLE_COMPLETED, CONSOLE_INSTALLING, CONSOLE_VALIDATION_IN_PROGRESS,
                   CONSOLE_WAIT_TO_CLOSE, LOG_ALREADY_APPLIED, LOG_DESCRIPTOR_INSTALLER_MISSING,
                   LOG_DESCRIPTOR_KEYS_NOT_FOUND_1, LOG_DESCRIPTOR_NOT_FOUND, LOG_DESCRIPTOR_READ_COMPLETED,
                   LOG_DESCRIPTOR_READ_FAILED, LOG_DESCRIPTOR_VALUES_FOUND, LOG_INSTALL_COMPLETED, LOG_UPDATE_FOUND_2,
                   LOG_UPDATE_NOT_FOUND_3, WINE_ERROR_SHARING_VIOLATION, file_error, log_entries)

OPERATOR_DIR = r"C:\Operator"  # the working directory the utility is started from


def not_ready(*descriptor_entries: str, files: dict) -> Expect:
    """Validation passed, the descriptor did not: its entries, the 7 s pause, nothing started."""
    return Expect(console=CONSOLE_VALIDATION_IN_PROGRESS, log=log_entries(*VALIDATED, *descriptor_entries),
                  min_seconds=7,
                  files={inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.100"), inst.RECORD: None, **files},
                  installer_calls=[])


def installed(files: dict = None, **fields) -> dict:
    """Scenario fields for the validated installation with Vdt.exe 14.0.0.100 and no record."""
    return dict(registry=inst.wow_registry(), files={**inst.product_files("14.0.0.100"), **(files or {})}, **fields)


SCENARIOS = [
    # --- Read and parsed ---
    Scenario(
        name="descriptor_conforming",
        description="the conforming descriptor: all four values reach the run (second previous version, "
                    "installer, PatchVersion verified, PatchInfo recorded)",
        registry=inst.wow_registry(), files=inst.product_files("14.0.0.150"),
        descriptor=DESCRIPTOR, installer=INSTALLER,
        expect=Expect(
            console=(CONSOLE_VALIDATION_IN_PROGRESS + CONSOLE_INSTALLING + CONSOLE_COMPLETED
                     + CONSOLE_WAIT_TO_CLOSE),
            log=log_entries(*VALIDATED, LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_VALUES_FOUND,
                            LOG_UPDATE_FOUND_2, LOG_INSTALL_COMPLETED),
            min_seconds=10,
            files={inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.200"), inst.RECORD: PATCH_INFO},
            installer_calls=[InstallerCall(INSTALLER_COMMAND_LINE, cwd=DEFAULT_PATCH_DIR)])),
    Scenario(
        name="descriptor_utf8_bom",
        description="a descriptor saved as UTF-8 with a byte-order mark parses normally (the patch is found "
                    "applied already)",
        registry=inst.wow_registry(), files=inst.product_files("14.0.0.200"),
        descriptor=b"\xef\xbb\xbf" + DESCRIPTOR, installer=INSTALLER,
        expect=Expect(
            console=CONSOLE_VALIDATION_IN_PROGRESS + CONSOLE_ALREADY_APPLIED + CONSOLE_WAIT_TO_CLOSE,
            log=log_entries(*VALIDATED, LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_VALUES_FOUND,
                            LOG_UPDATE_NOT_FOUND_3, LOG_ALREADY_APPLIED),
            min_seconds=7, files={inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.200"), inst.RECORD: None},
            installer_calls=[])),

    # --- Not usable: the run is not ready ---
    Scenario(
        name="descriptor_only_in_working_directory",
        description="no descriptor beside the utility, one in the working directory: not looked at, Exit code 6",
        **installed(files={OPERATOR_DIR + "\\" + DESCRIPTOR_NAME: DESCRIPTOR}), installer=INSTALLER,
        expect=not_ready(LOG_DESCRIPTOR_NOT_FOUND, files={OPERATOR_DIR + "\\" + DESCRIPTOR_NAME: DESCRIPTOR})),
    Scenario(
        name="descriptor_installer_only_in_working_directory",
        description="the installer named by PatchFile is not beside the utility (only in the working "
                    "directory): read, then Exit code 5",
        **installed(files={OPERATOR_DIR + r"\Update2Setup.exe": ProductExe("14.0.0.200")}), descriptor=DESCRIPTOR,
        expect=not_ready(LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_INSTALLER_MISSING,
                         files={DEFAULT_PATCH_DIR + r"\Update2Setup.exe": None})),
    Scenario(
        name="descriptor_installer_is_folder",
        description="a folder named like the installer is no installer (launched, it would open a window the run "
                    "waits on): read, then Exit code 5",
        **installed(files={DEFAULT_PATCH_DIR + r"\Update2Setup.exe\readme.txt": b"not an installer"}),
        descriptor=DESCRIPTOR,
        expect=not_ready(LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_INSTALLER_MISSING, files={})),
    Scenario(
        name="descriptor_utf16",
        description="a descriptor saved as UTF-16 reads as the few bytes before its first zero: no key, Exit code 1",
        **installed(), descriptor=("\ufeff" + DESCRIPTOR.decode("ascii")).encode("utf-16-le"), installer=INSTALLER,
        expect=not_ready(LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_KEYS_NOT_FOUND_1, files={})),
    Scenario(
        name="descriptor_held_open",
        description="another program holds the descriptor without sharing: the system's description, the read "
                    "failure, then Exit code 1 for the empty text",
        **installed(), descriptor=DESCRIPTOR, installer=INSTALLER, held_open=[DESCRIPTOR_PATH],
        expect=not_ready(file_error(WINE_ERROR_SHARING_VIOLATION, DESCRIPTOR_PATH), LOG_DESCRIPTOR_READ_FAILED,
                         LOG_DESCRIPTOR_KEYS_NOT_FOUND_1, files={DESCRIPTOR_PATH: DESCRIPTOR})),
]
