"""Wine prefixes: the environment and loaders Wine is started with, the template prefixes (made once per
machine, copied for each scenario) and a scenario's running prefix with its wineserver.

Every wait on Wine runs under a watchdog (watchdog.py) that ends a prefix whose processes all idle for a
minute beyond the planned pauses; that and the other failures of the machinery raise MachineryFailure.

Python 3 standard library only.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import threading
import time
from pathlib import Path
from typing import Callable, Optional, Sequence

import template_cache
from pe_image import pe_machine
from watchdog import MachineryFailure, Watchdog, end_prefix, kill_processes

# No Mono or Gecko prompts, no debug noise, no window system, the same locale (so the same ANSI code
# page) wherever the tests run.
WINE_ENV = {
    "WINEDEBUG": "-all",
    # winemenubuilder (started by wineboot) would write menu entries and file associations into $HOME;
    # winedbg, started for a program that crashes (now and then an emulated Wine process), waits for
    # ever without a terminal and keeps the prefix from ending.
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d",
    "LC_ALL": "C.UTF-8",
    "LANG": "C.UTF-8",
    # Read only by qemu-i386, where it runs Wine's 32-bit half: a guest address space of 2 GiB and 8 MiB
    # instead of 4 GiB. At every process start Wine reserves the address space above 2 GiB piece by
    # piece, and qemu scans its whole space for each piece it refuses: with the default a 32-bit process
    # takes about a minute to start, with this two seconds. A 32-bit Windows program sees 2 GiB anyway.
    "QEMU_RESERVED_VA": "0x80800000",
    # (QEMU_PAGESIZE=65536 would start a 32-bit process in 1 s instead of 3.6 s, but then no process can
    # map the page Wine shares with the wineserver at 0x7ffe0000: GetTickCount stands still. Not used.)
}
# Wine's two loaders, called directly: Debian's `wine` wrapper picks the 32-bit one whenever wine32 is
# installed, and a 32-bit `reg import` in a 64-bit prefix writes into the redirected view. A program is
# started with the loader of its own architecture, so that the process waited for is the program.
WINE64_LOADER = "/usr/lib/wine/wine64"
WINE32_LOADER = "/usr/lib/wine/wine"
# The prefix's own tools (reg, wineboot, attrib) run with the loader of the prefix's architecture.
ARCHES = {"win64": WINE64_LOADER, "win32": WINE32_LOADER}
QEMU_I386_BINFMT = Path("/proc/sys/fs/binfmt_misc/qemu-i386")
# Where the kernel runs no 32-bit code, 32-bit Wine runs under qemu-i386: tens of seconds for each
# process start, so waits for 32-bit programs stretch by this much.
EMULATED_SLOWDOWN = 6

# Large folders of the template that Wine only reads: hard-linked into each scenario's prefix instead of
# copied. Everything else (the registry files above all, which wineserver rewrites in place when they
# have more than one link) is copied.
LINKED_FOLDERS = ("drive_c/windows/system32", "drive_c/windows/syswow64", "drive_c/windows/winsxs")
TEMPLATE_STAMP = ".e2e-template"
WINE_INF = Path("/usr/share/wine/wine.inf")

# One attempt at making a template prefix takes about 20 s (a minute where 32-bit code is emulated); the
# watchdog ends a hung one within a minute, this bounds one that keeps working without end.
WINEBOOT_SECONDS = 480
WINEBOOT_ATTEMPTS = 3
SERVER_LINGER_SECONDS = 30  # a scenario's wineserver outlives its last process by this much


def wine_env(prefix: Path, arch: str = "win64") -> dict:
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINE_ENV)
    env["WINEARCH"] = arch
    env["WINEPREFIX"] = str(prefix)
    return env


def wine_version() -> str:
    return subprocess.run([WINE64_LOADER, "--version"], env=wine_env(Path("/nonexistent")), capture_output=True,
                          text=True, check=True).stdout.strip()


def loader_for(exe: Path) -> str:
    return WINE32_LOADER if pe_machine(exe) == "i386" else WINE64_LOADER


def runs_32bit() -> bool:
    """Whether 32-bit Wine can run here: wine32 installed and 32-bit Linux programs start."""
    if not os.access(WINE32_LOADER, os.X_OK):
        return False
    return subprocess.run([WINE32_LOADER, "--version"], capture_output=True).returncode == 0


def emulated_32bit() -> bool:
    """Whether 32-bit programs run through qemu-i386 here rather than natively."""
    try:
        return QEMU_I386_BINFMT.read_text().startswith("enabled")
    except OSError:
        return False


def slowdown(exe: Path) -> int:
    return EMULATED_SLOWDOWN if pe_machine(exe) == "i386" and emulated_32bit() else 1


def template_stamp(arch: str) -> str:
    """What made a template: a template made by another Wine, for another architecture, before wine32
    was there (a 64-bit prefix then has no 32-bit half) or with other DLL overrides is made anew."""
    loaders = "wine64 wine32" if runs_32bit() else "wine64"
    return f"{wine_version()}\narch {arch}\nloaders {loaders}\noverrides {WINE_ENV['WINEDLLOVERRIDES']}\n"


def template_path(templates: Path, arch: str) -> Path:
    return templates / f"wine-template-{arch}"


def templates_folder(given: Optional[Path] = None) -> Path:
    """The folder of the template prefixes: the one given, else the machine's cache (template_cache.py)."""
    return template_cache.folder(given)


