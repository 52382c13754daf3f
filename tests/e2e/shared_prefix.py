"""A running Wine prefix that scenarios take turns in, one after another.

Where 32-bit code is emulated, the first program in a fresh prefix waits about 40 s for Wine to start its
services (wineboot, services, winedevice, plugplay, svchost: each an emulated process), longer than most
scenarios take. Scenarios in a shared prefix pay that once: its wineserver and services keep running
between them, also between the processes that run them (one ctest test each).

Before each scenario, the registry keys and files that it and the scenario before it own are put back as
the template has them: a path the template lacks is removed from its top-most folder that the template
lacks, a file the template has is copied back; a key the template lacks is deleted from its top-most key
that the template lacks, in the same `reg import` that lays out the scenario's own keys. After the run,
the processes it left are ended, all but the wineserver and Wine's own programs (its services).

The prefix, what the last scenario owned (state.json) and a lock live in one folder. The lock makes users
take turns; a prefix whose wineserver is gone (ended, or its linger time over) is made afresh.

Python 3 standard library only.
"""

from __future__ import annotations

import dataclasses
import fcntl
import json
import os
import shutil
import subprocess
from pathlib import Path
from typing import Callable, Optional

import scenario
from scenario import Scenario
from wine_prefix import Prefix, clone_prefix, wine_env
from watchdog import MachineryFailure, end_prefix, kill_processes, command_line, prefix_processes

# The wineserver and the services outlive the last scenario by this much, in case nobody ends them.
LINGER_SECONDS = 600
HKLM = "HKEY_LOCAL_MACHINE\\"
# Folders the harness itself lays out in every scenario.
HARNESS_PATHS = (scenario.RESULTS_DIR, scenario.PLANTED_MARKER, scenario.EXIT_CODE_HELPER, r"C:\Running", r"C:\Holders")


def fits(s: Scenario) -> Optional[str]:
    """Why the scenario can't take its turn in a shared prefix; None when it can."""
    if s.registry_removed:
        return "it removes keys of the template, which would have to be put back"
    outside = [key for key in s.registry if not key.upper().startswith(HKLM)]
    if outside:
        return f"it sets keys outside HKEY_LOCAL_MACHINE: {outside}"
    return None


def owned_paths(s: Scenario) -> list[str]:
    """The Windows paths a scenario lays out, lets programs write or checks."""
    paths = {s.patch_dir, s.cwd, *HARNESS_PATHS, *s.files, *s.expect.files, *s.expect.folder_contents,
             *s.read_only, *s.held_open, *s.held_shared, *s.attributes}
    if s.interruption is not None:
        paths.update([s.interruption.after_reading, *s.interruption.delete])
    # Folders named in the registry: the installer stand-in writes where INSTALLPATH points.
    for values in s.registry.values():
        paths.update(v for v in values.values() if isinstance(v, str) and v[1:3] == ":\\" and v[:1] in "Cc")
    return sorted(paths)


def _child(folder: Path, name: str) -> Optional[str]:
    """The entry of `folder` named `name` in any letter case, as Wine finds it."""
    try:
        entries = os.listdir(folder)
    except OSError:
        return None
    return name if name in entries else next((e for e in entries if e.lower() == name.lower()), None)


def _remove(path: Path) -> None:
    if os.geteuid() == 0:  # files the scenario made immutable (harness.make_read_only)
        subprocess.run(["chattr", "-R", "-i", str(path)], capture_output=True)
    if path.is_dir() and not path.is_symlink():
        shutil.rmtree(path)
    elif path.exists() or path.is_symlink():
        path.unlink()


