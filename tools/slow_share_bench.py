#!/usr/bin/env python3
"""The fleet report over a slow share: every file-system request answered after a fixed delay.

  slow_share_bench.py [--build-dir build/native] [--machines 2000] [--runs 15-20] [--delay-ms 0 2 ...]
                      [--work DIR] [--keep]

Writes a collection with write_fleet (MACHINES machines, RUNS kept runs each: a range takes each
machine's oldest runs away in turn, so that the machines differ), mirrors it read-only through FUSE, where
every request (lookup, getattr, opendir, readdir, open, read, flush, release, ...) is answered after the
delay, many at once, and nothing is cached by the kernel (no attribute, entry or page cache), as over a
share. For each delay it times, over the mirror:
  - the report as shipped on Linux: PatchUpdateResult report MOUNT CSV (wall time, peak resident memory);
  - a short script that lists each machine's Results and reads its newest run's outcome file, one request
    at a time (a newest run without an outcome file was cut short: counted unreadable, as the report counts
    it in these fleets);
and how many requests each made, and it fails unless the report's counts equal the script's.

Needs /dev/fuse, fusermount and Debian's python3-fusepy (scripts/setup.sh); run as root or as a user
allowed to mount FUSE file systems. A benchmark, not a test: its figures are in the README.
"""

from __future__ import annotations

import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
# A stamped run: outcome.STAMP.json and Log_VDT_14_PatchUpdate.STAMP.txt, as the companion keeps them.
RUN_FILE = re.compile(r"(?:outcome|Log_VDT_14_PatchUpdate)\.(\d{8}-\d{6})\.(?:json|txt)")
# A row of the report's table: outcome, code, machines.
TABLE_ROW = re.compile(r"([a-z-]+) +(?:\d+|-) +(\d+)")
COUNTS_SECONDS = 0.2  # how often the mirror writes its request counts
MOUNT_SECONDS = 30


# --------------------------------------------------------------------------------------------------
# The mirror (run in a process of its own: --serve)
# --------------------------------------------------------------------------------------------------

def serve(source: Path, mount: Path, delay: float, counts_file: Path) -> None:
    try:
        import fusepy
    except ImportError:  # Debian's package, when another python3 comes first on PATH
        sys.path.append("/usr/lib/python3/dist-packages")
        import fusepy

    counts: collections.Counter = collections.Counter()
    lock = threading.Lock()

    class Mirror(fusepy.Operations):
        use_ns = True

        def __call__(self, op, *args):
            if op not in ("init", "destroy"):
                time.sleep(delay)
                with lock:
                    counts[op] += 1
            try:
                return super().__call__(op, *args)
            except OSError as e:
                raise fusepy.FuseOSError(e.errno or 5) from e

        @staticmethod
        def real(path: str) -> str:
            return str(source) + path

        @staticmethod
        def attributes(st: os.stat_result) -> dict:
            return {key: getattr(st, key) for key in ("st_mode", "st_nlink", "st_size", "st_uid", "st_gid")} | {
                "st_atime": st.st_atime_ns, "st_mtime": st.st_mtime_ns, "st_ctime": st.st_ctime_ns}

        def getattr(self, path, fh=None):
            return self.attributes(os.lstat(self.real(path)))

        def readdir(self, path, fh):
            # As a share's directory query (SMB's, and so FindFirstFile's) answers: every entry with its
            # kind, size and times in the one request; the kernel passes the kind on to readdir's caller.
            with os.scandir(self.real(path)) as entries:
                return [".", "..", *((e.name, self.attributes(e.stat(follow_symlinks=False)), 0) for e in entries)]

        def readlink(self, path):
            return os.readlink(self.real(path))

        def open(self, path, flags):
            if flags & (os.O_WRONLY | os.O_RDWR):
                raise fusepy.FuseOSError(30)  # EROFS
            return os.open(self.real(path), os.O_RDONLY | os.O_NOFOLLOW)

        def read(self, path, size, offset, fh):
            return os.pread(fh, size, offset)

        def release(self, path, fh):
            os.close(fh)

    def write_counts() -> None:
        while True:
            with lock:
                text = json.dumps(counts)
            staging = counts_file.with_suffix(".new")
            staging.write_text(text)
            staging.replace(counts_file)
            time.sleep(COUNTS_SECONDS)

    threading.Thread(target=write_counts, daemon=True).start()
    # Many threads (libfuse's default), so that concurrent requests overlap; nothing kept by the kernel.
    fusepy.FUSE(Mirror(), str(mount), foreground=True, nothreads=False, ro=True, fsname="slowshare",
                attr_timeout=0, entry_timeout=0, negative_timeout=0, direct_io=True)


