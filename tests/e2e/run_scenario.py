#!/usr/bin/env python3
"""Runs end-to-end scenarios of PatchUpdate.exe under Wine.

  run_scenario.py [--arch ARCH] --list
  run_scenario.py --build-dir DIR [--templates TDIR] [--arch ARCH] --make-template
  run_scenario.py --build-dir DIR [--templates TDIR] [--arch ARCH] --utility PatchUpdate.exe [--keep] NAME...

DIR is the e2e build folder: helper programs in DIR/helpers, scenario folders (removed afterwards unless
--keep) in DIR/runs/ARCH. The template prefixes, one per architecture, are in TDIR (DIR unless given).
Scenarios are the SCENARIOS lists of the scenarios_*.py modules beside this file. ARCH is the prefix's
Windows: win64 (every scenario) or win32 (the focused set of windows32.py, turned into its 32-bit twin).
Exit code 0 when every named scenario passed.
"""

import argparse
import importlib
import sys
import time
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402
import windows32  # noqa: E402


def all_scenarios(arch: str = "win64") -> list:
    scenarios = []
    for module_file in sorted(HERE.glob("scenarios_*.py")):
        scenarios += importlib.import_module(module_file.stem).SCENARIOS
    harness.check_names(scenarios)
    if arch == "win32":
        scenarios = [windows32.on_32bit_windows(harness.find(scenarios, name)) for name in windows32.NAMES]
    return scenarios


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the scenario names, one a line")
    parser.add_argument("--build-dir", type=Path)
    parser.add_argument("--templates", type=Path, help="folder of the template prefixes (default: DIR)")
    parser.add_argument("--arch", choices=sorted(harness.ARCHES), default="win64", help="the prefix's Windows")
    parser.add_argument("--make-template", action="store_true", help="create the template Wine prefix")
    parser.add_argument("--utility", type=Path, help="the PatchUpdate.exe to test")
    parser.add_argument("--keep", action="store_true", help="keep each scenario's folder and prefix")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()

    scenarios = all_scenarios(args.arch)
    if args.list:
        print("\n".join(s.name for s in scenarios))
        return 0
    if args.build_dir is None:
        parser.error("--build-dir is required")
    build_dir = args.build_dir.resolve()
    template = harness.template_path((args.templates or build_dir).resolve(), args.arch)
    if args.make_template:
        seconds = harness.make_template(template, args.arch)
        print(f"template prefix {template}: " + (f"created in {seconds:.1f} s" if seconds else "up to date"))
        return 0
    if args.utility is None or not args.names:
        parser.error("--utility and at least one scenario name are required")

    where = harness.Locations(helpers=build_dir / "helpers", template=template, runs=build_dir / "runs" / args.arch,
                              utility=args.utility.resolve(), arch=args.arch)
    missing = [str(p) for p in (where.utility, where.helpers / "sleeper.exe", where.helpers / "installer_standin.exe")
               if not p.is_file()]
    if missing:
        print("FAIL: not built: " + ", ".join(missing))
        return 1
    failed = 0
    for name in args.names:
        scenario = harness.find(scenarios, name)
        started = time.monotonic()
        try:
            outcome = harness.run_scenario(scenario, where, keep=args.keep)
        except Exception:  # a scenario that could not be set up fails, with the reason
            outcome = harness.Outcome(["the harness could not run the scenario:\n" + traceback.format_exc()], {})
        outcome.timings["total"] = time.monotonic() - started
        harness.report(scenario, outcome)
        failed += bool(outcome.failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