def template_keys(template: Path) -> set[str]:
    """The template's keys under HKEY_LOCAL_MACHINE, lower case. system.reg lists the keys that hold
    values or no subkeys; the keys above them are there too."""
    keys = set()
    with open(template / "system.reg", encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("["):
                parts = line[1:line.rindex("]")].replace("\\\\", "\\").lower().split("\\")
                keys.update("\\".join(parts[:i]) for i in range(1, len(parts) + 1))
    return keys


class SharedPrefix:
    """`with SharedPrefix(folder, template, arch) as shared:` holds the turn; harness.run_scenario(...,
    shared=shared) runs a scenario in it; end() stops the prefix and removes the folder."""

    def __init__(self, folder: Path, template: Path, arch: str, say: Optional[Callable[[str], None]] = None):
        self.folder = folder
        self.path = folder / "prefix"
        self.template = template
        self.arch = arch
        self.say = say or (lambda text: print(text, flush=True))
        self.state_file = folder / "state.json"
        self._lock = None
        self._keys: Optional[set[str]] = None

    def __enter__(self) -> "SharedPrefix":
        self.folder.mkdir(parents=True, exist_ok=True)
        self._lock = open(self.folder / "lock", "a+b")
        try:
            fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            self.say(f"the shared prefix {self.path} is in use; waiting for its turn")
            fcntl.flock(self._lock, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exc) -> None:
        self._lock.close()
        self._lock = None

    # --- The prefix ---

    def running(self) -> bool:
        return any(name.startswith("wineserver") for name, _ in prefix_processes(self.path).values())

    def _start(self) -> None:
        """A fresh copy of the template, its wineserver and its services."""
        prefix = Prefix(self.path, self.arch)
        end_prefix(self.path, prefix.env)
        clone_prefix(self.template, self.path)
        self._save([], [])
        prefix.start_server(linger=LINGER_SECONDS)
        # The first program of a new wineserver waits for wineboot to start Wine's services.
        result = prefix.run(["cmd", "/c", "exit", "0"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if result.returncode != 0:
            end_prefix(self.path, prefix.env)
            raise MachineryFailure(f"the shared prefix's first program ended with {result.returncode}")

    def end(self, keep: bool = False) -> None:
        """Ends the prefix's wineserver and processes; removes the folder unless kept."""
        end_prefix(self.path, wine_env(self.path, self.arch))
        if not keep:
            shutil.rmtree(self.folder / "prefix", ignore_errors=True)
            self.state_file.unlink(missing_ok=True)

    # --- Turns ---

    def take(self, s: Scenario) -> tuple[Prefix, Scenario]:
        """The running prefix, reset for `s`, and `s` as it is to be laid out (with the keys to delete)."""
        why_not = fits(s)
        if why_not:
            raise ValueError(f"{s.name} can't run in a shared prefix: {why_not}")
        if self.running():
            paths, keys = self._load()
            self._end_leftovers()  # of a run that was killed
        else:
            self.say(f"starting the shared {self.arch} prefix {self.path} and its services")
            self._start()
            paths, keys = [], []
        mine_paths, mine_keys = owned_paths(s), list(s.registry)
        kept = [key for key in mine_keys if self._new_key(key) is None]
        if kept:
            raise ValueError(f"{s.name} can't run in a shared prefix: it sets values of keys the template has: {kept}")
        for win_path in sorted(set(paths) | set(mine_paths)):
            self._reset_path(win_path)
        deletions = {self._new_key(key) for key in set(keys) | set(mine_keys)} - {None}
        self._save(mine_paths, mine_keys)  # before the run: a run that dies is still reset by the next
        return Prefix(self.path, self.arch), dataclasses.replace(s, registry_removed=tuple(sorted(deletions)))

    def give_back(self, prefix: Prefix) -> None:
        """Ends what the scenario left running; the wineserver and Wine's own programs stay."""
        self._end_leftovers()
        prefix.reap_background()

    def _end_leftovers(self) -> None:
        def wine_own(pid: int, name: str) -> bool:
            return name.startswith("wineserver") or "c:\\windows\\" in command_line(pid).lower()
        kill_processes(self.path, spare=wine_own)

    # --- Resetting ---

    def _reset_path(self, win_path: str) -> None:
        template, here = self.template / "drive_c", self.path / "drive_c"
        for part in (p for p in win_path[3:].split("\\") if p):
            if part in (".", ".."):
                return
            name = _child(template, part)
            if name is None:  # the top-most part the template lacks: away with it
                found = _child(here, part)
                if found is not None:
                    _remove(here / found)
                return
            template, here = template / name, here / name
        if template.is_file() and not template.is_symlink():
            if not here.is_file() or here.read_bytes() != template.read_bytes():
                _remove(here)
                shutil.copy2(template, here)

    def _new_key(self, key: str) -> Optional[str]:
        """The top-most key of `key` that the template lacks; None when the template has it all."""
        if self._keys is None:
            self._keys = template_keys(self.template)
        parts = key[len(HKLM):].split("\\")
        for i in range(1, len(parts) + 1):
            if "\\".join(parts[:i]).lower() not in self._keys:
                if i < 2:  # never a whole branch such as SOFTWARE: the template can't lack it
                    raise RuntimeError(f"the template's registry has no {HKLM + parts[0]}: {self.template}")
                return HKLM + "\\".join(parts[:i])
        return None

    def _load(self) -> tuple[list[str], list[str]]:
        try:
            state = json.loads(self.state_file.read_text())
            return list(state["paths"]), list(state["keys"])
        except (OSError, ValueError, KeyError):
            return [], []

    def _save(self, paths: list[str], keys: list[str]) -> None:
        self.state_file.write_text(json.dumps({"paths": paths, "keys": keys}, indent=1))