class SlowShare:
    """The mirror of `source` at `mount`, answering after `delay_ms`, for as long as the `with` lasts."""

    def __init__(self, source: Path, mount: Path, delay_ms: float):
        self.source, self.mount, self.delay_ms = source, mount, delay_ms
        self.counts_file = mount.with_name(mount.name + "-requests.json")
        self.process: subprocess.Popen | None = None

    def __enter__(self) -> SlowShare:
        self.mount.mkdir(parents=True, exist_ok=True)
        self.counts_file.unlink(missing_ok=True)
        self.process = subprocess.Popen([sys.executable, __file__, "--serve", str(self.source), str(self.mount),
                                         str(self.delay_ms), str(self.counts_file)])
        deadline = time.monotonic() + MOUNT_SECONDS
        while not (os.path.ismount(self.mount) and self.counts_file.is_file()):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.__exit__()
                raise RuntimeError(f"the FUSE mirror did not come up at {self.mount}")
            time.sleep(0.1)
        return self

    def requests(self) -> collections.Counter:
        """The requests answered so far, by operation (as of the mirror's last count, written every 0.2 s)."""
        time.sleep(3 * COUNTS_SECONDS)
        return collections.Counter(json.loads(self.counts_file.read_text()))

    def __exit__(self, *exc) -> None:
        if os.path.ismount(self.mount):
            subprocess.run(["fusermount", "-u", "-z", str(self.mount)], check=False)
        if self.process is not None:
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


# --------------------------------------------------------------------------------------------------
# The collection, the two readers
# --------------------------------------------------------------------------------------------------

def write_collection(build: Path, work: Path, machines: int, fewest: int, most: int) -> tuple[Path, int]:
    """MACHINES machines with `most` kept runs each from write_fleet, then machine i's oldest i % (most -
    fewest + 1) runs taken away; the folder and the number of files."""
    subprocess.run([str(build / "tests" / "bench" / "write_fleet"), str(work / "fleet"), str(machines), str(most)],
                   check=True, stdout=subprocess.DEVNULL)
    collection = work / "fleet" / f"runs{most}"
    files = 0
    for i, machine in enumerate(sorted(os.listdir(collection))):
        results = collection / machine / "Results"
        stamps = sorted({m.group(1) for m in map(RUN_FILE.fullmatch, os.listdir(results)) if m})
        for stamp in stamps[:i % (most - fewest + 1)]:
            for name in (f"outcome.{stamp}.json", f"Log_VDT_14_PatchUpdate.{stamp}.txt"):
                (results / name).unlink(missing_ok=True)
        files += len(os.listdir(results))
    return collection, files


def newest_only(collection: Path) -> collections.Counter:
    """Each machine's outcome as its newest run's outcome file says, one request at a time."""
    counts: collections.Counter = collections.Counter()
    for machine in sorted(os.listdir(collection)):
        results = collection / machine / "Results"
        try:
            names = os.listdir(results)
        except OSError:
            counts["unreadable"] += 1
            continue
        stamps = [m.group(1) for m in map(RUN_FILE.fullmatch, names) if m]
        newest = f"outcome.{max(stamps)}.json" if stamps else ""
        if newest in names:
            fd = os.open(results / newest, os.O_RDONLY)
            try:
                line = os.read(fd, 1 << 20)  # whole: an outcome line is far shorter
            finally:
                os.close(fd)
            counts[json.loads(line)["outcome"]] += 1
        else:
            counts["unreadable"] += 1
    return counts


