#!/usr/bin/env python3
"""What PatchUpdate.exe costs under Wine, beside an empty program built the same way.

  tools/measure_cost.py --build-dir DIR [--templates TDIR] --utility PatchUpdate.exe [--objdump PATH] [--repetitions N]
                  [--keep]

In one prefix and with one wineserver, it alternates whole runs of the utility that stop on "not
applicable" (validation, descriptor, version probe, decision, log; then the 7 s pause) with runs of the
empty program, after one unmeasured run of each. Such a run launches nothing, so it must not pay for the
shell, COM or the window manager: only kernel32, advapi32 and msvcrt are loaded at start. The utility's wall time minus its pause, over the
empty program's wall time, is the ratio reported (medians of the repetitions); processor times come from
the kernel's accounting of each Wine process. Then the exe's size and DLL imports, and the machine.

Exit code 1 only when something is clearly wrong: a run that doesn't end as expected, a ratio above
--max-ratio, or an import of a DLL that Windows doesn't ship (a MinGW runtime left dynamic).
"""

import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

# The end-to-end harness lays out the machine and runs the utility.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))

import harness  # noqa: E402
import installation as inst  # noqa: E402
import wine_prefix  # noqa: E402
from checks import check_run  # noqa: E402
from scenario import Expect, InstallerStandIn, Scenario  # noqa: E402
from texts import (CONSOLE_NOT_APPLICABLE, CONSOLE_VALIDATION_IN_PROGRESS, CONSOLE_WAIT_TO_CLOSE,  # noqa: E402
                   LOG_NOT_APPLICABLE, log_entries)

PAUSE_SECONDS = 7.0
EMPTY_PATH = r"C:\Tools\empty.exe"
# DLLs that every Windows has; a MinGW runtime (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll)
# among the imports would make the exe unusable where it's copied alone.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll", "version.dll",
               "ole32.dll", "oleaut32.dll", "msvcrt.dll", "ntdll.dll", "gdi32.dll", "comctl32.dll", "ucrtbase.dll"}

# An installation at a build the patch doesn't apply to: the run goes as far as the decision, logs its
# whole way there, and pauses 7 s without starting anything.
NOT_APPLICABLE = Scenario(
    name="cost_not_applicable",
    description="Vdt.exe 14.0.0.50 is not among the patch's previous versions",
    registry=inst.wow_registry(),
    files=inst.product_files("14.0.0.50"),
    descriptor=inst.DESCRIPTOR,
    installer=InstallerStandIn(name="Update2Setup.exe"),
    expect=Expect(
        console=CONSOLE_VALIDATION_IN_PROGRESS + CONSOLE_NOT_APPLICABLE + CONSOLE_WAIT_TO_CLOSE,
        log=log_entries(*inst.VALIDATED, *inst.DESCRIPTOR_READ, LOG_NOT_APPLICABLE),
        min_seconds=PAUSE_SECONDS, installer_calls=[]))


def dll_imports(objdump: str, exe: Path) -> list[str]:
    text = subprocess.run([objdump, "-p", str(exe)], capture_output=True, text=True, check=True).stdout
    return re.findall(r"DLL Name: (\S+)", text)


def machine() -> dict:
    lscpu = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
    model = re.search(r"^Model name:\s*(.+)$", lscpu, re.M)
    return {"cpu": model.group(1).strip() if model else platform.processor() or "unknown",
            "cores": str(os.cpu_count()), "kernel": platform.release(), "wine": wine_prefix.wine_version()}


