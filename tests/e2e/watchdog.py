"""A Wine prefix's processes: which they are, whether any of them is working, and ending them.

Emulated 32-bit Wine now and then hangs for good with every process idle (wineboot, services, explorer,
winedevice and rundll32 each waiting on a pipe, the wineserver in epoll): nothing ends by itself, and a
timeout long enough for a slow machine costs many minutes. A hang uses no processor time, work does (a
process starting under qemu-i386 keeps a core busy for seconds), so the watchdog ends whatever it guards
once the prefix's programs together have used next to no processor time for a minute. The wineserver's
own time doesn't count: it only answers the programs, and its timers (it saves the registry every 30 s)
cost it a few hundredths of a second every few seconds even when everything else stands still.

Which processes belong to a prefix: those whose environment holds WINEPREFIX=<the prefix>. Every process
Wine starts for a prefix inherits it (the wineserver, the services, each program, and qemu-i386 passes its
own environment on to the 32-bit program it runs), and /proc/PID/environ keeps the environment a process
was started with, whatever the program did since. The other handles fall short: the wineserver detaches
into a session of its own, so process groups don't hold; the server's socket folder (named after the
prefix's device and inode) finds the server only. Processor time is utime + stime of /proc/PID/stat.

Python 3 standard library only; Linux.
"""

from __future__ import annotations

import os
import signal
import subprocess
import threading
import time
from pathlib import Path
from typing import Callable, Optional

IDLE_LIMIT_SECONDS = 60
# Below this much processor time of its programs in the whole window the prefix counts as idle (an idle
# service wakes now and then for a hundredth of a second); any real work costs seconds.
IDLE_CPU_SECONDS = 0.5
SAMPLE_SECONDS = 1.0
END_SECONDS = 15  # for `wineserver -k`, then what is left is killed outright
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


class MachineryFailure(Exception):
    """The machinery failed, not the program under test: a prefix that could not be made, a wineserver
    that did not start, a watchdog that fired. Worth one more try; anything else is a failure."""


def _environment_has(pid: str, entry: bytes) -> bool:
    try:
        with open(f"/proc/{pid}/environ", "rb") as f:
            return entry in f.read().split(b"\0")
    except OSError:  # gone, a zombie, or another user's
        return False


def _name_and_ticks(pid: str) -> Optional[tuple[str, int]]:
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return None
    # The name is in parentheses and may hold blanks or parentheses itself: the last ")" ends it.
    close = stat.rindex(")")
    fields = stat[close + 2:].split()
    return stat[stat.index("(") + 1:close], int(fields[11]) + int(fields[12])  # utime, stime


def prefix_processes(prefix: Path) -> dict[int, tuple[str, int]]:
    """{pid: (name, processor time in clock ticks)} of every process started for this prefix."""
    entry = b"WINEPREFIX=" + os.fsencode(str(prefix))
    found = {}
    own = os.getpid()
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == own or not _environment_has(pid, entry):
            continue
        sample = _name_and_ticks(pid)
        if sample is not None:
            found[int(pid)] = sample
    return found


def command_line(pid: int) -> str:
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


def kill_processes(prefix: Path, spare: Optional[Callable[[int, str], bool]] = None) -> None:
    """Kills the prefix's processes, but those `spare(pid, name)` keeps, and waits until they are gone."""
    deadline = time.monotonic() + END_SECONDS
    while time.monotonic() < deadline:
        left = [pid for pid, (name, _) in prefix_processes(prefix).items() if not (spare and spare(pid, name))]
        if not left:
            return
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.1)


def end_prefix(prefix: Path, env: dict) -> None:
    """Ends the prefix's wineserver and every process of the prefix, and nothing else."""
    try:
        subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=END_SECONDS)
    except subprocess.TimeoutExpired:
        pass
    kill_processes(prefix)


class Watchdog:
    """Guards the waits on one prefix's processes: `with dog.watching("what"): ...`.

    While a watch is on, a thread samples the prefix's processes every second. A change in the set of
    processes, or IDLE_CPU_SECONDS of processor time used by its programs (all but the wineserver) since
    the last activity, is activity. When there
    has been none for IDLE_LIMIT_SECONDS plus the watch's planned pauses (a program told to sleep), the
    prefix is ended (its wineserver and its processes only) and the watch raises MachineryFailure,
    whatever the guarded code raised when its processes went away.
    """

    def __init__(self, prefix: Path, env: dict, say: Optional[Callable[[str], None]] = None,
                 limit: float = IDLE_LIMIT_SECONDS):
        self.prefix = prefix
        self.env = env
        self.say = say
        self.limit = limit
        self.fired: Optional[str] = None
        self.fired_after: Optional[float] = None  # seconds from the start of the watch to the end of the prefix
        self.watching_now = False
        self.idle_seconds = 0.0  # how long the prefix has been idle, as the current watch last saw it

    def watching(self, what: str, planned_pause: float = 0.0) -> "_Watch":
        """A watch; inside another watch of the same prefix it changes nothing (the outer one goes on)."""
        return _Watch(self, what, planned_pause)


class _Watch:
    def __init__(self, dog: Watchdog, what: str, planned_pause: float):
        self.dog = dog
        self.what = what
        self.allowed = dog.limit + planned_pause
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self) -> "_Watch":
        self.nested = self.dog.watching_now
        if not self.nested:
            self.dog.watching_now = True
            self.dog.idle_seconds = 0.0
            self.dog.fired = None
            self.dog.fired_after = None
            self.started = time.monotonic()
            self.thread.start()
        return self

    def __exit__(self, kind, value, traceback) -> bool:
        if not self.nested:
            self.stop.set()
            self.thread.join()
            self.dog.watching_now = False
        if self.dog.fired is not None:
            raise MachineryFailure(self.dog.fired) from value
        return False

    def _run(self) -> None:
        threshold = IDLE_CPU_SECONDS * CLOCK_TICKS
        known = prefix_processes(self.dog.prefix)
        active_at = time.monotonic()
        used_since = 0
        while not self.stop.wait(SAMPLE_SECONDS):
            now = prefix_processes(self.dog.prefix)
            used = sum(ticks - known[pid][1] if pid in known else ticks
                       for pid, (name, ticks) in now.items() if not name.startswith("wineserver"))
            changed = now.keys() != known.keys()  # a process started or ended
            known = now
            used_since += used
            if changed or used_since >= threshold:
                active_at, used_since = time.monotonic(), 0
                self.dog.idle_seconds = 0.0
                continue
            idle = self.dog.idle_seconds = time.monotonic() - active_at
            if idle >= self.allowed:
                names = ", ".join(sorted(name for name, _ in now.values())) or "none left"
                self.dog.fired = (f"watchdog: the prefix's programs used no processor time for {idle:.0f} s "
                                  f"while {self.what}; ended its wineserver and processes ({names})")
                if self.dog.say:
                    self.dog.say(self.dog.fired)
                end_prefix(self.dog.prefix, self.dog.env)
                self.dog.fired_after = time.monotonic() - self.started
                return