def run_report(build: Path, collection: Path, csv: Path) -> tuple[collections.Counter, int, float, float]:
    """The report's counts (rows of its table), its exit code, wall seconds and peak resident MB."""
    tick = time.monotonic()
    with open(csv.with_suffix(".console.txt"), "wb") as out:
        proc = subprocess.Popen([str(build / "PatchUpdateResult"), "report", str(collection), str(csv)], stdout=out,
                                stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.monotonic() - tick
    proc.returncode = os.waitstatus_to_exitcode(status)  # reaped here, so Popen must not wait again
    counts: collections.Counter = collections.Counter()
    for line in csv.with_suffix(".console.txt").read_text(errors="replace").splitlines():
        row = TABLE_ROW.fullmatch(line)
        if row and int(row.group(2)):
            counts[row.group(1)] = int(row.group(2))
    return counts, proc.returncode, seconds, usage.ru_maxrss / 1024


def per_machine(requests: collections.Counter, machines: int) -> str:
    total = sum(requests.values())
    ops = ", ".join(f"{op} {n / machines:.1f}" for op, n in requests.most_common())
    return f"{total} requests, {total / machines:.1f} a machine ({ops})"


def measure(build: Path, collection: Path, mount: Path, delay_ms: float, machines: int) -> bool:
    with SlowShare(collection, mount, delay_ms) as share:
        tick = time.monotonic()
        script = newest_only(mount)
        script_seconds = time.monotonic() - tick
        after_script = share.requests()
        report, code, report_seconds, peak_mb = run_report(build, mount, mount.parent / f"report-{delay_ms:g}ms.csv")
        after_report = share.requests()
    same = report == script
    print(f"delay {delay_ms:g} ms:")
    print(f"  report:             {report_seconds:8.1f} s, peak resident {peak_mb:.1f} MB, exit code {code}; "
          + per_machine(after_report - after_script, machines))
    print(f"  newest-only script: {script_seconds:8.1f} s; " + per_machine(after_script, machines))
    print(f"  ratio report / script: {report_seconds / script_seconds:.2f}")
    print("  counts " + ("equal: " if same else "DIFFER: report ")
          + ", ".join(f"{k} {v}" for k, v in sorted(report.items()))
          + ("" if same else "; script " + ", ".join(f"{k} {v}" for k, v in sorted(script.items()))), flush=True)
    return same


def cpu_model() -> str:
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return "an unknown processor"


def main() -> int:
    if len(sys.argv) == 6 and sys.argv[1] == "--serve":
        serve(Path(sys.argv[2]), Path(sys.argv[3]), float(sys.argv[4]) / 1000, Path(sys.argv[5]))
        return 0
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, default=ROOT / "build" / "native",
                        help="the native build (PatchUpdateResult, tests/bench/write_fleet)")
    parser.add_argument("--machines", type=int, default=2000)
    parser.add_argument("--runs", default="15-20", help="kept runs a machine: N or FEWEST-MOST (at most 20)")
    parser.add_argument("--delay-ms", type=float, nargs="+", default=[0, 2])
    parser.add_argument("--work", type=Path, help="folder for the collection and the mount (default: a temporary one)")
    parser.add_argument("--keep", action="store_true", help="keep the collection and the reports")
    args = parser.parse_args()
    fewest, _, most = args.runs.partition("-")
    fewest, most = int(fewest), int(most or fewest)
    build = args.build_dir.resolve()
    work = (args.work or Path(tempfile.mkdtemp(prefix="slow-share-"))).resolve()
    work.mkdir(parents=True, exist_ok=True)
    try:
        tick = time.monotonic()
        collection, files = write_collection(build, work, args.machines, fewest, most)
        print(f"{args.machines} machines x {args.runs} runs: {files} files, written in {time.monotonic() - tick:.0f} s "
              f"on {cpu_model()}, {os.cpu_count()} cores", flush=True)
        same = [measure(build, collection, work / "mount", delay, args.machines) for delay in args.delay_ms]
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0 if all(same) else 1


if __name__ == "__main__":
    sys.exit(main())
