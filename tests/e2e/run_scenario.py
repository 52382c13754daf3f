#!/usr/bin/env python3
"""Runs end-to-end scenarios of PatchUpdate.exe under Wine.

  run_scenario.py --list
  run_scenario.py --build-dir DIR --make-template
  run_scenario.py --build-dir DIR --utility PatchUpdate.exe [--keep] NAME...

DIR is the e2e build folder: helper programs in DIR/helpers, the template prefix in DIR/wine-template,
scenario folders (removed afterwards unless --keep) in DIR/runs. Scenarios are the SCENARIOS lists of
the scenarios_*.py modules beside this file. Exit code 0 when every named scenario passed.
"""

import argparse
import importlib
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402


def all_scenarios() -> list:
    scenarios = []
    for module_file in sorted(HERE.glob("scenarios_*.py")):
        scenarios += importlib.import_module(module_file.stem).SCENARIOS
    harness.check_names(scenarios)
    return scenarios


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action="store_true", help="print the scenario names, one a line")
    parser.add_argument("--build-dir", type=Path)
    parser.add_argument("--make-template", action="store_true", help="create the template Wine prefix")
    parser.add_argument("--utility", type=Path, help="the PatchUpdate.exe to test")
    parser.add_argument("--keep", action="store_true", help="keep each scenario's folder and prefix")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()

    scenarios = all_scenarios()
    if args.list:
        print("\n".join(s.name for s in scenarios))
        return 0
    if args.build_dir is None:
        parser.error("--build-dir is required")
    template = args.build_dir / "wine-template"
    if args.make_template:
        seconds = harness.make_template(template)
        print(f"template prefix {template}: " + (f"created in {seconds:.1f} s" if seconds else "up to date"))
        return 0
    if args.utility is None or not args.names:
        parser.error("--utility and at least one scenario name are required")

    where = harness.Locations(helpers=args.build_dir / "helpers", template=template, runs=args.build_dir / "runs",
                              utility=args.utility)
    failed = 0
    for name in args.names:
        scenario = harness.find(scenarios, name)
        started = time.monotonic()
        outcome = harness.run_scenario(scenario, where, keep=args.keep)
        outcome.timings["total"] = time.monotonic() - started
        harness.report(scenario, outcome)
        failed += bool(outcome.failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
