#!/usr/bin/env python3
"""Shows PatchUpdate.exe at work under Wine, in throwaway prefixes: one installation, one patch package.
On 64-bit Windows two runs (the first applies the patch, the second finds it applied); then one run on a
32-bit Windows machine, where the product's keys have no Wow6432Node (Mode 2).

The two machines are played side by side, with progress lines as they go (see progress.py); each one's
story is printed whole when it is complete, 64-bit first. A template prefix the cache lacks is made
first (or waited for, when another process is making it). When Wine hangs or won't start, the machine is
played once more.

  tools/demo.py --build-dir BUILD/tests/e2e [--templates TDIR] --utility BUILD/PatchUpdate.exe [--keep]
"""

import dataclasses
import shutil
import sys
import tempfile
import threading
from pathlib import Path
from typing import Optional

# The end-to-end harness plays the machines.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))

import harness  # noqa: E402
import installation as inst  # noqa: E402
import texts  # noqa: E402
import windows32  # noqa: E402
import wine_prefix  # noqa: E402
from checks import parse_installer_record  # noqa: E402
from pe_image import pe_machine, read_file_version  # noqa: E402
from progress import Progress  # noqa: E402
from scenario import (DESCRIPTOR_NAME, INSTALLER_RECORD_NAME, RECORD_NAME, UTILITY_NAME, Expect, Scenario,  # noqa: E402
                      UtilityRun)
from watchdog import MachineryFailure  # noqa: E402

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
    installer=inst.INSTALLER,
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


def state(prefix: wine_prefix.Prefix, machine: Machine) -> State:
    exe = prefix.unix(machine.product_exe)
    record = prefix.unix(machine.record)
    calls = prefix.unix(SAMPLE.patch_dir + "\\" + INSTALLER_RECORD_NAME)
    return State(read_file_version(exe.read_bytes()) if exe.is_file() else None,
                 record.read_bytes().decode("cp1252") if record.is_file() else None,
                 parse_installer_record(calls.read_bytes()) if calls.is_file() else [])


def describe_record(text: Optional[str]) -> str:
    return "none" if text is None else f'"{text}"'


def run_once(number: int, machine: Machine, prefix: wine_prefix.Prefix, run_dir: Path, utility: Path,
             out: list[str], progress: Progress) -> tuple[UtilityRun, State]:
    before = state(prefix, machine)
    progress.say(f"{machine.title}: run {number} of the utility")
    out.append(f"=== Run {number} ({machine.title}): wine \"{SAMPLE.utility_path}\", started from {SAMPLE.cwd}\n")
    run = harness.run_utility(machine.sample, prefix, run_dir, utility)
    after = state(prefix, machine)
    out.append("Console, all the operator sees:")
    out.append(indented(run.console.decode("cp1252")))
    attempted = texts.CONSOLE_INSTALLING.encode() in run.console
    pause = "10 s after an install attempt" if attempted else "7 s when there is nothing to install"
    out.append(f"Exit code {run.code} after {run.elapsed:.1f} s (the utility waits {pause}, so the console can be "
               "read).\n")
    log = prefix.unix(SAMPLE.log_path)
    out.append(f"Run log {SAMPLE.log_path} (each run writes it anew):")
    out.append(indented(log.read_bytes().decode("cp1252").replace("\r\n", "\n") if log.is_file() else ""))
    out.append("")
    out.append("Afterwards:")
    change = (lambda a, b: f"{a} -> {b}" if a != b else f"{b} (unchanged)")
    out.append(f"  Vdt.exe file version:   {change(before.exe_version or 'none', after.exe_version or 'none')}")
    out.append(f"  installedupdates.dat:   {change(describe_record(before.record), describe_record(after.record))}")
    new_calls = after.installer_calls[len(before.installer_calls):]
    if not new_calls:
        out.append("  Installer:              not started")
    for call in new_calls:
        hidden = "hidden" if call.get("show") == "0" else f"show state {call.get('show')}"
        out.append(f"  Installer:              started {hidden}, in {call.get('cwd')}, as\n"
                   f"    {call.get('commandline')}")
    out.append("")
    return run, after


def applied_problems(number: int, run: UtilityRun, before: State, after: State) -> list[str]:
    problems = []
    if run.code != 0 or after.exe_version != "14.0.0.200" or after.record != PATCH_INFO:
        problems.append(f"run {number} did not apply and record the patch")
    if len(after.installer_calls) - len(before.installer_calls) != 1:
        problems.append(f"run {number} did not start the installer exactly once")
    return problems


def already_applied_problems(number: int, run: UtilityRun, before: State, after: State) -> list[str]:
    problems = []
    if run.code != 0 or texts.CONSOLE_ALREADY_APPLIED.encode() not in run.console:
        problems.append(f"run {number} did not report the patch as already applied")
    if len(after.installer_calls) != len(before.installer_calls):
        problems.append(f"run {number} started the installer again")
    return problems


def introduce(machine: Machine, runs: int, where: harness.Locations) -> list[str]:
    times = "twice" if runs == 2 else "once"
    return [f"--- {machine.title}: a throwaway Wine prefix ({machine.arch}), the utility run {times} ---\n",
            f"Installation: registry keys under {machine.keys},\n"
            f"  {machine.product_exe} of file version 14.0.0.100, no {RECORD_NAME} yet.",
            f"Patch package {SAMPLE.patch_dir}: {UTILITY_NAME} ({pe_machine(where.utility)}), "
            f"{DESCRIPTOR_NAME} and Update2Setup.exe\n"
            "  (a stand-in for the real installer: it puts a Vdt.exe of version 14.0.0.200 in place).\n"]


