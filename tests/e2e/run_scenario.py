#!/usr/bin/env python3
"""Runs end-to-end scenarios of PatchUpdate.exe under Wine.

  run_scenario.py [--arch ARCH] --list
  run_scenario.py [--templates TDIR] [--arch ARCH|all] --make-template
  run_scenario.py --build-dir DIR [--templates TDIR] [--arch ARCH] [--shared SDIR] --utility PatchUpdate.exe [--keep] NAME...
  run_scenario.py --build-dir DIR [--arch ARCH] --shared SDIR --end-shared
  run_scenario.py --build-dir DIR [--templates TDIR] --utility PatchUpdate.exe --check-machinery

DIR is the e2e build folder: helper programs in DIR/helpers, scenario folders (removed afterwards unless
--keep) in DIR/runs/ARCH. The template prefixes, one per architecture, are in TDIR, by default the
machine's cache (template_cache.py). Scenarios are the SCENARIOS lists of the scenarios_*.py modules
beside this file. ARCH is the prefix's Windows: win64 (every scenario) or win32 (the focused set of
windows32.py, turned into its 32-bit twin).

Each scenario runs in a prefix of its own, or with --shared in the running prefix kept in SDIR, after the
scenario before it there (shared_prefix.py); --end-shared stops that prefix. A scenario whose run failed
its checks fails. Only a failure of the machinery (watchdog.MachineryFailure: a prefix that could not be
made, a wineserver that did not start, a watchdog that fired) is tried again, once; each such retry is
printed and added to DIR/machinery_retries.txt (or --retries-file).

--check-machinery shows that the machinery does what it claims, in about four minutes: a scenario whose
installer hangs without using the processor is ended by the watchdog within a minute and a half, twice
(the retry), and a scenario whose utility fails on purpose fails at once, without a retry.

Exit code 0 when every named scenario passed (or the template was made, or the machinery behaved).
"""

import argparse
import dataclasses
import importlib
import os
import shutil
import signal
import sys
import threading
import time
import traceback
from pathlib import Path
from typing import Callable, Optional

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402
import windows32  # noqa: E402
import wine_prefix  # noqa: E402
from progress import Progress  # noqa: E402
from scenario import UTILITY_NAME, check_names, find  # noqa: E402
from shared_prefix import SharedPrefix  # noqa: E402
from watchdog import MachineryFailure  # noqa: E402

# The watchdog must end a hung run within this long after the hang began.
WATCHDOG_BOUND_SECONDS = 90


def all_scenarios(arch: str = "win64") -> list:
    scenarios = []
    for module_file in sorted(HERE.glob("scenarios_*.py")):
        scenarios += importlib.import_module(module_file.stem).SCENARIOS
    check_names(scenarios)
    if arch == "win32":
        scenarios = [windows32.on_32bit_windows(find(scenarios, name)) for name in windows32.NAMES]
    return scenarios


def test_name(arch: str, name: str) -> str:
    """The scenario's name as tests/e2e/CMakeLists.txt names its test."""
    return f"e2e.{name}" if arch == "win64" else f"e2e.{arch}.{name}"


class Retries:
    """Appends each retry of the machinery, with its reason, to a file the test run prints at its end."""

    def __init__(self, path: Optional[Path]):
        self.path = path
        self.lock = threading.Lock()

    def add(self, what: str, reason: str) -> None:
        if self.path is None:
            return
        with self.lock:
            self.path.parent.mkdir(parents=True, exist_ok=True)
            with open(self.path, "a") as f:
                f.write(f"{what}: {reason}\n".replace("\n", " ").rstrip() + "\n")


