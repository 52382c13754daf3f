#!/usr/bin/env python3
"""Shows PatchUpdate.exe at work under Wine, in a throwaway prefix: one installation, one patch package,
two runs (the first applies the patch, the second finds it applied).

  demo.py --build-dir BUILD/tests/e2e --utility BUILD/PatchUpdate.exe [--keep]
"""

import argparse
import shutil
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402
import installation as inst  # noqa: E402
import texts  # noqa: E402
from harness import Expect, InstallerStandIn, ProductExe, Scenario  # noqa: E402

DESCRIPTOR = (b"PatchInfo=Veldorant 14.0 Update 2\r\n"
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


def show(title: str, text: str) -> None:
    print(f"--- {title} ---")
    print(text.rstrip("\n") if text else "(nothing)")
    print()


def run_once(number: int, prefix: harness.Prefix, run_dir: Path) -> None:
    print(f"=== Run {number}: wine \"{SAMPLE.utility_path}\" (working directory {SAMPLE.cwd})\n")
    run = harness.run_utility(SAMPLE, prefix, run_dir)
    show("console", run.console.decode("cp1252"))
    print(f"exit code {run.code}, {run.elapsed:.1f} s\n")
    log = prefix.unix(SAMPLE.log_path)
    show(f"{SAMPLE.log_path}", log.read_bytes().decode("cp1252").replace("\r\n", "\n") if log.is_file() else "")
    exe = prefix.unix(inst.PRODUCT_EXE)
    print(f"{inst.PRODUCT_EXE}: file version {harness.read_file_version(exe.read_bytes()) if exe.is_file() else '-'}")
    record = prefix.unix(inst.RECORD)
    print(f"{inst.RECORD}: {record.read_bytes().decode('cp1252')!r}" if record.is_file()
          else f"{inst.RECORD}: none")
    calls_file = prefix.unix(SAMPLE.patch_dir + "\\" + harness.INSTALLER_RECORD_NAME)
    calls = harness.parse_installer_record(calls_file.read_bytes()) if calls_file.is_file() else []
    print(f"installer started {len(calls)} time(s) so far"
          + "".join(f"\n  command line: {c.get('commandline')}\n  working directory: {c.get('cwd')}"
                    f"\n  show state: {c.get('show')}" for c in calls))
    print()


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
        print("Installation: Veldorant 14.0, registry keys under HKLM\\SOFTWARE\\Wow6432Node,\n"
              f"  {inst.PRODUCT_EXE} with file version 14.0.0.100, no {harness.RECORD_NAME} yet.")
        print(f"Patch package {SAMPLE.patch_dir}: {harness.UTILITY_NAME}, {harness.DESCRIPTOR_NAME}, "
              "Update2Setup.exe (a stand-in that puts a 14.0.0.200 Vdt.exe in place).")
        show(harness.DESCRIPTOR_NAME, DESCRIPTOR.decode().replace("\r\n", "\n"))
        run_once(1, prefix, run_dir)
        run_once(2, prefix, run_dir)
    finally:
        prefix.shut_down()
        if args.keep:
            print(f"prefix kept in {prefix.path} (WINEPREFIX={prefix.path})")
        else:
            shutil.rmtree(run_dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
