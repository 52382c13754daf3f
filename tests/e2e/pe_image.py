"""Reading Windows executables (no Windows, no Wine): the machine a program is built for, its imports,
resources and version resource, and the file version in its fixed file information.

Python 3 standard library only.
"""

from __future__ import annotations

import struct
from pathlib import Path
from typing import Optional

PE_MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
VS_FIXEDFILEINFO_SIGNATURE = b"\xbd\x04\xef\xfe"


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


def pe_machine(exe: Path) -> str:
    """"i386" or "x86-64": the machine a Windows executable is built for."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    try:
        machine = PeFile(head).machine
    except (ValueError, KeyError, struct.error) as e:
        raise ValueError(f"not a Windows executable: {exe}") from e
    if machine not in PE_MACHINES:
        raise ValueError(f"{exe}: machine 0x{machine:x} is neither i386 nor x86-64")
    return PE_MACHINES[machine]


def parse_version(version: str) -> tuple[int, int]:
    parts = [int(p) for p in version.split(".")]
    if len(parts) != 4 or any(not 0 <= p <= 0xFFFF for p in parts):
        raise ValueError(f"not a four-part version: {version!r}")
    return (parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]


def fixed_file_info_offset(data: bytes) -> int:
    offset = data.find(VS_FIXEDFILEINFO_SIGNATURE)
    if offset < 0 or data.find(VS_FIXEDFILEINFO_SIGNATURE, offset + 1) >= 0:
        raise ValueError("expected exactly one VS_FIXEDFILEINFO in the executable")
    return offset


def read_file_version(data: bytes) -> Optional[str]:
    """The four-part file version of an executable's fixed file information; None without one."""
    if VS_FIXEDFILEINFO_SIGNATURE not in data:
        return None
    offset = fixed_file_info_offset(data)
    ms = int.from_bytes(data[offset + 8:offset + 12], "little")
    ls = int.from_bytes(data[offset + 12:offset + 16], "little")
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