def run_once_more_on_machinery_failure(scenario, where: harness.Locations, keep: bool, shared: Optional[Path],
                                       say: Callable[[str], None], on_retry: Callable[[str], None]) -> harness.Outcome:
    """The scenario's outcome; a failure of the machinery is tried again once, a failed check never."""
    retries: list[str] = []
    while True:
        try:
            if shared is None:
                outcome = harness.run_scenario(scenario, where, keep=keep)
            else:
                with SharedPrefix(shared, where.template, where.arch, say) as prefix:
                    try:
                        outcome = harness.run_scenario(scenario, where, keep=keep, shared=prefix)
                    except MachineryFailure:
                        prefix.end()  # the next turn starts it afresh
                        raise
        except MachineryFailure as e:
            if not retries:
                retries.append(str(e))
                on_retry(str(e))
                say(f"{scenario.name}: the machinery failed, so the scenario runs once more: {e}")
                continue
            outcome = harness.Outcome([f"the machinery failed again, after one retry: {e}"], {})
        except Exception:  # a scenario that could not be set up fails, with the reason
            outcome = harness.Outcome(["the harness could not run the scenario:\n" + traceback.format_exc()], {})
        outcome.retries = retries
        return outcome


def make_templates(templates: Path, arches: list[str], retries: Retries, progress: Progress) -> int:
    """Makes the template prefixes, side by side (each is mostly one process at a time)."""
    failed = []

    def make(arch: str) -> None:
        template = wine_prefix.template_path(templates, arch)
        try:
            seconds = wine_prefix.make_template(template, arch, say=progress.say,
                                            on_retry=lambda reason: retries.add(f"e2e.wine_prefix_template_{arch}",
                                                                                reason))
            progress.say(f"template prefix {template}: " + (f"made in {seconds:.1f} s" if seconds else "up to date"))
        except Exception as e:  # reported here; the others go on
            progress.say(f"FAIL: template prefix {template}: {e}")
            failed.append(arch)

    threads = [threading.Thread(target=make, args=(arch,)) for arch in arches]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return 1 if failed else 0


def check_machinery(where: harness.Locations, progress: Progress) -> int:
    """A hang the watchdog must end, within WATCHDOG_BOUND_SECONDS, on both tries; a failure on purpose
    that must fail at once."""
    base = find(all_scenarios(), "run_patch_applied")
    problems = []

    hang = dataclasses.replace(base, name="machinery_check_hang",
                               description="the installer stand-in blocks for ever without using the processor",
                               installer=dataclasses.replace(base.installer, actions=["block"]))
    ended: list[float] = []
    progress.say(f"{hang.name}: {hang.description}; the watchdog must end it")
    started = time.monotonic()
    attempt_started = [started]

    def on_retry(reason: str) -> None:
        ended.append(time.monotonic() - attempt_started[0])
        attempt_started[0] = time.monotonic()

    outcome = run_once_more_on_machinery_failure(hang, where, False, None, progress.say, on_retry)
    ended.append(time.monotonic() - attempt_started[0])
    harness.report(hang, outcome)
    if len(outcome.retries) != 1 or not all("watchdog" in r for r in outcome.retries + outcome.failures):
        problems.append("the hang was not ended by the watchdog on both tries")
    # Measured from the start of each try, prefix set-up included: the hang itself began later.
    for i, seconds in enumerate(ended, 1):
        progress.say(f"{hang.name}: try {i} ended {seconds:.0f} s after it began")
        if seconds > WATCHDOG_BOUND_SECONDS:
            problems.append(f"try {i} took {seconds:.0f} s: the watchdog was late")

    # A utility that does nothing: the empty helper program in its place.
    broken = where.runs / "machinery_check_utility" / UTILITY_NAME
    broken.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(where.helpers / "empty.exe", broken)
    failing = dataclasses.replace(base, name="machinery_check_failure",
                                  description="the utility replaced by a program that does nothing: must fail at once")
    progress.say(f"{failing.name}: {failing.description}")
    outcome = run_once_more_on_machinery_failure(failing, dataclasses.replace(where, utility=broken), False, None,
                                                 progress.say, lambda reason: None)
    shutil.rmtree(broken.parent, ignore_errors=True)
    harness.report(failing, outcome)
    if not outcome.failures or outcome.retries:
        problems.append("the failure on purpose did not fail at once")
    for problem in problems:
        print("FAIL: " + problem)
    if not problems:
        print("machinery check passed: the hang was ended by the watchdog and retried once, the failure on "
              "purpose failed without a retry")
    return 1 if problems else 0