def run_empty(prefix: wine_prefix.Prefix, empty: Path, cwd: Path) -> tuple[int, float, float]:
    """One start of the empty program: exit code, wall seconds, processor seconds."""
    tick = time.monotonic()
    proc = subprocess.Popen([prefix.loader(empty), EMPTY_PATH], env=prefix.env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    code, cpu = harness.wait_with_usage(proc, 60)
    return (-1 if code is None else code), time.monotonic() - tick, cpu or 0.0


def main() -> int:
    parser = harness.command_line_parser(__doc__)
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--max-ratio", type=float, default=20.0)
    parser.add_argument("--keep", action="store_true", help="keep the prefix in DIR/runs/cost")
    args = parser.parse_args()

    build_dir = args.build_dir.resolve()
    where = harness.Locations(helpers=build_dir / "helpers",
                              template=wine_prefix.template_path(wine_prefix.templates_folder(args.templates), "win64"),
                              runs=build_dir / "runs", utility=args.utility.resolve())
    empty = where.helpers / "empty.exe"
    problems: list[str] = []

    # --- The exe itself ---
    size = where.utility.stat().st_size
    debug_file = where.utility.with_name(where.utility.name + ".debug")
    debug_size = debug_file.stat().st_size if debug_file.is_file() else 0
    imports = dll_imports(args.objdump, where.utility)
    foreign = [dll for dll in imports if dll.lower() not in SYSTEM_DLLS and not dll.lower().startswith("api-ms-win-")]
    if foreign:
        problems.append(f"PatchUpdate.exe imports DLLs that Windows doesn't ship: {', '.join(foreign)}")

    # --- Times ---
    run_dir = where.runs / "cost"
    shutil.rmtree(run_dir, ignore_errors=True)
    run_dir.mkdir(parents=True)
    prefix = wine_prefix.Prefix(run_dir / "prefix")
    utility_walls, utility_cpus, empty_walls, empty_cpus = [], [], [], []
    try:
        wine_prefix.clone_prefix(where.template, prefix.path)
        prefix.start_server()
        harness.lay_out(NOT_APPLICABLE, where, prefix, run_dir)
        harness.write_file(prefix, where.helpers, EMPTY_PATH, empty.read_bytes())
        cwd = prefix.unix(NOT_APPLICABLE.cwd)
        cwd.mkdir(parents=True, exist_ok=True)
        cwd_before = sorted(p.name for p in cwd.iterdir())

        for repetition in range(args.repetitions + 1):  # the first of each only warms up
            run = harness.run_utility(NOT_APPLICABLE, prefix, run_dir, where.utility)
            failures = check_run(NOT_APPLICABLE, prefix, run, cwd, cwd_before)
            if failures:
                problems += [f"utility run {repetition}: {failure}" for failure in failures]
                break
            code, wall, cpu = run_empty(prefix, empty, cwd)
            if code != 0:
                problems.append(f"the empty program ended with {code}")
                break
            if repetition > 0:
                utility_walls.append(run.elapsed)
                utility_cpus.append(run.cpu_seconds or 0.0)
                empty_walls.append(wall)
                empty_cpus.append(cpu)
    finally:
        prefix.shut_down()
        if not args.keep:
            shutil.rmtree(run_dir, ignore_errors=True)

    # --- Report ---
    print("PatchUpdate.exe under Wine: cost of a whole run that stops on \"not applicable\"")
    for key, value in machine().items():
        print(f"  machine {key}: {value}")
    print(f"  exe size: {size} bytes ({size / 1024:.0f} KiB)"
          + (f", its debug information beside it {debug_size} bytes ({debug_size / 1024:.0f} KiB)" if debug_size else ""))
    print(f"  DLL imports: {', '.join(imports)}")
    print(f"  empty program imports: {', '.join(dll_imports(args.objdump, empty))}")
    if utility_walls:
        overheads = [wall - PAUSE_SECONDS for wall in utility_walls]
        overhead, baseline = statistics.median(overheads), statistics.median(empty_walls)
        ratio = overhead / baseline if baseline > 0 else float("inf")
        print(f"  repetitions: {len(utility_walls)} (after one warm-up run of each), medians:")
        print(f"    utility wall time {statistics.median(utility_walls):.3f} s, minus the {PAUSE_SECONDS:g} s pause: "
              f"{overhead:.3f} s (min {min(overheads):.3f}, max {max(overheads):.3f})")
        print(f"    empty program wall time {baseline:.3f} s (min {min(empty_walls):.3f}, max {max(empty_walls):.3f})")
        print(f"    ratio utility / empty program: {ratio:.2f} (bound {args.max_ratio:g})")
        print(f"    processor time (user + system): utility {statistics.median(utility_cpus):.3f} s, "
              f"empty program {statistics.median(empty_cpus):.3f} s")
        if overhead < 0:
            problems.append(f"the utility ended {-overhead:.3f} s before its own pause was over")
        elif ratio > args.max_ratio:
            problems.append(f"the ratio {ratio:.2f} is above {args.max_ratio:g}")
    for problem in problems:
        print("FAIL: " + problem.replace("\n", "\n  "))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