def _stamp_matches(template: Path, wanted: str) -> bool:
    stamp = template / TEMPLATE_STAMP
    return stamp.is_file() and stamp.read_text() == wanted and not missing_services(template)


def missing_services(prefix: Path) -> list[str]:
    """The services of wine.inf's DefaultInstall.Services that the prefix's registry lacks.

    wineboot installs them near the end of its work. Emulated, one of its processes now and then dies of
    a segmentation fault half-way, and wineboot still ends with 0: such a prefix lacks them.
    """
    try:
        inf = WINE_INF.read_text(errors="replace")
    except OSError:  # another Wine's layout: nothing to check against
        return []
    try:
        registry = (prefix / "system.reg").read_text(errors="replace").lower()
    except OSError:
        return ["all (no system.reg)"]
    section = re.search(r"^\[DefaultInstall\.Services\]\s*$(.*?)(?=^\[)", inf, re.M | re.S)
    names = re.findall(r"^AddService=([^,\s]+)", section.group(1), re.M) if section else []
    return [name for name in names
            if f"[system\\\\currentcontrolset\\\\services\\\\{name.lower()}]" not in registry]


def template_ready(template: Path, arch: str) -> bool:
    """Whether an up-to-date template prefix is there."""
    return _stamp_matches(template, template_stamp(arch))


def _print(text: str) -> None:
    print(text, flush=True)


def make_template(template: Path, arch: str = "win64", say: Optional[Callable[[str], None]] = None,
                  on_retry: Optional[Callable[[str], None]] = None) -> float:
    """Makes the template prefix unless an up-to-date one is there; returns the seconds it took (0: none).

    Under the template's lock (template_cache.py), so that parallel users make it once and never copy a
    half-made one. Each attempt (a wineboot into a staging folder of its own) runs under the watchdog:
    emulated 32-bit wineboot now and then hangs with every process idle, and a fresh attempt gets through.
    A normal attempt never idles for long, so once every running attempt has idled WINEBOOT_SPARE_SECONDS
    a fresh one starts beside them, without waiting for the watchdog's minute: the first to finish wins,
    the others are ended. `say` gets what happens; `on_retry` the reason of each attempt that failed.
    Raises MachineryFailure when WINEBOOT_ATTEMPTS attempts failed.
    """
    say = say or _print
    wanted = template_stamp(arch)
    if _stamp_matches(template, wanted):
        return 0.0
    if arch == "win32" and not runs_32bit():
        raise RuntimeError("a 32-bit prefix needs wine32 and 32-bit programs to run (scripts/setup.sh)")
    waiting = lambda: say(f"the {arch} template prefix is being made by another process; waiting for it")
    with template_cache.locked(template, exclusive=True, on_wait=waiting):
        if _stamp_matches(template, wanted):
            return 0.0
        for stale in template_cache.stale_staging(template):  # left by a maker that was killed
            end_prefix(stale, wine_env(stale, arch))
            shutil.rmtree(stale, ignore_errors=True)
        started = time.monotonic()
        attempts: list[_Attempt] = []
        reasons: list[str] = []
        winner: Optional[_Attempt] = None

        def start() -> None:
            attempt = _Attempt(len(attempts) + 1, template_cache.staging_path(template, len(attempts) + 1), arch)
            attempts.append(attempt)
            attempt.start()

        try:
            start()
            while winner is None:
                time.sleep(0.5)
                for attempt in attempts:
                    if attempt.done.is_set() and not attempt.reported:
                        attempt.reported = True
                        if attempt.reason is None:
                            winner = attempt
                            break
                        reasons.append(f"attempt {attempt.number}: {attempt.reason}")
                        say(f"{arch} template prefix: attempt {attempt.number} failed: {attempt.reason}")
                        if on_retry:
                            on_retry(f"{arch} template prefix, attempt {attempt.number}: {attempt.reason}")
                if winner is not None:
                    break
                running = [attempt for attempt in attempts if not attempt.done.is_set()]
                if len(attempts) < WINEBOOT_ATTEMPTS and not running:
                    say(f"{arch} template prefix: starting attempt {len(attempts) + 1} now")
                    start()
                elif len(attempts) < WINEBOOT_ATTEMPTS and all(
                        attempt.dog.idle_seconds >= WINEBOOT_SPARE_SECONDS for attempt in running):
                    idle = ", ".join(f"attempt {attempt.number}" for attempt in running)
                    say(f"{arch} template prefix: {idle} idle for {WINEBOOT_SPARE_SECONDS} s; starting attempt "
                        f"{len(attempts) + 1} beside it (the watchdog ends an attempt idle for a minute)")
                    start()
                elif not running:
                    raise MachineryFailure(f"the {arch} template prefix could not be made: " + "; ".join(reasons))
            (winner.staging / TEMPLATE_STAMP).write_text(wanted)
            template_cache.put_in_place(winner.staging, template)
            if len(attempts) > 1:
                say(f"{arch} template prefix: attempt {winner.number} made it"
                    + ("; ending the others" if any(not a.done.is_set() for a in attempts) else ""))
        finally:
            for attempt in attempts:
                attempt.abandon()
    return time.monotonic() - started