def abandon(signum, frame) -> None:
    """Told to stop: the Wine processes of the prefixes started here go too, and no half-made template
    stays. (In a shared prefix started elsewhere, the next scenario ends what this one left.)"""
    wine_prefix.abandon()
    os._exit(128 + signum)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the scenario names, one a line")
    parser.add_argument("--build-dir", type=Path)
    parser.add_argument("--templates", type=Path, help="folder of the template prefixes (default: the cache)")
    parser.add_argument("--arch", choices=sorted(wine_prefix.ARCHES) + ["all"], default="win64",
                        help="the prefix's Windows (all: with --make-template, both)")
    parser.add_argument("--make-template", action="store_true", help="make the template Wine prefix")
    parser.add_argument("--utility", type=Path, help="the PatchUpdate.exe to test")
    parser.add_argument("--keep", action="store_true", help="keep each scenario's folder and prefix")
    parser.add_argument("--shared", type=Path, help="take turns in the running prefix kept in this folder")
    parser.add_argument("--end-shared", action="store_true", help="stop the shared prefix and remove it")
    parser.add_argument("--retries-file", type=Path, help="where retries are added (default DIR/machinery_retries.txt)")
    parser.add_argument("--check-machinery", action="store_true", help="show the watchdog and the retry rule at work")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()

    progress = Progress()
    signal.signal(signal.SIGTERM, abandon)
    signal.signal(signal.SIGINT, abandon)
    templates = wine_prefix.templates_folder(args.templates)
    retries_file = args.retries_file or (args.build_dir.resolve() / "machinery_retries.txt" if args.build_dir else None)
    retries = Retries(retries_file)
    if args.make_template:
        arches = [args.arch] if args.arch != "all" else ["win64"] + (["win32"] if wine_prefix.runs_32bit() else [])
        return make_templates(templates, arches, retries, progress)
    if args.arch == "all":
        parser.error("--arch all goes with --make-template only")

    scenarios = all_scenarios(args.arch)
    if args.list:
        print("\n".join(s.name for s in scenarios))
        return 0
    if args.build_dir is None:
        parser.error("--build-dir is required")
    build_dir = args.build_dir.resolve()
    if args.end_shared:
        if args.shared is None:
            parser.error("--end-shared needs --shared")
        with SharedPrefix(args.shared.resolve(), wine_prefix.template_path(templates, args.arch), args.arch) as shared:
            shared.end(keep=args.keep)
        return 0
    if args.utility is None or not (args.names or args.check_machinery):
        parser.error("--utility and at least one scenario name (or --check-machinery) are required")

    where = harness.Locations(helpers=build_dir / "helpers", template=wine_prefix.template_path(templates, args.arch),
                              runs=build_dir / "runs" / args.arch, utility=args.utility.resolve(), arch=args.arch)
    missing = [str(p) for p in (where.utility, where.helpers / "sleeper.exe", where.helpers / "installer_standin.exe")
               if not p.is_file()]
    if missing:
        print("FAIL: not built: " + ", ".join(missing))
        return 1
    if args.check_machinery:
        return check_machinery(where, progress)
    failed = 0
    for name in args.names:
        scenario = find(scenarios, name)
        started = time.monotonic()
        outcome = run_once_more_on_machinery_failure(
            scenario, where, args.keep, args.shared.resolve() if args.shared else None, progress.say,
            lambda reason: retries.add(test_name(args.arch, scenario.name), reason))
        outcome.timings["total"] = time.monotonic() - started
        harness.report(scenario, outcome)
        failed += bool(outcome.failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
