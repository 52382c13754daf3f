"""Where the template Wine prefixes live, and how parallel users share them.

A template takes a minute or more to make (wineboot, emulated where 32-bit code is) and depends only on
Wine, so it is made once per machine and user, not per clone or build folder: the demo, a test run and CI
on one machine use the same ones. The folder is $PATCHUPDATE_WINE_TEMPLATES, else
$XDG_CACHE_HOME/patchupdate/wine-templates, else ~/.cache/patchupdate/wine-templates.

Each template has a lock file beside it, taken with flock: exclusively to make or replace it, shared to
copy from it. A template is made in a staging folder beside it and renamed into place with its stamp
inside, so a half-made one is never seen under the template's name; a staging folder left by a maker
that was killed is removed by the next one, its Wine processes ended first.

Python 3 standard library only.
"""

from __future__ import annotations

import contextlib
import fcntl
import os
import shutil
from pathlib import Path
from typing import Callable, Iterator, Optional

ENV_FOLDER = "PATCHUPDATE_WINE_TEMPLATES"
STAGING_MARK = ".making-"


def default_folder() -> Path:
    if os.environ.get(ENV_FOLDER):
        return Path(os.environ[ENV_FOLDER])
    cache = os.environ.get("XDG_CACHE_HOME") or str(Path.home() / ".cache")
    return Path(cache) / "patchupdate" / "wine-templates"


def folder(given: Optional[Path]) -> Path:
    """The templates' folder: the one given on a command line, else the machine's cache."""
    return (given or default_folder()).resolve()


@contextlib.contextmanager
def locked(template: Path, exclusive: bool, on_wait: Optional[Callable[[], None]] = None) -> Iterator[None]:
    """Holds the template's lock; calls on_wait first when someone else holds it."""
    template.parent.mkdir(parents=True, exist_ok=True)
    mode = fcntl.LOCK_EX if exclusive else fcntl.LOCK_SH
    with open(template.with_name(template.name + ".lock"), "a+b") as lock:
        try:
            fcntl.flock(lock, mode | fcntl.LOCK_NB)
        except BlockingIOError:
            if on_wait:
                on_wait()
            fcntl.flock(lock, mode)
        try:
            yield
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


def staging_path(template: Path, attempt: int) -> Path:
    return template.with_name(f"{template.name}{STAGING_MARK}{os.getpid()}-{attempt}")


def stale_staging(template: Path) -> list[Path]:
    """Staging folders of makers that died; ask with the lock held exclusively (no maker is at work)."""
    return sorted(template.parent.glob(template.name + STAGING_MARK + "*"))


def put_in_place(staging: Path, template: Path) -> None:
    """Replaces the template by the finished staging folder; call with the lock held exclusively."""
    if template.exists():
        old = template.with_name(template.name + STAGING_MARK + "old")
        shutil.rmtree(old, ignore_errors=True)
        template.rename(old)
        shutil.rmtree(old, ignore_errors=True)
    staging.rename(template)
