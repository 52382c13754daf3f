#!/usr/bin/env python3
"""Fails unless each benchmark family's time grows at most linearly with its size.

Reads Google Benchmark's JSON. For each family, compares the time per unit of size at its two
sizes, 16 times apart and both large enough that fixed costs don't hide the growth: a linear cost
keeps it flat, a quadratic one multiplies it by 16. Takes the fastest of the repetitions and allows
a factor of 4 for caches and a busy machine. Benchmarks with named arguments ("delay_ms:2") are
measurements, not sizes, and are passed over.
"""
import json
import sys
from collections import defaultdict

ALLOWED = 4.0


def main(path):
    with open(path, encoding="utf-8") as f:
        report = json.load(f)
    families = defaultdict(list)
    for run in report["benchmarks"]:
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            if run.get("error_occurred"):
                print(f"{run['name']}: {run.get('error_message')}")
                return 1
            continue
        name, _, size = run["name"].partition("/")
        if not size.isdigit():
            continue  # named arguments: a measurement for the README, not a size
        families[name].append((int(size), float(run["real_time"])))
    for name, runs in families.items():
        fastest = {}
        for size, seconds in runs:
            fastest[size] = min(seconds, fastest.get(size, seconds))
        families[name] = list(fastest.items())
    failed = False
    for name, runs in sorted(families.items()):
        runs.sort()
        (small_n, small_t), (large_n, large_t) = runs[-2], runs[-1]
        growth = (large_t / small_t) / (large_n / small_n)
        verdict = "ok" if growth <= ALLOWED else "SUPERLINEAR"
        failed |= growth > ALLOWED
        print(f"{name}: n {small_n} -> {large_n}, time {small_t:.1f} -> {large_t:.1f} "
              f"{report['benchmarks'][0]['time_unit']}, per-unit growth x{growth:.2f} {verdict}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
