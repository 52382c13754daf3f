"""The product installation most scenarios start from, and the keys and paths to vary it."""

from harness import ProductExe

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
