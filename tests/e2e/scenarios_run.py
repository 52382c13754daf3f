"""Whole runs from start to end: the patch applied to an installation with an older record."""

import dataclasses

import installation as inst
from scenario import Expect, InstallerCall, ProductVersionAfter, Scenario
from texts import (CONSOLE_COMPLETED, CONSOLE_INSTALLING, CONSOLE_VALIDATION_IN_PROGRESS, CONSOLE_WAIT_TO_CLOSE,
                   LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_VALUES_FOUND, LOG_INSTALL_COMPLETED, LOG_MODE_1,
                   LOG_RECORD_EXISTS, LOG_RECORD_READ_COMPLETED, LOG_THREE_COMPLETED, LOG_TWO_COMPLETED,
                   LOG_UPDATE_FOUND_1, LOG_VERSION_COMPLETED, log_entries)

from installation import DESCRIPTOR, INSTALLER, INSTALLER_COMMAND_LINE, PATCH_INFO

APPLIED = Scenario(
    name="run_patch_applied",
    description="Mode 1 product with an older record: installer runs hidden, version verified, record replaced",
    registry=inst.wow_registry(),
    files={**inst.product_files("14.0.0.100"), inst.RECORD: b"Veldorant 14.0 Update 1"},
    descriptor=DESCRIPTOR, installer=INSTALLER,
    expect=Expect(
        console=(CONSOLE_VALIDATION_IN_PROGRESS + CONSOLE_INSTALLING + CONSOLE_COMPLETED
                 + CONSOLE_WAIT_TO_CLOSE),
        log=log_entries(LOG_MODE_1, LOG_VERSION_COMPLETED, LOG_THREE_COMPLETED, LOG_TWO_COMPLETED,
                        LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_VALUES_FOUND, LOG_RECORD_EXISTS,
                        LOG_RECORD_READ_COMPLETED, LOG_UPDATE_FOUND_1, LOG_INSTALL_COMPLETED),
        min_seconds=10,
        files={inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.200"), inst.RECORD: PATCH_INFO},
        installer_calls=[InstallerCall(INSTALLER_COMMAND_LINE, cwd=r"C:\Patch Package", show="0")]))

# Names Windows looks for beside a program, and the shell and installers probe for on demand, that Wine
# lets be native. cryptbase and profapi have no Wine build at all: whatever asks for them gets the planted one.
PLANTED_DLLS = ("version.dll", "uxtheme.dll", "dwmapi.dll", "propsys.dll", "userenv.dll", "cryptbase.dll",
                "profapi.dll", "sspicli.dll", "winmm.dll")

SCENARIOS = [
    APPLIED,
    dataclasses.replace(
        APPLIED, name="run_patch_applied_dlls_planted",
        description="the same install with DLLs planted in the patch folder and the working directory, loaded "
                    "native-first: the install succeeds and none of them is loaded into the utility",
        planted_dlls=PLANTED_DLLS),
]