def on_machine(machine: Machine, where: harness.Locations, keep: bool, number: int, progress: Progress,
               out: list[str]) -> list[str]:
    """Lays out the sample on a fresh machine and runs the utility: twice on 64-bit Windows, where the
    second run must find the patch applied, once on 32-bit Windows. Its story goes to `out`; returns
    what went wrong. Raises MachineryFailure when Wine hung or would not start."""
    runs = 2 if machine.arch == "win64" else 1
    out += introduce(machine, runs, where)
    run_dir = Path(tempfile.mkdtemp(prefix=f"patchupdate-demo-{machine.arch}-"))
    prefix = wine_prefix.Prefix(run_dir / "prefix", machine.arch)
    problems: list[str] = []
    try:
        wine_prefix.clone_prefix(where.template, prefix.path)
        prefix.start_server()
        starting = f"{machine.title}: Wine starts its services and the sample is laid out"
        if wine_prefix.emulated_32bit() and machine.arch == "win32":
            starting += " (emulated: half a minute or more)"
        with progress.step(starting):
            harness.lay_out(machine.sample, where, prefix, run_dir)
        before = state(prefix, machine)
        run, after = run_once(number, machine, prefix, run_dir, where.utility, out, progress)
        problems += applied_problems(number, run, before, after)
        if runs == 2:
            again, finally_ = run_once(number + 1, machine, prefix, run_dir, where.utility, out, progress)
            problems += already_applied_problems(number + 1, again, after, finally_)
    finally:
        prefix.shut_down()
        if keep:
            out.append(f"prefix kept in {prefix.path} (WINEPREFIX={prefix.path} WINEARCH={machine.arch})\n")
        else:
            shutil.rmtree(run_dir, ignore_errors=True)
    return problems


@dataclasses.dataclass
class Show:
    """One machine's part of the demo, run in a thread of its own: its story and what went wrong."""
    machine: Machine
    number: int
    story: list[str] = dataclasses.field(default_factory=list)
    problems: list[str] = dataclasses.field(default_factory=list)


def play(show: Show, where: harness.Locations, keep: bool, progress: Progress) -> None:
    """The machine's part: its template prefix (made unless the cache has it), then the runs. A failure of
    the machinery (a hang the watchdog ended, a wineserver that did not start) is tried once more."""
    machine = show.machine
    try:
        for attempt in (1, 2):
            try:
                if not wine_prefix.template_ready(where.template, machine.arch):
                    with progress.step(f"{machine.title}: the {machine.arch} template Wine prefix, made once per "
                                       f"machine (kept in {where.template.parent})"):
                        wine_prefix.make_template(where.template, machine.arch, say=progress.say)
                story: list[str] = []
                show.problems = on_machine(machine, where, keep, show.number, progress, story)
                show.story = story
                return
            except MachineryFailure as e:
                if attempt == 2:
                    show.problems = [f"{machine.title}: Wine failed twice: {e}"]
                    return
                progress.say(f"{machine.title}: Wine failed ({e}); starting this machine once more")
    except Exception as e:  # shown with the other problems
        show.problems = [f"{machine.title}: {type(e).__name__}: {e}"]
    finally:
        progress.say(f"{machine.title}: done")


def main() -> int:
    parser = harness.command_line_parser(__doc__)
    parser.add_argument("--keep", action="store_true", help="keep the throwaway prefixes and print where they are")
    args = parser.parse_args()
    build_dir = args.build_dir.resolve()
    templates = wine_prefix.templates_folder(args.templates)
    progress = Progress()

    progress.block("PatchUpdate demo: throwaway Windows machines (Wine prefixes) with Veldorant 14.0 installed and\n"
                   "a patch package beside it. The utility is run as an administrator or a deployment script would.\n")
    progress.block(f"{DESCRIPTOR_NAME}:\n" + indented(DESCRIPTOR.decode().replace("\r\n", "\n")) + "\n")
    if wine_prefix.emulated_32bit() and pe_machine(args.utility) == "i386":
        progress.block("(this kernel runs no 32-bit code itself: Wine's 32-bit half runs under qemu-i386, so each\n"
                       " start of a 32-bit program takes seconds here; on Windows it takes milliseconds)\n")
    # Both machines at once: most of the time each waits for one emulated process, or for the utility's
    # pauses. Each story is shown whole, in order, as soon as it is complete.
    shows = [Show(MACHINES[0], 1), Show(MACHINES[1], 3)]
    threads = []
    for show in shows:
        where = harness.Locations(helpers=build_dir / "helpers",
                                  template=wine_prefix.template_path(templates, show.machine.arch),
                                  runs=build_dir / "runs", utility=args.utility.resolve(), arch=show.machine.arch)
        threads.append(threading.Thread(target=play, args=(show, where, args.keep, progress), daemon=True))
        threads[-1].start()
    problems: list[str] = []
    for show, thread in zip(shows, threads):
        thread.join()
        if show.story:
            progress.block("\n" + "\n".join(show.story))
        problems += show.problems
    for problem in problems:
        progress.block("DEMO FAILED: " + problem)
    if not problems:
        progress.block("On 64-bit Windows run 1 applied the patch and recorded it, run 2 found it applied and started\n"
                       "nothing; on 32-bit Windows run 3 found the product in Mode 2 and applied the patch.")
        progress.say("demo complete")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