# An attempt at a template whose programs have all idled this long gets a fresh attempt beside it.
WINEBOOT_SPARE_SECONDS = 15
_MAKING: dict[Path, str] = {}  # staging folders of templates being made in this process, with their arch
_RUNNING: dict[Path, dict] = {}  # prefixes of this process whose wineserver runs, with their environment


class _Attempt:
    """One attempt at a template, in a thread of its own."""

    def __init__(self, number: int, staging: Path, arch: str):
        self.number = number
        self.staging = staging
        self.arch = arch
        self.dog = Watchdog(staging, wine_env(staging, arch))
        self.reason: Optional[str] = None  # why it failed
        self.done = threading.Event()
        self.reported = False
        self.thread = threading.Thread(target=self._run, daemon=True)

    def start(self) -> None:
        _MAKING[self.staging] = self.arch
        self.thread.start()

    def _run(self) -> None:
        try:
            self.reason = _make_prefix(self.staging, self.arch, self.number, self.dog)
        except Exception as e:  # reported as the attempt's failure
            self.reason = f"{type(e).__name__}: {e}"
        finally:
            self.done.set()

    def abandon(self) -> None:
        """Ends the attempt if it still runs, and removes its folder (gone already if it was put in place)."""
        if not self.done.is_set():
            end_prefix(self.staging, wine_env(self.staging, self.arch))
            self.thread.join(timeout=60)
        shutil.rmtree(self.staging, ignore_errors=True)
        _MAKING.pop(self.staging, None)


def abandon() -> None:
    """Ends the Wine processes of the prefixes this process started and removes half-made templates: for a
    signal handler, when the process is told to stop (a test run given up, a test's time out)."""
    for path, env in list(_RUNNING.items()):
        end_prefix(path, env)
    for staging, arch in list(_MAKING.items()):
        end_prefix(staging, wine_env(staging, arch))
        shutil.rmtree(staging, ignore_errors=True)


def _make_prefix(staging: Path, arch: str, attempt: int, dog: Watchdog) -> Optional[str]:
    """One wineboot into a fresh staging folder, watched by `dog`; None when it made a usable prefix, else
    why not."""
    shutil.rmtree(staging, ignore_errors=True)
    staging.parent.mkdir(parents=True, exist_ok=True)
    env = dog.env
    done = False
    try:
        with dog.watching(f"wineboot made the {arch} template prefix (attempt {attempt})"):
            subprocess.run([ARCHES[arch], "wineboot", "--init"], env=env, check=True, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=WINEBOOT_SECONDS)
            subprocess.run(["wineserver", "-w"], env=env, check=True, timeout=WINEBOOT_SECONDS)
        done = True
    except MachineryFailure as e:
        return str(e)
    except subprocess.TimeoutExpired as e:
        return f"{e.cmd[-2] if len(e.cmd) > 1 else e.cmd[0]} still at work after {e.timeout:.0f} s"
    except subprocess.CalledProcessError as e:
        return f"{' '.join(e.cmd[-2:])} ended with code {e.returncode}"
    finally:
        if not done:
            end_prefix(staging, env)  # whatever is left of the attempt, and only that
    if not (staging / "system.reg").is_file() or not (staging / "drive_c" / "windows").is_dir():
        return "wineboot left no usable prefix"
    missing = missing_services(staging)
    if missing:
        return f"wineboot ended, but the prefix lacks services it installs: {', '.join(missing)}"
    return None


