#!/usr/bin/env python3
"""Two builds of the same sources in different folders must give the same PatchUpdate.exe, byte for byte.

  check_reproducible.py --source DIR --toolchain FILE [--reference BUILD] [--build-type Release] [--jobs N] [--keep]

Copies the sources PatchUpdate.exe is built from (CMakeLists.txt, cmake/, src/) into a temporary folder
(two of different depth and name without --reference), configures it without tests and builds only the
PatchUpdate target, then compares the stripped exe and its PatchUpdate.exe.debug with those in BUILD
(the preset's own build, from other source and build folders) or with each other. A difference names the first
offset and the PE section it falls in (a time stamp, a build path). Exit code 0 when both are equal.

Python 3 standard library only.
"""

import argparse
import hashlib
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

from pe_image import PeFile  # noqa: E402

BUILT = ("PatchUpdate.exe", "PatchUpdate.exe.debug")
# Deliberately unlike each other: another length shifts anything that embeds the path.
FOLDERS = ("a", "second-build/with a longer path")


def build(source: Path, root: Path, toolchain: str, build_type: str, jobs: int) -> Path:
    copy = root / "src"
    copy.mkdir(parents=True)
    shutil.copy2(source / "CMakeLists.txt", copy)
    for folder in ("cmake", "src"):
        shutil.copytree(source / folder, copy / folder)
    out = root / "build"
    toolchain_copy = copy / Path(toolchain).resolve().relative_to(source.resolve())
    subprocess.run(["cmake", "-S", str(copy), "-B", str(out), "-G", "Ninja", f"-DCMAKE_BUILD_TYPE={build_type}",
                    f"-DCMAKE_TOOLCHAIN_FILE={toolchain_copy}", "-DPATCHUPDATE_BUILD_TESTS=OFF",
                    "-DPATCHUPDATE_COMPILER_CACHE=OFF"],  # compiled here, not taken from the cache
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(out), "--target", "PatchUpdate", "--parallel", str(jobs)],
                   check=True, stdout=subprocess.DEVNULL)
    return out


def where(data: bytes, offset: int) -> str:
    """The PE section (or header) holding a file offset."""
    try:
        for name, _, size, raw_ptr in PeFile(data).sections:
            if raw_ptr <= offset < raw_ptr + size:
                return f"section {name} + {offset - raw_ptr:#x}"
    except (ValueError, KeyError):
        return "an unreadable PE file"
    return "the headers"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", type=Path, required=True)
    parser.add_argument("--toolchain", required=True)
    parser.add_argument("--build-type", default="Release")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--reference", type=Path, help="a build folder holding the same files, built elsewhere")
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()

    temp = Path(tempfile.mkdtemp(prefix="patchupdate-repro-"))
    failures = []
    try:
        # One build costs minutes on a small machine: the preset's own build is the first when given.
        folders = FOLDERS[1:] if args.reference else FOLDERS
        outs = [build(args.source, temp / folder, args.toolchain, args.build_type, args.jobs) for folder in folders]
        if args.reference:
            outs.insert(0, args.reference.resolve())
        for name in BUILT:
            first, second = ((out / name).read_bytes() for out in outs)
            if first == second:
                print(f"same bytes: {name}, {len(first)} bytes, sha256 {hashlib.sha256(first).hexdigest()}")
                continue
            offset = next((i for i, (x, y) in enumerate(zip(first, second)) if x != y), min(len(first), len(second)))
            failures.append(f"{name} differs between the builds: {len(first)} and {len(second)} bytes, first at "
                            f"offset {offset:#x} ({where(first, offset)})")
    finally:
        if args.keep:
            print(f"kept {temp}")
        else:
            shutil.rmtree(temp, ignore_errors=True)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
