"""The product installation and the patch package most scenarios start from, and the keys and paths to
vary them."""

from scenario import DEFAULT_PATCH_DIR, DESCRIPTOR_NAME, InstallerStandIn, ProductExe
from texts import (LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_VALUES_FOUND, LOG_MODE_1, LOG_THREE_COMPLETED,
                   LOG_TWO_COMPLETED, LOG_VERSION_COMPLETED)

HKLM = "HKEY_LOCAL_MACHINE"
PRODUCT_KEY_WOW = HKLM + r"\SOFTWARE\Wow6432Node\KORVEN Software Inc.\VeldoRant\14.0"
PRODUCT_KEY_PLAIN = HKLM + r"\SOFTWARE\KORVEN Software Inc.\VeldoRant\14.0"
UNINSTALL_KEY_WOW = HKLM + r"\SOFTWARE\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Veldorant 14.0"
UNINSTALL_KEY_PLAIN = HKLM + r"\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Veldorant 14.0"

INSTALL_DIR = r"C:\Program Files (x86)\Veldorant 14.0"
PRODUCT_EXE = INSTALL_DIR + r"\Vdt.exe"
RECORD = INSTALL_DIR + r"\installedupdates.dat"
INSTALLED_VERSION = "14.0.0.100"


def product_values(version: str = "14.0", install_dir: str = INSTALL_DIR) -> dict:
    return {"Version": version, "Installpath": install_dir}


def uninstall_values(display_icon: str = PRODUCT_EXE) -> dict:
    return {"DisplayName": "Veldorant 14.0", "DisplayIcon": display_icon}


def wow_registry() -> dict:
    """A 32-bit product on 64-bit Windows: its keys under Wow6432Node."""
    return {PRODUCT_KEY_WOW: product_values(), UNINSTALL_KEY_WOW: uninstall_values()}


def product_files(version: str = INSTALLED_VERSION) -> dict:
    return {PRODUCT_EXE: ProductExe(version)}


# The sample patch package: a descriptor for 14.0.0.200 and an installer stand-in that puts it in place.
PATCH_INFO = b"Veldorant 14.0 Update 2"
OLD_RECORD = b"Veldorant 14.0 Update 1"  # an earlier patch, as the record names it
DESCRIPTOR = (b"PatchInfo=" + PATCH_INFO + b"\r\n"
              b"PatchFile=Update2Setup.exe\r\n"
              b"PatchVersion=14.0.0.200\r\n"
              b"PreviousVersions=14.0.0.100, 14.0.0.150\r\n")
DESCRIPTOR_PATH = DEFAULT_PATCH_DIR + "\\" + DESCRIPTOR_NAME


def installer(*actions: str, new_exe: ProductExe = ProductExe("14.0.0.200")) -> InstallerStandIn:
    """The installer stand-in doing these actions, with the executable a "copy" puts in place beside it."""
    return InstallerStandIn(name="Update2Setup.exe", actions=list(actions), files={"new_Vdt.exe": new_exe})


INSTALLER = installer("copy new_Vdt.exe")


# The utility starts the installer by its full path; the parameters follow after one blank.
INSTALLER_COMMAND_LINE = ('"C:\\Patch Package\\Update2Setup.exe" '
                          ' /s  INSTALLPATH="' + INSTALL_DIR + '" ALLUSERS=TRUE ')

# The log entries of a run on this installation up to the end of validation, and of the descriptor read.
VALIDATED = (LOG_MODE_1, LOG_VERSION_COMPLETED, LOG_THREE_COMPLETED, LOG_TWO_COMPLETED)
DESCRIPTOR_READ = (LOG_DESCRIPTOR_READ_COMPLETED, LOG_DESCRIPTOR_VALUES_FOUND)
