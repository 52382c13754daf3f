#!/usr/bin/env python3
"""Shows PatchUpdate.exe at work under Wine, in a throwaway prefix: one installation, one patch package,
two runs (the first applies the patch, the second finds it applied).

  demo.py --build-dir BUILD/tests/e2e --utility BUILD/PatchUpdate.exe [--keep]
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


def state(prefix: harness.Prefix) -> State:
    exe = prefix.unix(inst.PRODUCT_EXE)
    record = prefix.unix(inst.RECORD)
    calls = prefix.unix(SAMPLE.patch_dir + "\\" + harness.INSTALLER_RECORD_NAME)
    return State(harness.read_file_version(exe.read_bytes()) if exe.is_file() else None,
                 record.read_bytes().decode("cp1252") if record.is_file() else None,
                 harness.parse_installer_record(calls.read_bytes()) if calls.is_file() else [])


def describe_record(text: Optional[str]) -> str:
    return "none" if text is None else f'"{text}"'


def run_once(number: int, prefix: harness.Prefix, run_dir: Path) -> tuple[harness.UtilityRun, State]:
    before = state(prefix)
    print(f"=== Run {number}: wine \"{SAMPLE.utility_path}\", started from {SAMPLE.cwd}\n")
    run = harness.run_utility(SAMPLE, prefix, run_dir)
    after = state(prefix)
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


def check(first: harness.UtilityRun, applied: State, second: harness.UtilityRun, finally_: State) -> list[str]:
    """What must have happened for the demo to show what it says."""
    problems = []
    if first.code != 0 or applied.exe_version != "14.0.0.200" or applied.record != PATCH_INFO:
        problems.append("run 1 did not apply and record the patch")
    if len(applied.installer_calls) != 1:
        problems.append(f"the installer was started {len(applied.installer_calls)} time(s) by run 1, not once")
    if second.code != 0 or texts.CONSOLE_ALREADY_APPLIED.encode() not in second.console:
        problems.append("run 2 did not report the patch as already applied")
    if len(finally_.installer_calls) != len(applied.installer_calls):
        problems.append("run 2 started the installer again")
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, required=True)
    parser.add_argument("--utility", type=Path, required=True)
    parser.add_argument("--keep", action="store_true", help="keep the throwaway prefix and print where it is")
    args = parser.parse_args()
    build_dir = args.build_dir.resolve()
    where = harness.Locations(helpers=build_dir / "helpers", template=build_dir / "wine-template",
                              runs=build_dir / "runs", utility=args.utility.resolve())

    seconds = harness.make_template(where.template)
    if seconds:
        print(f"(created the template Wine prefix in {seconds:.0f} s; later runs reuse it)\n")
    run_dir = Path(tempfile.mkdtemp(prefix="patchupdate-demo-"))
    prefix = harness.Prefix(run_dir / "prefix")
    try:
        harness.clone_prefix(where.template, prefix.path)
        prefix.start_server()
        harness.lay_out(SAMPLE, where, prefix, run_dir)
        print("PatchUpdate demo: a throwaway Windows machine (a Wine prefix) with Veldorant 14.0 installed and a\n"
              "patch package beside it. The utility is run twice, as an administrator or a deployment script would.\n")
        print("Installation: registry keys under HKLM\\SOFTWARE\\Wow6432Node,\n"
              f"  {inst.PRODUCT_EXE} of file version 14.0.0.100, no {harness.RECORD_NAME} yet.")
        print(f"Patch package {SAMPLE.patch_dir}: {harness.UTILITY_NAME}, {harness.DESCRIPTOR_NAME} and Update2Setup.exe\n"
              "  (a stand-in for the real installer: it puts a Vdt.exe of version 14.0.0.200 in place).\n")
        print(f"{harness.DESCRIPTOR_NAME}:")
        print(indented(DESCRIPTOR.decode().replace("\r\n", "\n")))
        print()
        first, applied = run_once(1, prefix, run_dir)
        second, finally_ = run_once(2, prefix, run_dir)
        problems = check(first, applied, second, finally_)
        for problem in problems:
            print("DEMO FAILED: " + problem)
        if not problems:
            print("Run 1 applied the patch and recorded it; run 2 found it applied and started nothing.")
    finally:
        prefix.shut_down()
        if args.keep:
            print(f"prefix kept in {prefix.path} (WINEPREFIX={prefix.path})")
        else:
            shutil.rmtree(run_dir, ignore_errors=True)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
