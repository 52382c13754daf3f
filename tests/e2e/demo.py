#!/usr/bin/env python3
"""Shows PatchUpdate.exe at work under Wine, in throwaway prefixes: one installation, one patch package.
On 64-bit Windows two runs (the first applies the patch, the second finds it applied); then one run on a
32-bit Windows machine, where the product's keys have no Wow6432Node (Mode 2).

  demo.py --build-dir BUILD/tests/e2e [--templates TDIR] --utility BUILD/PatchUpdate.exe [--keep]
"""

import argparse
import dataclasses
import shutil
import sys
import tempfile
from pathlib import Path
from typing import Optional

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402
import installation as inst  # noqa: E402
import texts  # noqa: E402
import windows32  # noqa: E402
from harness import Expect, InstallerStandIn, ProductExe, Scenario  # noqa: E402

PATCH_INFO = "Veldorant 14.0 Update 2"
DESCRIPTOR = (b"PatchInfo=" + PATCH_INFO.encode() + b"\r\n"
              b"PatchFile=Update2Setup.exe\r\n"
              b"PatchVersion=14.0.0.200\r\n"
              b"PreviousVersions=14.0.0.100\r\n")

SAMPLE = Scenario(
    name="demo", description="sample installation and patch package",
    registry=inst.wow_registry(),
    files=inst.product_files("14.0.0.100"),
    descriptor=DESCRIPTOR,
    installer=InstallerStandIn(name="Update2Setup.exe", actions=["copy new_Vdt.exe"],
                               files={"new_Vdt.exe": ProductExe("14.0.0.200")}),
    expect=Expect(console="", log=None, min_seconds=0))



def indented(text: str) -> str:
    return "\n".join("  " + line if line else "" for line in text.rstrip("\n").split("\n")) if text else "  (nothing)"


@dataclasses.dataclass
class State:
    """What the demo shows of the machine between runs."""
    exe_version: Optional[str]
    record: Optional[str]
    installer_calls: list


@dataclasses.dataclass(frozen=True)
class Machine:
    title: str
    arch: str
    sample: Scenario
    product_exe: str
    record: str
    keys: str


MACHINES = (
    Machine("64-bit Windows", "win64", SAMPLE, inst.PRODUCT_EXE, inst.RECORD, "HKLM\\SOFTWARE\\Wow6432Node"),
    Machine("32-bit Windows", "win32", windows32.on_32bit_windows(SAMPLE), windows32.moved(inst.PRODUCT_EXE),
            windows32.moved(inst.RECORD), "HKLM\\SOFTWARE (there is no Wow6432Node)"),
)


def state(prefix: harness.Prefix, machine: Machine) -> State:
    exe = prefix.unix(machine.product_exe)
    record = prefix.unix(machine.record)
    calls = prefix.unix(SAMPLE.patch_dir + "\\" + harness.INSTALLER_RECORD_NAME)
    return State(harness.read_file_version(exe.read_bytes()) if exe.is_file() else None,
                 record.read_bytes().decode("cp1252") if record.is_file() else None,
                 harness.parse_installer_record(calls.read_bytes()) if calls.is_file() else [])


def describe_record(text: Optional[str]) -> str:
    return "none" if text is None else f'"{text}"'


def run_once(number: int, machine: Machine, prefix: harness.Prefix, run_dir: Path,
             utility: Path) -> tuple[harness.UtilityRun, State]:
    before = state(prefix, machine)
    print(f"=== Run {number} ({machine.title}): wine \"{SAMPLE.utility_path}\", started from {SAMPLE.cwd}\n")
    run = harness.run_utility(machine.sample, prefix, run_dir, utility)
    after = state(prefix, machine)
    print("Console, all the operator sees:")
    print(indented(run.console.decode("cp1252")))
    attempted = texts.CONSOLE_INSTALLING.encode() in run.console
    pause = "10 s after an install attempt" if attempted else "7 s when there is nothing to install"
    print(f"Exit code {run.code} after {run.elapsed:.1f} s (the utility waits {pause}, so the console can be read).\n")
    log = prefix.unix(SAMPLE.log_path)
    print(f"Run log {SAMPLE.log_path} (each run writes it anew):")
    print(indented(log.read_bytes().decode("cp1252").replace("\r\n", "\n") if log.is_file() else ""))
    print()
    print("Afterwards:")
    change = (lambda a, b: f"{a} -> {b}" if a != b else f"{b} (unchanged)")
    print(f"  Vdt.exe file version:   {change(before.exe_version or 'none', after.exe_version or 'none')}")
    print(f"  installedupdates.dat:   {change(describe_record(before.record), describe_record(after.record))}")
    new_calls = after.installer_calls[len(before.installer_calls):]
    if not new_calls:
        print("  Installer:              not started")
    for call in new_calls:
        hidden = "hidden" if call.get("show") == "0" else f"show state {call.get('show')}"
        print(f"  Installer:              started {hidden}, in {call.get('cwd')}, as\n"
              f"    {call.get('commandline')}")
    print()
    return run, after


