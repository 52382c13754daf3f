#!/usr/bin/env python3
"""The Linux `PatchUpdateResult report` over a collection a hostile machine user shaped.

  check_hostile_collection.py PATCHUPDATERESULT

Machine folders named like spreadsheet formulas and terminal escape sequences, outcome files whose fields
are formulas, logs whose date line is 15 MiB, and a link where the report's own CSV goes: the CSV holds no
cell a spreadsheet would run, the console no control character, a dozen such logs take no more memory than
one does, and the file the link points to is left as it was. An expected list of such names, of a huge
line, a pipe or a file over 64 MiB gets the same care: names shown as text or passed over, the others
refused at once with the reason.
Python 3 standard library only; exit code 0 when every check holds.
"""

import csv
import io
import json
import os
import subprocess
import sys
import tempfile
from pathlib import Path

HOSTILE_NAMES = ['=HYPERLINK("http://x","y")', "@SUM(A1)", "+PC01", "-PC02", "\tPC03", "PC04\x1b]0;owned\x07\x1b[2J",
                 "PC05\x9b31m"]
HOSTILE_FIELDS = ["=1+1", "@cmd", "+2", "-3", "\rx", "\x1b[31mred\x1b[0m"]
RULE = "=" * 89
HEADER = (RULE + "\r\n\r\nVeldorant 14.0 Patch Update Utility Version : 1.0.5\r\n\r\n"
          "Veldorant 14.0 Patch Update Utility Date/Time : {}\r\n\r\n" + RULE + "\r\n\r\n")
FOOTER = "=========== (Veldorant 14.0 Patch Update Utility 1.0.5) Patch Update : End  ============="
ENTRY = "Execute patch process silent: Completed successfully.\r\n\r\n"
FORMULA_STARTS = ("=", "+", "-", "@", "\t", "\r")


def log(date: str) -> bytes:
    return (HEADER.format(date) + ENTRY + FOOTER).encode("latin-1")


def run(report: str, folder: Path) -> tuple[bytes, list, int]:
    """The report's console bytes, its CSV rows and its peak resident memory in KiB."""
    csv_path = folder.parent / (folder.name + ".csv")
    probe = ("import resource, subprocess, sys; r = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE); "
             "sys.stdout.buffer.write(r.stdout); "
             "sys.stderr.write(str(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))")
    done = subprocess.run([sys.executable, "-c", probe, report, "report", str(folder), str(csv_path)],
                          capture_output=True, check=True)
    rows = list(csv.reader(io.StringIO(csv_path.read_bytes().decode("utf-8-sig"), newline="")))
    return done.stdout, rows, int(done.stderr)


def main() -> int:
    report = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        root = Path(tmp)
        hostile = root / "hostile"
        for i, name in enumerate(HOSTILE_NAMES):
            record = {"machine": HOSTILE_FIELDS[i % len(HOSTILE_FIELDS)], "time": HOSTILE_FIELDS[(i + 1) % 6],
                      "outcome": "install-failed", "code": 1603, "reason": HOSTILE_FIELDS[(i + 2) % 6]}
            folder = hostile / name / "Results"
            folder.mkdir(parents=True)
            (folder / "outcome.20261209-033005.json").write_text(json.dumps(record) + "\r\n")
        console, rows, _ = run(report, hostile)
        for row in rows[1:]:
            for cell in row:
                if cell.startswith(FORMULA_STARTS):
                    failures.append(f"a CSV cell a spreadsheet would run: {cell!r}")
        text = console.decode("utf-8")
        bad = sorted({c for c in text if (ord(c) < 0x20 and c != "\n") or 0x7F <= ord(c) < 0xA0})
        if bad:
            failures.append(f"control characters on the console: {bad}")
        if len(rows) != 1 + len(HOSTILE_NAMES):
            failures.append(f"{len(rows) - 1} CSV rows, expected {len(HOSTILE_NAMES)}")

        # The administrator's list may hold the same names: missing machines shown as text, escapes passed over.
        hostile_list = root / "expected.txt"
        # (A first line with a comma in it would make a CSV with no known column: refused, as the unit tests show.)
        hostile_list.write_bytes("\r\n".join(["PC01"] + HOSTILE_NAMES + HOSTILE_FIELDS + ["x" * (4 << 20)]).encode())
        listed_csv = root / "listed.csv"
        done = subprocess.run([report, "report", str(hostile), str(listed_csv), "--expected", str(hostile_list)],
                              capture_output=True, check=False, timeout=60)
        rows = list(csv.reader(io.StringIO(listed_csv.read_bytes().decode("utf-8-sig"), newline="")))
        if done.returncode != 4 or not any(row[1] == "missing" for row in rows[1:]):
            failures.append(f"a hostile list: exit code {done.returncode}, rows {rows[1:]}")
        if any(cell.startswith(FORMULA_STARTS) for row in rows[1:] for cell in row):
            failures.append("a hostile list: a CSV cell a spreadsheet would run")
        text = done.stdout.decode("utf-8")
        if any((ord(c) < 0x20 and c != "\n") or 0x7F <= ord(c) < 0xA0 for c in text) or "passed over" not in text:
            failures.append(f"a hostile list: control characters or no word of what was passed over: {text!r}")
        # A pipe nobody writes to and a file over 64 MiB are refused at once, nothing written.
        fifo, big = root / "pipe", root / "big.txt"
        os.mkfifo(fifo)
        with open(big, "wb") as f:
            f.truncate(65 << 20)
        for refused in (fifo, big):
            listed_csv.unlink(missing_ok=True)
            done = subprocess.run([report, "report", str(hostile), str(listed_csv), "--expected", str(refused)],
                                  capture_output=True, check=False, timeout=60)
            if done.returncode != 1 or b"The expected list could not be used" not in done.stdout or listed_csv.exists():
                failures.append(f"the list {refused.name}: exit code {done.returncode}, {done.stdout!r}")

        # The CSV goes into the collection unless told otherwise: a link there is replaced, not written through.
        victim = root / "victim.txt"
        victim.write_text("keep me")
        (hostile / "PatchUpdateReport.csv").symlink_to(victim)
        subprocess.run([report, "report", str(hostile)], capture_output=True, check=False)
        if victim.read_text() != "keep me" or (hostile / "PatchUpdateReport.csv").is_symlink():
            failures.append("the report wrote its CSV through a link in the collection")

        peaks = {}
        for label, count, date in (("one long", 1, "7" * (15 << 20)), ("twelve long", 12, "7" * (15 << 20)),
                                   ("forty normal", 40, "Wednesday 03:30, December 09, 2026")):
            folder = root / label.replace(" ", "_")
            for i in range(count):
                (folder / f"PC{i:02d}").mkdir(parents=True)
                (folder / f"PC{i:02d}" / "Log_VDT_14_PatchUpdate.txt").write_bytes(log(date))
            _, rows, peaks[label] = run(report, folder)
            if any(len(cell) > 1000 for row in rows for cell in row):
                failures.append(f"{label}: a CSV cell holds what the file holds")
        # Each long log is read and let go: twelve cost what one does, and one no more than its own bytes.
        if peaks["twelve long"] > peaks["one long"] + 4096:
            failures.append(f"twelve logs with a 15 MiB date line peaked at {peaks['twelve long']} KiB, one at "
                            f"{peaks['one long']} KiB")
        if peaks["one long"] > peaks["forty normal"] + 20 * 1024:
            failures.append(f"one log with a 15 MiB date line peaked at {peaks['one long']} KiB, forty normal "
                            f"ones at {peaks['forty normal']} KiB")
        print(f"peak resident memory: {peaks}")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