def clone_prefix(template: Path, dest: Path) -> None:
    """Copies the template into dest: registry and small files copied, large read-only folders linked."""
    try:
        with template_cache.locked(template, exclusive=False):
            if not (template / TEMPLATE_STAMP).is_file():
                raise RuntimeError(f"no template prefix at {template}; run with --make-template first")
            shutil.rmtree(dest, ignore_errors=True)
            _clone_tree(template, dest, template, linking=[True])
    except OSError as e:
        raise MachineryFailure(f"the prefix could not be copied from {template}: {e}") from e


def _clone_tree(src: Path, dst: Path, root: Path, linking: list, linked: bool = False) -> None:
    dst.mkdir(parents=True)
    for entry in os.scandir(src):
        source, target = Path(entry.path), dst / entry.name
        if entry.is_symlink():
            os.symlink(os.readlink(source), target)
        elif entry.is_dir():
            rel = source.relative_to(root).as_posix()
            _clone_tree(source, target, root, linking, linked or rel in LINKED_FOLDERS)
        elif entry.name == "wineserver" and src == root:
            continue  # a running server's lock file; each prefix gets its own server
        elif linked and linking[0]:
            try:
                os.link(source, target)
            except OSError:  # the templates' cache on another file system: copies, from now on
                linking[0] = False
                shutil.copy2(source, target)
        else:
            shutil.copy2(source, target)


class Prefix:
    """A scenario's prefix and its wineserver; every wait on its processes under its watchdog."""

    def __init__(self, path: Path, arch: str = "win64"):
        self.path = path
        self.arch = arch
        self.env = wine_env(path, arch)
        self.background: list[subprocess.Popen] = []
        self.watchdog = Watchdog(path, self.env)

    def unix(self, win_path: str) -> Path:
        """The Unix path of a C:\\ path inside the prefix."""
        if not re.match(r"^[Cc]:\\", win_path):
            raise ValueError(f"only C:\\ paths are laid out by the harness: {win_path!r}")
        parts = [p for p in win_path[3:].split("\\") if p]
        return self.path.joinpath("drive_c", *parts)

    def start_server(self, linger: int = SERVER_LINGER_SECONDS) -> None:
        # Lingering, so the separate wine calls of a scenario share one server and its start-up cost; not
        # forever, so a scenario killed by its timeout leaves no server behind for long.
        # Its output goes nowhere: a server outliving the scenario must not hold the test runner's pipes.
        _RUNNING[self.path] = self.env
        try:
            subprocess.run(["wineserver", f"-p{linger}"], env=self.env, check=True, timeout=60,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
            end_prefix(self.path, self.env)
            raise MachineryFailure(f"the wineserver of {self.path} did not start: {e}") from e

    def loader(self, exe: Path) -> str:
        """The loader for a program laid out from `exe`; a 64-bit program has no place in a 32-bit prefix."""
        if self.arch == "win32" and pe_machine(exe) != "i386":
            raise RuntimeError(f"{exe.name} is a 64-bit program; a 32-bit prefix can't run it")
        return loader_for(exe)

    def run(self, args: Sequence[str], timeout: float = 120, **kwargs) -> subprocess.CompletedProcess:
        """Runs one of the prefix's own tools (reg, attrib, ...)."""
        slow = EMULATED_SLOWDOWN if self.arch == "win32" and emulated_32bit() else 1
        with self.watchdog.watching(f"{args[0]} ran"):
            return subprocess.run([ARCHES[self.arch], *args], env=self.env, stdin=subprocess.DEVNULL,
                                  timeout=timeout * slow, **kwargs)

    def start(self, exe: Path, args: Sequence[str]) -> subprocess.Popen:
        """Starts a program laid out from `exe` in the background; args[0] is its Windows path."""
        proc = subprocess.Popen([self.loader(exe), *args], env=self.env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.background.append(proc)
        return proc

    def reap_background(self) -> None:
        for proc in self.background:
            try:
                proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        self.background.clear()

    def shut_down(self) -> None:
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL, timeout=60)
            subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL, timeout=60)
        except subprocess.TimeoutExpired:
            end_prefix(self.path, self.env)
        kill_processes(self.path)  # nothing left of it, whatever the server did
        self.reap_background()
        _RUNNING.pop(self.path, None)
