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

import struct
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import texts  # noqa: E402

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
# PE file
# --------------------------------------------------------------------------------------------------

class PeFile:
    def __init__(self, data: bytes):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, self.timestamp, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, raw_size, raw_ptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, raw_size), raw_ptr))

    def offset(self, rva: int) -> int:
        for _, vaddr, size, raw_ptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw_ptr + rva - vaddr
        raise ValueError(f"RVA {rva:#x} is in no section")

    def c_string(self, rva: int) -> str:
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def imports(self) -> list[str]:
        """Names of the DLLs in the import directory, in file order."""
        rva, size = self.directories[1]
        names, at = [], self.offset(rva) if size else 0
        while size:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and thunks == 0:
                break
            names.append(self.c_string(name))
            at += 20
        return names

    def resources(self) -> dict[tuple, bytes]:
        """Every resource by (type, name, language); ids as ints, names as text."""
        rva, size = self.directories[2]
        found: dict[tuple, bytes] = {}
        if not size:
            return found
        base = self.offset(rva)

        def walk(directory: int, path: tuple) -> None:
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if ident & 0x80000000:
                    at = base + (ident & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    key = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = ident
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, path + (key,))
                else:
                    data_rva, data_size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found[path + (key,)] = self.data[start:start + data_size]

        walk(0, ())
        return found


def version_blocks(data: bytes, at: int = 0) -> tuple[tuple, int]:
    """One block of a VS_VERSIONINFO tree: (key, type, value bytes, children) and where it ends."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value = data[pos:pos + (value_length * 2 if kind == 1 else value_length)]
    pos = (pos + len(value) + 3) & ~3
    children = []
    while pos < end:
        child, child_end = version_blocks(data, pos)
        children.append(child)
        pos = (child_end + 3) & ~3
    return (key, kind, value, children), end


def version_info(data: bytes) -> tuple[tuple[int, ...], tuple[int, ...], dict[str, str]]:
    """File version parts, product version parts and the string table's values."""
    (key, _, fixed, children), _ = version_blocks(data)
    if key != "VS_VERSION_INFO":
        raise ValueError(f"version resource key {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO signature")
    strings = {}
    for child_key, _, _, tables in children:
        if child_key == "StringFileInfo":
            for _, _, _, entries in tables:
                for name, _, value, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")

    def parts(ms: int, ls: int) -> tuple[int, ...]:
        return ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF

    return parts(file_ms, file_ls), parts(product_ms, product_ls), strings


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