def applied_problems(number: int, run: harness.UtilityRun, before: State, after: State) -> list[str]:
    problems = []
    if run.code != 0 or after.exe_version != "14.0.0.200" or after.record != PATCH_INFO:
        problems.append(f"run {number} did not apply and record the patch")
    if len(after.installer_calls) - len(before.installer_calls) != 1:
        problems.append(f"run {number} did not start the installer exactly once")
    return problems


def already_applied_problems(number: int, run: harness.UtilityRun, before: State, after: State) -> list[str]:
    problems = []
    if run.code != 0 or texts.CONSOLE_ALREADY_APPLIED.encode() not in run.console:
        problems.append(f"run {number} did not report the patch as already applied")
    if len(after.installer_calls) != len(before.installer_calls):
        problems.append(f"run {number} started the installer again")
    return problems


def show_machine(machine: Machine, runs: int, where: harness.Locations) -> None:
    times = "twice" if runs == 2 else "once"
    print(f"--- {machine.title}: a throwaway Wine prefix ({machine.arch}), the utility run {times} ---\n")
    print(f"Installation: registry keys under {machine.keys},\n"
          f"  {machine.product_exe} of file version 14.0.0.100, no {harness.RECORD_NAME} yet.")
    print(f"Patch package {SAMPLE.patch_dir}: {harness.UTILITY_NAME} ({harness.pe_machine(where.utility)}), "
          f"{harness.DESCRIPTOR_NAME} and Update2Setup.exe\n"
          "  (a stand-in for the real installer: it puts a Vdt.exe of version 14.0.0.200 in place).\n")


def on_machine(machine: Machine, where: harness.Locations, keep: bool, number: int) -> list[str]:
    """Lays out the sample on a fresh machine and runs the utility: twice on 64-bit Windows, where the
    second run must find the patch applied, once on 32-bit Windows."""
    seconds = harness.make_template(where.template, machine.arch)
    if seconds:
        print(f"(created the {machine.arch} template Wine prefix in {seconds:.0f} s; later runs reuse it)\n")
    runs = 2 if machine.arch == "win64" else 1
    show_machine(machine, runs, where)
    run_dir = Path(tempfile.mkdtemp(prefix=f"patchupdate-demo-{machine.arch}-"))
    prefix = harness.Prefix(run_dir / "prefix", machine.arch)
    problems: list[str] = []
    try:
        harness.clone_prefix(where.template, prefix.path)
        prefix.start_server()
        harness.lay_out(machine.sample, where, prefix, run_dir)
        before = state(prefix, machine)
        run, after = run_once(number, machine, prefix, run_dir, where.utility)
        problems += applied_problems(number, run, before, after)
        if runs == 2:
            again, finally_ = run_once(number + 1, machine, prefix, run_dir, where.utility)
            problems += already_applied_problems(number + 1, again, after, finally_)
    finally:
        prefix.shut_down()
        if keep:
            print(f"prefix kept in {prefix.path} (WINEPREFIX={prefix.path} WINEARCH={machine.arch})")
        else:
            shutil.rmtree(run_dir, ignore_errors=True)
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, required=True)
    parser.add_argument("--templates", type=Path, help="folder of the template prefixes (default: the build dir)")
    parser.add_argument("--utility", type=Path, required=True)
    parser.add_argument("--keep", action="store_true", help="keep the throwaway prefixes and print where they are")
    args = parser.parse_args()
    build_dir = args.build_dir.resolve()
    templates = (args.templates or build_dir).resolve()

    print("PatchUpdate demo: throwaway Windows machines (Wine prefixes) with Veldorant 14.0 installed and a\n"
          "patch package beside it. The utility is run as an administrator or a deployment script would.\n")
    print(f"{harness.DESCRIPTOR_NAME}:")
    print(indented(DESCRIPTOR.decode().replace("\r\n", "\n")))
    print()
    if harness.emulated_32bit() and harness.pe_machine(args.utility) == "i386":
        print("(this kernel runs no 32-bit code itself: Wine's 32-bit half runs under qemu-i386, so each\n"
              " start of a 32-bit program takes seconds here; on Windows it takes milliseconds)\n")
    problems: list[str] = []
    number = 1
    for machine in MACHINES:
        where = harness.Locations(helpers=build_dir / "helpers", template=harness.template_path(templates, machine.arch),
                                  runs=build_dir / "runs", utility=args.utility.resolve(), arch=machine.arch)
        problems += on_machine(machine, where, args.keep, number)
        number += 2 if machine.arch == "win64" else 1
    for problem in problems:
        print("DEMO FAILED: " + problem)
    if not problems:
        print("On 64-bit Windows run 1 applied the patch and recorded it, run 2 found it applied and started\n"
              "nothing; on 32-bit Windows run 3 found the product in Mode 2 and applied the patch.")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
