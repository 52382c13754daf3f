#!/usr/bin/env python3
"""What the built PatchUpdate.exe says it is and what it loads, read back from its bytes.

  check_exe.py EXE [ORIGINAL_FILENAME DESCRIPTION]

ORIGINAL_FILENAME and DESCRIPTION are what its version resource must name (PatchUpdate.exe and the
utility's description unless given): PatchUpdateResult.exe ships beside it, built the same way.

Reads the PE file itself (no Windows, no Wine): the DLLs it imports at load time, its version resource
and its application manifest, and checks them against what the utility must ship with. The version is
the log's version text (texts.UTILITY_VERSION), so the resource and the log can't drift apart.
Exit code 0 when every check passed.

Python 3 standard library only.
"""

from __future__ import annotations

import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import texts  # noqa: E402
from pe_image import PeFile, version_info  # noqa: E402

RT_VERSION, RT_MANIFEST = 16, 24
# The DLLs Windows always maps from System32 (known DLLs): nothing of these names is looked for beside
# the exe. Everything else is loaded at run time from System32 alone.
LOAD_TIME_IMPORTS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


# --------------------------------------------------------------------------------------------------
# Checks
# --------------------------------------------------------------------------------------------------

def check(exe: Path, original_filename: str = "PatchUpdate.exe",
          description: str = "Veldorant 14.0 Patch Update Utility") -> list[str]:
    pe = PeFile(exe.read_bytes())
    failures: list[str] = []

    extra = [dll for dll in pe.imports() if dll.lower() not in LOAD_TIME_IMPORTS]
    if extra:
        failures.append(f"load-time imports beyond {sorted(LOAD_TIME_IMPORTS)}: {extra}")
    if pe.timestamp != 0:
        failures.append(f"the PE header carries a time stamp ({pe.timestamp:#x}): two builds would differ")

    resources = pe.resources()
    versions = [data for key, data in resources.items() if key[0] == RT_VERSION]
    manifests = {key: data for key, data in resources.items() if key[0] == RT_MANIFEST}
    four_part = texts.UTILITY_VERSION + ".0"
    expected_parts = tuple(int(p) for p in four_part.split("."))
    if len(versions) != 1:
        failures.append(f"{len(versions)} version resources, expected 1")
    else:
        file_parts, product_parts, strings = version_info(versions[0])
        rows = [
            # (what, found, expected)
            ("file version words", file_parts, expected_parts),
            ("product version words", product_parts, expected_parts),
            ("FileVersion", strings.get("FileVersion"), four_part),
            ("ProductVersion", strings.get("ProductVersion"), four_part),
            ("FileDescription", strings.get("FileDescription"), description),
            ("OriginalFilename", strings.get("OriginalFilename"), original_filename),
        ]
        failures += [f"{what} is {found!r}, expected {want!r}" for what, found, want in rows if found != want]
        failures += [f"{name} is missing or empty" for name in ("ProductName", "CompanyName", "LegalCopyright")
                     if not strings.get(name)]

    if list(manifests) and [key[1] for key in manifests] != [1]:
        failures.append(f"manifest resources {list(manifests)}, expected the one with id 1")
    if not manifests:
        failures.append("no application manifest")
        return failures
    root = ElementTree.fromstring(next(iter(manifests.values())))
    level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/{ASM_V3}requestedExecutionLevel")
    long_paths = root.find(f"{ASM_V3}application/{ASM_V3}windowsSettings/{SETTINGS_2016}longPathAware")
    systems = {e.get("Id", "").lower() for e in root.iter(f"{COMPAT}supportedOS")}
    rows = [
        ("requestedExecutionLevel level", None if level is None else level.get("level"), "asInvoker"),
        ("requestedExecutionLevel uiAccess", None if level is None else level.get("uiAccess"), "false"),
        ("longPathAware", None if long_paths is None else (long_paths.text or "").strip(), "true"),
    ]
    failures += [f"manifest {what} is {found!r}, expected {want!r}" for what, found, want in rows if found != want]
    failures += [f"manifest lacks supportedOS {name} {guid}" for guid, name in SUPPORTED_OS.items() if guid not in systems]
    return failures


def main() -> int:
    if len(sys.argv) not in (2, 4):
        print(__doc__)
        return 2
    exe = Path(sys.argv[1])
    failures = check(exe, *sys.argv[2:])
    for failure in failures:
        print("FAIL: " + failure)
    if not failures:
        print(f"PASS {exe.name}: imports, time stamp, version resource and manifest")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
