"""Progress lines for the long steps: which step, how long so far, on one clock for the whole command.

scripts/demo.sh and scripts/test.sh put the moment they started in PATCHUPDATE_STARTED (seconds since the
epoch, as `date +%s` prints it), so the lines of every program they start count from the same start.
Lines from several threads come out whole.
"""

from __future__ import annotations

import contextlib
import os
import sys
import threading
import time
from typing import Iterator, TextIO

START_ENV = "PATCHUPDATE_STARTED"
HEARTBEAT_SECONDS = 20


class Progress:
    def __init__(self, out: TextIO = sys.stdout, heartbeat: float = HEARTBEAT_SECONDS):
        try:
            self.started = float(os.environ[START_ENV])
        except (KeyError, ValueError):
            self.started = time.time()
        self.out = out
        self.heartbeat = heartbeat
        self.lock = threading.Lock()

    def stamp(self) -> str:
        elapsed = max(0, int(time.time() - self.started))
        return f"[{elapsed // 60}:{elapsed % 60:02d}]"

    def say(self, text: str) -> None:
        with self.lock:
            print(f"{self.stamp()} {text}", file=self.out, flush=True)

    def block(self, text: str) -> None:
        """Several lines at once, none of another thread's between them."""
        with self.lock:
            print(text, file=self.out, flush=True)

    @contextlib.contextmanager
    def step(self, what: str) -> Iterator[None]:
        """Says the step began, how long it has run every HEARTBEAT_SECONDS, and when it ended."""
        self.say(what + " ...")
        began = time.monotonic()
        done = threading.Event()

        def beat() -> None:
            while not done.wait(self.heartbeat):
                self.say(f"{what}: {time.monotonic() - began:.0f} s so far")

        beater = threading.Thread(target=beat, daemon=True)
        beater.start()
        try:
            yield
        except BaseException:
            done.set()
            beater.join()
            self.say(f"{what}: failed after {time.monotonic() - began:.0f} s")
            raise
        done.set()
        beater.join()
        self.say(f"{what}: done in {time.monotonic() - began:.0f} s")
