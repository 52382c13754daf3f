"""End-to-end harness: runs the real PatchUpdate.exe under Wine, one throwaway prefix per scenario.

A scenario says what the machine looks like (registry, files, running processes, files held open),
what the patch folder holds (descriptor, installer stand-in) and what must come out (console bytes,
exit code, elapsed time, the run log, files left behind, the installer's recorded calls). The harness
copies a template prefix, lays everything out, runs the utility from a working directory other than
its own folder with stdout redirected to a file, then checks byte for byte and prints a diff for each
mismatch. A scenario has a prefix of its own, with its own wineserver, so scenarios can run in parallel;
or it takes its turn in a running prefix shared with others (shared_prefix.py), where starting Wine's
services for each scenario would cost more than the scenario itself (32-bit Wine under emulation).
Every wait on Wine runs under a watchdog (watchdog.py) that ends a prefix whose processes all idle for a
minute beyond the planned pauses; that and the other failures of the machinery raise MachineryFailure.

Python 3 standard library only.
"""

from __future__ import annotations

import dataclasses
import datetime
import difflib
import fcntl
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Callable, Mapping, Optional, Sequence, Union

import template_cache
import texts
from watchdog import MachineryFailure, Watchdog, command_line, end_prefix, kill_processes, prefix_processes

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
PE_MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
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

DEFAULT_PATCH_DIR = r"C:\Patch Package"
UTILITY_NAME = "PatchUpdate.exe"
COMPANION_NAME = "PatchUpdateResult.exe"  # found beside the utility under test
EXIT_CODE_HELPER = r"C:\Helpers\exit_code.exe"
RESULTS_DIR = r"C:\ProgramData\Veldorant\PatchUpdate\Results"
DESCRIPTOR_NAME = "patchupdate.dat"
RECORD_NAME = "installedupdates.dat"
INSTALLER_RECORD_NAME = "installer_record.txt"
INSTALLER_ACTIONS_NAME = "installer_actions.txt"
VS_FIXEDFILEINFO_SIGNATURE = b"\xbd\x04\xef\xfe"
PLANTED_DLL = "planted.dll"  # helpers/planted_dll.cpp
PLANTED_MARKER = r"C:\planted_dll_loads.txt"  # one line per load of a planted DLL: process|dll
DOS_ATTRIBUTES = {"r": 0x1, "h": 0x2, "s": 0x4, "a": 0x20}

# One attempt at making a template prefix takes about 20 s (a minute where 32-bit code is emulated); the
# watchdog ends a hung one within a minute, this bounds one that keeps working without end.
WINEBOOT_SECONDS = 480
WINEBOOT_ATTEMPTS = 3
HELPER_START_SECONDS = 60  # a sleeper or file holder must be up by then
HELPER_LIFETIME_SECONDS = 300  # they end by themselves even if nobody kills them
SERVER_LINGER_SECONDS = 30  # a scenario's wineserver outlives its last process by this much
UTILITY_TIMEOUT_SECONDS = 150
# The utility's longest closing pause (7 s when there is nothing to install, 10 s after an install): the
# watchdog allows it beside the minute of idleness, and the installer stand-in's own sleeps.
UTILITY_PAUSE_SECONDS = 10
F_SETPIPE_SZ, F_GETPIPE_SZ = 1031, 1032  # Linux fcntl commands for a pipe's capacity
INTERRUPTION_POLL_SECONDS = 0.005


# --------------------------------------------------------------------------------------------------
# What a scenario is made of
# --------------------------------------------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class RegValue:
    """A registry value of any type; plain str values in a scenario are REG_SZ."""
    type: int  # 1 REG_SZ, 3 REG_BINARY, 4 REG_DWORD, ...
    data: bytes


@dataclasses.dataclass(frozen=True)
class ProductExe:
    """A product executable built from the template, with the given four-part file version.

    kind: "plain" (product version = file version), "product_version_differs" (product version stays
    99.98.97.96) or "no_version" (no version resource at all; version must be None).
    """
    version: Optional[str] = None
    kind: str = "plain"


FileContent = Union[bytes, ProductExe]


@dataclasses.dataclass(frozen=True)
class InstallerStandIn:
    """The installer stand-in, placed in the patch folder under `name`.

    actions: lines of its actions file (see helpers/installer_standin.cpp), None for no file.
    files: more files beside it, e.g. the product executable that a "copy" action puts in place.
    """
    name: str = "Update2Setup.exe"
    actions: Optional[Sequence[str]] = None
    files: Mapping[str, FileContent] = dataclasses.field(default_factory=dict)


@dataclasses.dataclass(frozen=True)
class InstallerCall:
    """One recorded start of the installer stand-in. command_line: exact text or a compiled regex."""
    command_line: Union[str, "re.Pattern[str]"]
    cwd: str
    show: Optional[str] = "0"  # SW_HIDE; None: not checked


@dataclasses.dataclass(frozen=True)
class Expect:
    console: str  # exact stdout text, narrowed to single bytes (cp1252)
    # Text between header and footer with "\n" line ends. None: the utility writes no log, so there is
    # none afterwards, or the one the scenario laid out (in `files`) is still there byte for byte.
    log: Optional[str]
    min_seconds: float
    exit_code: int = 0
    # Files after the run, by Windows path: bytes, a version text for a product executable
    # (ProductVersionAfter), or None when the file must not exist.
    files: Mapping[str, Union[bytes, "ProductVersionAfter", None]] = dataclasses.field(default_factory=dict)
    # Recorded installer starts, in order; None: not checked.
    installer_calls: Optional[Sequence[InstallerCall]] = ()
    # The names in these folders (by Windows path) after the run, all of them: nothing left behind.
    folder_contents: Mapping[str, Sequence[str]] = dataclasses.field(default_factory=dict)
    # The utility's processor time over the whole run (user + system, all its threads) must stay below
    # this; None: not checked.
    max_cpu_seconds: Optional[float] = None


@dataclasses.dataclass(frozen=True)
class ProductVersionAfter:
    """Expected file version (four-part text) of an executable after the run; None: no version resource."""
    version: Optional[str]


# What stands for the stamp a run gives a folder it moves aside, in Companion.said.
STAMP_MARK = "<STAMP>"
MOVED_ASIDE_STAMP = re.compile(rb"\.moved-aside-(\d{8}-\d{6})")


# The file a scenario's installer can wait for ("await"): made once the second run beside it has ended.
SECOND_RUN_ENDED = "second_run_ended.txt"


@dataclasses.dataclass(frozen=True)
class OtherRun:
    """Another run of the companion on the same machine, started once the scenario's installer has started.

    together: it runs beside the scenario's run and must end, while that one installs, with `code` and a
    console that is one line starting with `closing`; its own kept files are told apart by its outcome.
    Otherwise it runs first and every process of it (companion, utility, installer) is killed during its
    install, before the scenario's run starts.
    """
    together: bool
    code: int = 0
    closing: str = ""
    outcome: str = ""


@dataclasses.dataclass(frozen=True)
class Companion:
    """The run made through PatchUpdateResult.exe, as a deployment system starts it, and what it must say."""
    outcome: str  # the outcome's name on the closing line and in the outcome file
    code: int  # its full exit code, as the exit_code helper reads it on the Windows side
    reason: str  # the closing line's text after the code
    # A results folder level it must refuse (Windows path): then that line comes before the closing line,
    # and nothing is kept. None: the results are kept and checked, with the registry record.
    refused: Optional[str] = None
    refusal: str = ""  # what the refusal line says of that level
    args: Sequence[str] = ()  # arguments: "report FOLDER" runs the fleet report, no utility run
    # Lines said before the closing line (a folder moved aside, runs carried over); STAMP_MARK stands for
    # the stamp the run gave what it moved aside.
    said: str = ""
    other: Optional[OtherRun] = None  # another run on the same machine, beside or before this one

    def closing_lines(self) -> str:
        if self.args:
            return f"exit code {self.code}\n"
        refused = f"{texts.COMPANION_NOT_KEPT}{self.refused} {self.refusal}\n" if self.refused else ""
        return (f"{self.said}{refused}PatchUpdateResult: {self.outcome} (exit code {self.code}): {self.reason}\n"
                f"exit code {self.code}\n")


@dataclasses.dataclass(frozen=True)
class Scenario:
    name: str
    description: str
    expect: Expect
    registry: Mapping[str, Mapping[str, Union[str, RegValue]]] = dataclasses.field(default_factory=dict)
    registry_removed: Sequence[str] = ()  # keys deleted before the run, e.g. a default Wine key
    files: Mapping[str, FileContent] = dataclasses.field(default_factory=dict)  # by Windows path
    patch_dir: str = DEFAULT_PATCH_DIR
    descriptor: Optional[bytes] = None  # patchupdate.dat beside the utility; None: no descriptor
    installer: Optional[InstallerStandIn] = None
    interruption: Optional[Interruption] = None  # another program acting in the middle of the run
    running: Sequence[str] = ()  # process names to keep running during the run
    held_open: Sequence[str] = ()  # Windows paths held open without sharing during the run
    # Windows paths held open during the run but shared for reading, writing and deleting, as a virus
    # scanner or a backup agent holds them.
    held_shared: Sequence[str] = ()
    read_only: Sequence[str] = ()  # Windows paths given the read-only attribute before the run
    # Windows paths given DOS attributes before the run, as letters: "h" hidden, "s" system.
    attributes: Mapping[str, str] = dataclasses.field(default_factory=dict)
    # DLL names (e.g. "version.dll") under which helpers/planted.dll is put in the patch folder and the
    # working directory, and loaded native-first as Windows would; the utility must load none of them.
    planted_dlls: Sequence[str] = ()
    cwd: str = r"C:\Operator"  # the working directory the utility is started from
    companion: Optional[Companion] = None  # run through PatchUpdateResult.exe instead of directly
    # Symbolic links laid out after the files, by Windows path: each to the Windows path given (which
    # need not exist). Wine shows them to Windows programs as reparse points.
    links: Mapping[str, str] = dataclasses.field(default_factory=dict)
    # Hard links laid out after the files, by Windows path: each a second name of the file given.
    hard_links: Mapping[str, str] = dataclasses.field(default_factory=dict)

    @property
    def utility_path(self) -> str:
        return self.patch_dir + "\\" + UTILITY_NAME

    @property
    def log_path(self) -> str:
        return self.patch_dir + "\\" + texts.LOG_FILE_NAME


@dataclasses.dataclass(frozen=True)
class Interruption:
    """Another program acts in the middle of the run, at a point the utility can't run past.

    The utility's console is then a pipe, as a deployment tool that starts it reads it, and the reader
    pauses once `console_before` has come through: the utility's next console line blocks it. When the
    utility has read `after_reading` (seen by the file's access time), the files in `delete` are
    removed, the reader takes up reading again and the run goes on.
    """
    console_before: str  # console text that still flows; the next line stalls until the deletion
    after_reading: str  # Windows path of a file the utility reads before that next line
    delete: Sequence[str]  # Windows paths removed then


# --------------------------------------------------------------------------------------------------
# Wine prefixes
# --------------------------------------------------------------------------------------------------

def wine_env(prefix: Path, arch: str = "win64") -> dict:
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINE_ENV)
    env["WINEARCH"] = arch
    env["WINEPREFIX"] = str(prefix)
    return env


def wine_version() -> str:
    return subprocess.run([WINE64_LOADER, "--version"], env=wine_env(Path("/nonexistent")), capture_output=True,
                          text=True, check=True).stdout.strip()


def pe_machine(exe: Path) -> str:
    """"i386" or "x86-64": the machine a Windows executable is built for."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    if head[:2] != b"MZ" or head[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"not a Windows executable: {exe}")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    if machine not in PE_MACHINES:
        raise ValueError(f"{exe}: machine 0x{machine:x} is neither i386 nor x86-64")
    return PE_MACHINES[machine]


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


# --------------------------------------------------------------------------------------------------
# Building the machine's content
# --------------------------------------------------------------------------------------------------

def parse_version(version: str) -> tuple[int, int]:
    parts = [int(p) for p in version.split(".")]
    if len(parts) != 4 or any(not 0 <= p <= 0xFFFF for p in parts):
        raise ValueError(f"not a four-part version: {version!r}")
    return (parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3]


def fixed_file_info_offset(data: bytes) -> int:
    offset = data.find(VS_FIXEDFILEINFO_SIGNATURE)
    if offset < 0 or data.find(VS_FIXEDFILEINFO_SIGNATURE, offset + 1) >= 0:
        raise ValueError("expected exactly one VS_FIXEDFILEINFO in the executable")
    return offset


def read_file_version(data: bytes) -> Optional[str]:
    """The four-part file version of an executable's fixed file information; None without one."""
    if VS_FIXEDFILEINFO_SIGNATURE not in data:
        return None
    offset = fixed_file_info_offset(data)
    ms = int.from_bytes(data[offset + 8:offset + 12], "little")
    ls = int.from_bytes(data[offset + 12:offset + 16], "little")
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def product_exe_bytes(helpers: Path, exe: ProductExe) -> bytes:
    template = {"plain": "product.exe", "product_version_differs": "product_prodver.exe",
                "no_version": "product_noversion.exe"}[exe.kind]
    data = bytearray((helpers / template).read_bytes())
    if exe.kind == "no_version":
        if exe.version is not None or VS_FIXEDFILEINFO_SIGNATURE in data:
            raise ValueError("a product executable without version resource has no version")
        return bytes(data)
    ms, ls = parse_version(exe.version or "")
    offset = fixed_file_info_offset(bytes(data))
    data[offset + 8:offset + 16] = ms.to_bytes(4, "little") + ls.to_bytes(4, "little")
    if exe.kind == "plain":
        data[offset + 16:offset + 24] = ms.to_bytes(4, "little") + ls.to_bytes(4, "little")
    return bytes(data)


def _reg_quote(text: str) -> str:
    return text.replace("\\", "\\\\").replace('"', '\\"')


def reg_file_text(keys: Mapping[str, Mapping[str, Union[str, RegValue]]], removed: Sequence[str]) -> str:
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key in removed:
        lines += [f"[-{key}]", ""]
    for key, values in keys.items():
        lines.append(f"[{key}]")
        for name, value in values.items():
            if isinstance(value, str):
                lines.append(f'"{_reg_quote(name)}"="{_reg_quote(value)}"')
            else:
                hex_bytes = ",".join(f"{b:02x}" for b in value.data)
                lines.append(f'"{_reg_quote(name)}"=hex({value.type:x}):{hex_bytes}')
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def write_file(prefix: Prefix, helpers: Path, win_path: str, content: FileContent) -> None:
    path = prefix.unix(win_path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(product_exe_bytes(helpers, content) if isinstance(content, ProductExe) else content)


def make_read_only(path: Path) -> None:
    """Gives a file the read-only attribute as Wine sees it: no write permission bits.

    Root ignores permission bits, and so would Wine running as root; there the file is made immutable as
    well, which Wine reports the same way as a read-only file: access denied.
    """
    path.chmod(path.stat().st_mode & ~0o222)
    if os.geteuid() == 0:
        result = subprocess.run(["chattr", "+i", str(path)], capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError(f"running as root, {path} can't be made read-only: chattr +i failed: "
                               f"{result.stderr.strip()}")


def set_dos_attributes(path: Path, letters: str) -> None:
    """Gives a file DOS attributes as Wine keeps them: a hexadecimal number in the user.DOSATTRIB xattr."""
    value = 0
    for letter in letters:
        value |= DOS_ATTRIBUTES[letter]
    os.setxattr(path, "user.DOSATTRIB", f"0x{value:x}".encode())


def native_first(overrides: str, dlls: Sequence[str]) -> str:
    """WINEDLLOVERRIDES with these DLLs taken native-first, as Windows takes any DLL it finds on its search."""
    names = ",".join(name.rsplit(".", 1)[0] for name in dlls)
    return f"{overrides};{names}=n,b" if overrides else f"{names}=n,b"


def planted_loads(prefix: Prefix) -> list[tuple[str, str]]:
    """(process, DLL) for every load of a planted DLL, as its marker file tells."""
    marker = prefix.unix(PLANTED_MARKER)
    if not marker.is_file():
        return []
    lines = marker.read_bytes().decode("utf-8", errors="replace").splitlines()
    return [tuple(line.split("|", 1)) for line in lines if "|" in line]


def release_read_only(path: Path) -> None:
    """Undoes make_read_only's immutability, so the scenario's folder can be removed."""
    if os.geteuid() == 0 and path.exists():
        subprocess.run(["chattr", "-i", str(path)], capture_output=True)


def wait_for(path: Path, proc: subprocess.Popen, what: str, slow: int = 1) -> None:
    deadline = time.monotonic() + HELPER_START_SECONDS * slow
    while not path.exists():
        if proc.poll() is not None:
            raise RuntimeError(f"{what} ended with code {proc.returncode} before it was ready")
        if time.monotonic() > deadline:
            raise RuntimeError(f"{what} not ready after {HELPER_START_SECONDS * slow} s")
        time.sleep(0.1)


# --------------------------------------------------------------------------------------------------
# Checks
# --------------------------------------------------------------------------------------------------

LOG_HEADER_START = (texts.LOG_RULE + "\n\n" + texts.LOG_VERSION_LINE + "\n\n" + texts.LOG_DATE_LABEL)
DATE_RE = re.compile(
    r"(?P<weekday>Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday) "
    r"(?P<hour>[01][0-9]|2[0-3]):(?P<minute>[0-5][0-9]), "
    r"(?P<month>January|February|March|April|May|June|July|August|September|October|November|December) "
    r"(?P<day>0[1-9]|[12][0-9]|3[01]), (?P<year>[0-9]{4})")


def log_file_bytes(text: str, date: str) -> bytes:
    """The log file as the utility must write it: CR LF line ends, one byte per character."""
    whole = (LOG_HEADER_START + date + "\n\n" + texts.LOG_RULE + "\n\n" + text + texts.LOG_FOOTER)
    return whole.replace("\n", "\r\n").encode("cp1252")


def _lines(data: bytes) -> list[str]:
    return [repr(line) for line in data.decode("latin-1").splitlines(keepends=True)] or ["(empty)"]


def diff(what: str, expected: bytes, actual: bytes) -> str:
    body = "\n".join(difflib.unified_diff(_lines(expected), _lines(actual), f"expected {what}", f"actual {what}",
                                          lineterm="", n=50))
    return f"{what} differs (- expected, + actual; lines shown as Python literals):\n{body}"


def check_log_date(date: str, started: datetime.datetime, ended: datetime.datetime) -> Optional[str]:
    match = DATE_RE.fullmatch(date)
    if not match:
        return f"log date {date!r} does not match \"%A %H:%M, %B %d, %Y\" with English names"
    stamp = datetime.datetime.strptime(
        f"{match['year']}-{match['month']}-{match['day']} {match['hour']}:{match['minute']}", "%Y-%B-%d %H:%M")
    if stamp.strftime("%A") != match["weekday"]:
        return f"log date {date!r}: the weekday does not fit the date"
    earliest = started.replace(second=0, microsecond=0) - datetime.timedelta(minutes=1)
    if not earliest <= stamp <= ended + datetime.timedelta(minutes=1):
        return (f"log date {date!r} is not the local time of the run "
                f"({started:%Y-%m-%d %H:%M} to {ended:%Y-%m-%d %H:%M})")
    return None


def parse_installer_record(data: bytes) -> list[dict]:
    calls: list[dict] = []
    for line in data.decode("utf-8", errors="replace").split("\n"):
        if line == "invocation":
            calls.append({"errors": []})
        elif calls and ": " in line:
            key, value = line.split(": ", 1)
            if key == "error":
                calls[-1]["errors"].append(value)
            else:
                calls[-1][key] = value
    return calls


def check_installer_calls(expected: Sequence[InstallerCall], actual: list[dict]) -> list[str]:
    failures = []
    if len(expected) != len(actual):
        failures.append(f"installer started {len(actual)} time(s), expected {len(expected)}: {actual!r}")
    for i, (want, got) in enumerate(zip(expected, actual)):
        line = got.get("commandline", "")
        ok = (want.command_line.fullmatch(line) is not None if isinstance(want.command_line, re.Pattern)
              else want.command_line == line)
        if not ok:
            failures.append(f"installer call {i + 1}: command line\n  expected {want.command_line!r}\n"
                            f"  actual   {line!r}")
        if want.cwd != got.get("cwd"):
            failures.append(f"installer call {i + 1}: working directory\n  expected {want.cwd!r}\n"
                            f"  actual   {got.get('cwd')!r}")
        if want.show is not None and want.show != got.get("show"):
            failures.append(f"installer call {i + 1}: show state expected {want.show!r}, actual {got.get('show')!r}")
    for i, got in enumerate(actual):
        for error in got["errors"]:
            failures.append(f"installer call {i + 1} could not do what the scenario asked: {error}")
    return failures


# --------------------------------------------------------------------------------------------------
# Running a scenario
# --------------------------------------------------------------------------------------------------

@dataclasses.dataclass
class Outcome:
    failures: list[str]
    timings: dict[str, float]
    stderr: str = ""
    notes: list[str] = dataclasses.field(default_factory=list)  # figures worth seeing even on success
    retries: list[str] = dataclasses.field(default_factory=list)  # why the machinery was tried again


@dataclasses.dataclass(frozen=True)
class Locations:
    helpers: Path  # the built helper programs
    template: Path  # the template prefix, of the architecture below
    runs: Path  # scenario folders are made here
    utility: Path  # PatchUpdate.exe
    arch: str = "win64"  # the prefix's Windows: "win64" or "win32"


def run_scenario(s: Scenario, where: Locations, keep: bool = False, shared=None) -> Outcome:
    """Lays out the scenario, runs the utility and checks what came out.

    In a prefix of its own, copied from the template, unless `shared` (a shared_prefix.SharedPrefix,
    entered) gives it its turn in a running prefix, reset to the template's keys and files first.
    Raises MachineryFailure when the machinery failed (see watchdog.py); a run that failed its checks is
    an Outcome with failures.
    """
    timings: dict[str, float] = {}
    run_dir = where.runs / s.name
    shutil.rmtree(run_dir, ignore_errors=True)
    run_dir.mkdir(parents=True)

    tick = time.monotonic()
    if shared is None:
        prefix = Prefix(run_dir / "prefix", where.arch)
        clone_prefix(where.template, prefix.path)
        laid_out = s
        timings["prefix copy"] = time.monotonic() - tick
    else:
        prefix, laid_out = shared.take(s)
        timings["prefix reset"] = time.monotonic() - tick
    if s.planted_dlls:
        prefix.env["WINEDLLOVERRIDES"] = native_first(prefix.env["WINEDLLOVERRIDES"], s.planted_dlls)
    try:
        tick = time.monotonic()
        if shared is None:
            prefix.start_server()
        lay_out(laid_out, where, prefix, run_dir)
        timings["setup"] = time.monotonic() - tick

        cwd = prefix.unix(s.cwd)
        cwd.mkdir(parents=True, exist_ok=True)
        cwd_before = sorted(p.name for p in cwd.iterdir())
        run = run_utility(s, prefix, run_dir, where.utility)
        timings["utility"] = run.elapsed

        # Stops what still runs (sleepers, holders, a stray installer) before the files are read.
        tick = time.monotonic()
        if shared is None:
            prefix.shut_down()
        else:
            shared.give_back(prefix)
        timings["shutdown"] = time.monotonic() - tick

        emulated = slowdown(where.utility) > 1
        failures = _check(s, prefix, run, cwd, cwd_before, check_cpu=not emulated)
        notes = [] if run.cpu_seconds is None else [
            f"the utility used {run.cpu_seconds:.3f} s of CPU (user + system) in {run.elapsed:.1f} s"]
        if emulated:
            notes.append("32-bit code runs under qemu-i386 here: processor time not checked")
        return Outcome(failures, timings, run.stderr, notes)
    finally:
        if "shutdown" not in timings:
            if shared is None:
                prefix.shut_down()
            else:
                shared.give_back(prefix)
        for win_path in s.read_only:
            release_read_only(prefix.unix(win_path))
        if not keep:
            shutil.rmtree(run_dir, ignore_errors=True)


@dataclasses.dataclass
class UtilityRun:
    code: Optional[int]  # None when it did not end in time
    console: bytes
    stderr: str
    elapsed: float
    started_at: datetime.datetime
    ended_at: datetime.datetime
    cpu_seconds: Optional[float] = None  # user + system time of the utility's process; None: not measured
    other_failures: Sequence[str] = ()  # what another run of the companion (Companion.other) did wrong


def wait_with_usage(proc: subprocess.Popen, timeout: float) -> tuple[Optional[int], Optional[float]]:
    """Waits for the process; its exit code and its processor time (user + system, all threads).

    Wine runs each Windows process as one Unix process, so the kernel's own accounting of the child is
    the utility's. (GetProcessTimes on another process under Wine does not report the user time.)
    The wait blocks rather than polls, so the moment of the end is exact. Returns (None, None) when the
    process did not end in time; it is killed then.
    """
    lock = threading.Lock()
    state = {"reaped": False, "timed_out": False}

    def kill() -> None:
        with lock:
            if not state["reaped"]:
                state["timed_out"] = True
                os.kill(proc.pid, signal.SIGKILL)

    timer = threading.Timer(timeout, kill)
    timer.start()
    try:
        _, status, usage = os.wait4(proc.pid, 0)
    finally:
        with lock:
            state["reaped"] = True
        timer.cancel()
    proc.returncode = os.waitstatus_to_exitcode(status)  # reaped here, so Popen must not wait again
    if state["timed_out"]:
        return None, None
    return proc.returncode, usage.ru_utime + usage.ru_stime


def planned_pause_seconds(s: Scenario) -> float:
    """How long a run of this scenario may idle on purpose: the utility's closing pause and the installer
    stand-in's sleeps."""
    actions = s.installer.actions or () if s.installer else ()
    sleeps = [action.split()[1] for action in actions if action.startswith("sleep ")]
    return UTILITY_PAUSE_SECONDS + sum(int(seconds) for seconds in sleeps if seconds.isdigit())


def run_utility(s: Scenario, prefix: Prefix, run_dir: Path, utility: Path) -> UtilityRun:
    """Starts the utility from the scenario's working directory, stdout redirected to a file."""
    if s.interruption is not None:
        with prefix.watchdog.watching("the utility ran, its console stalled", planned_pause_seconds(s)):
            return run_interrupted(s, prefix, run_dir, utility)
    cwd = prefix.unix(s.cwd)
    cwd.mkdir(parents=True, exist_ok=True)
    console_file, stderr_file = run_dir / "console.bin", run_dir / "stderr.txt"
    started_at = datetime.datetime.now()
    tick = time.monotonic()
    with open(console_file, "wb") as out, open(stderr_file, "wb") as err:
        # Through the companion, as a deployment system starts it: the exit_code helper (built for the
        # utility's architecture) reads its full exit code on the Windows side.
        command = ([s.utility_path] if s.companion is None
                   else [EXIT_CODE_HELPER, s.patch_dir + "\\" + COMPANION_NAME, *s.companion.args])
        other = s.companion.other if s.companion is not None else None
        other_failures: list[str] = []
        with prefix.watchdog.watching("the utility ran", planned_pause_seconds(s) * (2 if other else 1)):
            start = lambda stdout: subprocess.Popen([prefix.loader(utility), *command], env=prefix.env,  # noqa: E731
                                                    stdin=subprocess.DEVNULL, cwd=cwd, stdout=stdout, stderr=err)
            if other is not None and not other.together:
                other_failures = run_killed_before(s, prefix, start(subprocess.DEVNULL), utility)
                tick = time.monotonic()
            proc = start(out)
            if other is not None and other.together:
                other_failures = run_together(s, prefix, run_dir, start, proc, utility)
            code, cpu = wait_with_usage(proc, UTILITY_TIMEOUT_SECONDS * slowdown(utility))
    elapsed = time.monotonic() - tick
    return UtilityRun(code, console_file.read_bytes(), stderr_file.read_text(errors="replace"), elapsed,
                      started_at, datetime.datetime.now(), cpu, other_failures)


def ended(proc: subprocess.Popen) -> bool:
    """Whether the process has ended, without reaping it: wait_with_usage reaps it later, with its usage."""
    return os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is not None


def wait_for_installer(s: Scenario, prefix: Prefix, proc: subprocess.Popen, utility: Path) -> bool:
    """Waits until the installer stand-in has recorded its start; False when `proc` ended first or never."""
    record = prefix.unix(s.patch_dir + "\\" + INSTALLER_RECORD_NAME)
    deadline = time.monotonic() + UTILITY_TIMEOUT_SECONDS * slowdown(utility)
    while not record.is_file():
        if ended(proc) or time.monotonic() > deadline:
            return False
        time.sleep(0.2)
    return True


def run_killed_before(s: Scenario, prefix: Prefix, first: subprocess.Popen, utility: Path) -> list[str]:
    """The first run, killed with everything it started once its installer runs (as "End process tree" in
    Task Manager would); the system, not the run, releases its lock."""
    if not wait_for_installer(s, prefix, first, utility):
        first.kill()
        first.wait()
        return ["the run to be killed never started its installer"]
    # Killed as the system sees it (Wine's taskkill doesn't list 32-bit processes under emulation): each
    # Windows process is one Unix process, named by the first 15 characters of its file name. What ran
    # then stays in the run folder.
    names = {name[:15] for name in (COMPANION_NAME, UTILITY_NAME, s.installer.name if s.installer else UTILITY_NAME,
                                    EXIT_CODE_HELPER.rsplit("\\", 1)[1])}
    with open(prefix.path.parent / "killed_run.txt", "w") as out:
        for pid, (name, _) in prefix_processes(prefix.path).items():
            out.write(f"{pid} {name} {command_line(pid)}\n")
    kill_processes(prefix.path, spare=lambda pid, name: name not in names)
    try:
        first.wait(timeout=60 * slowdown(utility))
    except subprocess.TimeoutExpired:
        first.kill()
        first.wait()
    # The stand-in's record of the killed run's start stays: the scenario's installer calls count it.
    return []


def run_together(s: Scenario, prefix: Prefix, run_dir: Path, start, first: subprocess.Popen,
                 utility: Path) -> list[str]:
    """A second run started while the first one's installer runs: it must end first, as Companion.other says."""
    other = s.companion.other
    if not wait_for_installer(s, prefix, first, utility):
        return ["the first run never started its installer, so no second run was started beside it"]
    console_file = run_dir / "console_other.bin"
    try:
        with open(console_file, "wb") as out:
            second = start(out)
            code, _ = wait_with_usage(second, UTILITY_TIMEOUT_SECONDS * slowdown(utility))
    finally:
        # The installer waits for this (SECOND_RUN_ENDED), however slowly the emulated second run started.
        prefix.unix(s.patch_dir + "\\" + SECOND_RUN_ENDED).write_bytes(b"")
    # Its full exit code is what the exit_code helper prints on the Windows side.
    failures = [] if code is not None else ["the second run did not end in time"]
    if ended(first):
        failures.append("the first run ended before the second one: they did not run together")
    console = console_file.read_bytes().decode("cp1252", errors="replace")
    lines = console.splitlines()
    if len(lines) != 2 or not lines[0].startswith(other.closing) or lines[1] != f"exit code {other.code}":
        failures.append(f"the second run said {console!r}, expected one line starting {other.closing!r} and "
                        f"exit code {other.code}")
    return failures


def run_interrupted(s: Scenario, prefix: Prefix, run_dir: Path, utility: Path) -> UtilityRun:
    """Runs the utility with its console a pipe that stalls where the scenario's interruption says, and
    does the interruption once the utility has read the file it names."""
    interruption = s.interruption
    assert interruption is not None
    cwd = prefix.unix(s.cwd)
    cwd.mkdir(parents=True, exist_ok=True)
    # An access time older than the modification time is updated by the next read, even under relatime.
    watched = prefix.unix(interruption.after_reading)
    mtime = watched.stat().st_mtime
    os.utime(watched, (mtime - 2 * 86400, mtime))
    unread = watched.stat().st_atime

    # The smallest pipe, filled up but for the text that may still flow. The next line is shorter than
    # PIPE_BUF, so it is written whole or not at all: the utility blocks on it.
    flows = interruption.console_before.encode("cp1252")
    read_end, write_end = os.pipe()
    proc: Optional[subprocess.Popen] = None
    try:
        fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
        filler = b"\0" * (fcntl.fcntl(write_end, F_GETPIPE_SZ) - len(flows))
        os.write(write_end, filler)
        stderr_file = run_dir / "stderr.txt"
        started_at = datetime.datetime.now()
        tick = time.monotonic()
        deadline = tick + UTILITY_TIMEOUT_SECONDS * slowdown(utility)
        with open(stderr_file, "wb") as err:
            proc = subprocess.Popen([prefix.loader(utility), s.utility_path], env=prefix.env, stdin=subprocess.DEVNULL,
                                    stdout=write_end, stderr=err, cwd=cwd)
        os.close(write_end)
        write_end = -1

        while watched.stat().st_atime == unread:
            if proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"the utility never read {interruption.after_reading} (no access time "
                                   "update: is the file system mounted noatime?)")
            time.sleep(INTERRUPTION_POLL_SECONDS)
        for win_path in interruption.delete:
            prefix.unix(win_path).unlink()

        # Read until the utility ends, not until end of file: Wine's service processes may hold the pipe.
        console = bytearray()
        os.set_blocking(read_end, False)
        code: Optional[int] = None
        while True:
            select.select([read_end], [], [], 0.1)
            try:
                while chunk := os.read(read_end, 65536):
                    console += chunk
            except BlockingIOError:
                pass
            if code is not None:
                break
            code = proc.poll()  # one more read after it ended
            if code is None and time.monotonic() > deadline:
                break
        elapsed = time.monotonic() - tick
    finally:
        if proc is not None and proc.poll() is None:
            proc.kill()
            proc.wait()
        os.close(read_end)
        if write_end >= 0:
            os.close(write_end)
    if not console.startswith(filler):
        raise RuntimeError("the console pipe lost its filler; the stall point is unknown")
    return UtilityRun(code, bytes(console[len(filler):]), stderr_file.read_text(errors="replace"), elapsed,
                      started_at, datetime.datetime.now())


def lay_out(s: Scenario, where: Locations, prefix: Prefix, run_dir: Path) -> None:
    """Registry, files, patch folder, running processes and held files, as the scenario says."""
    if s.registry or s.registry_removed:
        reg = run_dir / "scenario.reg"
        reg.write_bytes(b"\xff\xfe" + reg_file_text(s.registry, s.registry_removed).encode("utf-16-le"))
        # Output to a file, never a pipe: Wine's service processes inherit it and would keep a pipe open.
        output = run_dir / "reg_import.txt"
        with open(output, "wb") as out:
            result = prefix.run(["reg", "import", "Z:" + str(reg).replace("/", "\\")], stdout=out, stderr=out)
        if result.returncode != 0:
            raise RuntimeError(f"reg import failed ({result.returncode}): {output.read_text(errors='replace')!r}")

    for win_path, content in s.files.items():
        write_file(prefix, where.helpers, win_path, content)

    patch = prefix.unix(s.patch_dir)
    patch.mkdir(parents=True, exist_ok=True)
    shutil.copy2(where.utility, patch / UTILITY_NAME)
    if s.companion is not None:
        shutil.copy2(where.utility.with_name(COMPANION_NAME), patch / COMPANION_NAME)
        write_file(prefix, where.helpers, EXIT_CODE_HELPER, (where.helpers / "exit_code.exe").read_bytes())
    if s.descriptor is not None:
        (patch / DESCRIPTOR_NAME).write_bytes(s.descriptor)
    if s.installer is not None:
        shutil.copy2(where.helpers / "installer_standin.exe", patch / s.installer.name)
        if s.installer.actions is not None:
            (patch / INSTALLER_ACTIONS_NAME).write_bytes("".join(a + "\n" for a in s.installer.actions).encode())
        for name, content in s.installer.files.items():
            write_file(prefix, where.helpers, s.patch_dir + "\\" + name, content)

    # Each process in a folder of its own, so that two of them may share a name.
    slow = slowdown(where.helpers / "sleeper.exe")
    lifetime = str(HELPER_LIFETIME_SECONDS * slow)
    waits = []
    for i, name in enumerate(s.running):
        folder = rf"C:\Running\{i}"
        write_file(prefix, where.helpers, folder + "\\" + name, (where.helpers / "sleeper.exe").read_bytes())
        ready = folder + r"\ready"
        proc = prefix.start(where.helpers / "sleeper.exe", [folder + "\\" + name, lifetime, ready])
        waits.append((prefix.unix(ready), proc, f"running process {name!r}"))
    held = [(path, []) for path in s.held_open] + [(path, ["shared"]) for path in s.held_shared]
    for i, (path, sharing) in enumerate(held):
        holder = rf"C:\Holders\{i}\file_holder.exe"
        write_file(prefix, where.helpers, holder, (where.helpers / "file_holder.exe").read_bytes())
        ready = rf"C:\Holders\{i}\ready"
        proc = prefix.start(where.helpers / "file_holder.exe", [holder, path, lifetime, ready, *sharing])
        waits.append((prefix.unix(ready), proc, f"holder of {path!r}"))
    with prefix.watchdog.watching("the helper programs started"):
        for ready_path, proc, what in waits:
            wait_for(ready_path, proc, what, slow)
    for win_path in s.read_only:
        make_read_only(prefix.unix(win_path))
    for win_path, letters in s.attributes.items():
        set_dos_attributes(prefix.unix(win_path), letters)
    for name in s.planted_dlls:
        for folder in (s.patch_dir, s.cwd):
            write_file(prefix, where.helpers, folder + "\\" + name, (where.helpers / PLANTED_DLL).read_bytes())
    for link, target in s.links.items():
        path = prefix.unix(link)
        path.parent.mkdir(parents=True, exist_ok=True)
        os.symlink(prefix.unix(target), path)
    for link, target in s.hard_links.items():
        path = prefix.unix(link)
        path.parent.mkdir(parents=True, exist_ok=True)
        os.link(prefix.unix(target), path)


def _check(s: Scenario, prefix: Prefix, run: UtilityRun, cwd: Path, cwd_before: list[str],
           check_cpu: bool = True) -> list[str]:
    e = s.expect
    failures: list[str] = []
    if run.code is None:
        failures.append("the utility did not end in time")
    elif run.code != e.exit_code:
        failures.append(f"exit code {run.code}, expected {e.exit_code}")

    # Through the companion: the utility's console passed through, then its closing line and the code.
    failures += run.other_failures
    expected_console = (e.console + (s.companion.closing_lines() if s.companion else "")).encode("cp1252")
    moved = MOVED_ASIDE_STAMP.search(run.console)
    if moved:
        expected_console = expected_console.replace(STAMP_MARK.encode(), moved.group(1))
    if run.console != expected_console:
        failures.append(diff("console output", expected_console, run.console))

    if e.max_cpu_seconds is not None and check_cpu:
        if run.cpu_seconds is None:
            failures.append("the utility's processor time was not measured")
        elif run.cpu_seconds >= e.max_cpu_seconds:
            failures.append(f"the utility used {run.cpu_seconds:.3f} s of CPU in {run.elapsed:.1f} s, expected "
                            f"below {e.max_cpu_seconds:g} s")

    if run.elapsed < e.min_seconds:
        failures.append(f"the run took {run.elapsed:.1f} s, expected at least {e.min_seconds:g} s")

    log_path = prefix.unix(s.log_path)
    laid_out_log = s.files.get(s.log_path)
    if e.log is None and isinstance(laid_out_log, bytes):
        if not log_path.is_file():
            failures.append(f"the log file laid out before the run is gone: {s.log_path}")
        elif log_path.read_bytes() != laid_out_log:
            failures.append(diff(f"log file {texts.LOG_FILE_NAME} (expected as laid out)", laid_out_log,
                                 log_path.read_bytes()))
    elif e.log is None:
        if log_path.exists():
            failures.append(f"a log file was written although none was expected: {s.log_path}")
    elif not log_path.is_file():
        failures.append(f"no log file beside the utility ({s.log_path})")
    else:
        actual = log_path.read_bytes()
        head = LOG_HEADER_START.replace("\n", "\r\n").encode()
        date = "<date>"
        if actual.startswith(head):
            end = actual.find(b"\r\n", len(head))
            if end >= 0:
                date = actual[len(head):end].decode("latin-1")
                date_problem = check_log_date(date, run.started_at, run.ended_at)
                if date_problem:
                    failures.append(date_problem)
        expected = log_file_bytes(e.log, date)
        if actual != expected:
            failures.append(diff(f"log file {texts.LOG_FILE_NAME}", expected, actual))

    cwd_after = sorted(p.name for p in cwd.iterdir())
    if texts.LOG_FILE_NAME in cwd_after:
        failures.append(f"a log file was written into the working directory {s.cwd}")
    new_in_cwd = [n for n in cwd_after if n not in cwd_before and n != texts.LOG_FILE_NAME]
    if new_in_cwd:
        failures.append(f"files appeared in the working directory {s.cwd}: {new_in_cwd}")

    for win_path, want in e.files.items():
        path = prefix.unix(win_path)
        if want is None:
            if path.exists():
                failures.append(f"{win_path} exists, expected none")
        elif not path.is_file():
            failures.append(f"{win_path} is missing")
        elif isinstance(want, ProductVersionAfter):
            found = read_file_version(path.read_bytes())
            if found != want.version:
                failures.append(f"{win_path} has file version {found}, expected {want.version}")
        elif path.read_bytes() != want:
            failures.append(diff(win_path, want, path.read_bytes()))

    for win_path, names in e.folder_contents.items():
        folder = prefix.unix(win_path)
        found = sorted(p.name for p in folder.iterdir()) if folder.is_dir() else None
        if found != sorted(names):
            failures.append(f"{win_path} holds {found}, expected {sorted(names)}")

    loads = planted_loads(prefix)
    ours = {s.utility_path.lower(), (s.patch_dir + "\\" + COMPANION_NAME).lower()}  # the companion as well
    into_utility = [(process, dll) for process, dll in loads if process.lower() in ours]
    if into_utility:
        failures.append(f"the utility or its companion loaded planted DLLs: {into_utility}")
    if s.companion is not None:
        failures += check_kept_results(s, prefix)

    if e.installer_calls is not None:
        record = prefix.unix(s.patch_dir + "\\" + INSTALLER_RECORD_NAME)
        calls = parse_installer_record(record.read_bytes()) if record.is_file() else []
        failures += check_installer_calls(e.installer_calls, calls)
    return failures


KEPT_OUTCOME = re.compile(r"outcome\.\d{8}-\d{6}(-\d+)?\.json")
KEPT_LOG = re.compile(r"Log_VDT_14_PatchUpdate\.\d{8}-\d{6}(-\d+)?\.txt")


def check_kept_results(s: Scenario, prefix: Prefix) -> list[str]:
    """The companion's durable copy: this run's outcome file and log copy (the files the scenario laid out
    there aside), the newest copies under their fixed names, and the registry record read back."""
    assert s.companion is not None
    if s.companion.args or s.companion.refused:
        return []
    folder = prefix.unix(RESULTS_DIR)
    laid_out = {win_path.rsplit("\\", 1)[1] for win_path in s.files if win_path.startswith(RESULTS_DIR + "\\")}
    names = sorted(p.name for p in folder.iterdir()) if folder.is_dir() else []
    fresh = [n for n in names if n not in laid_out]
    other = s.companion.other
    if other is not None and other.together:
        # The second run keeps its own outcome file, and no log (it started no utility).
        theirs = [n for n in fresh if KEPT_OUTCOME.fullmatch(n)
                  and json.loads((folder / n).read_bytes().decode("utf-8")).get("outcome") == other.outcome]
        if len(theirs) != 1:
            return [f"{RESULTS_DIR} holds {names}, expected one outcome file of the second run ({other.outcome})"]
        fresh.remove(theirs[0])
    outcomes = [n for n in fresh if KEPT_OUTCOME.fullmatch(n)]
    logs = [n for n in fresh if KEPT_LOG.fullmatch(n)]
    fixed = sorted(n for n in fresh if n in (texts.NEWEST_LOG, texts.NEWEST_OUTCOME))
    if len(outcomes) != 1 or len(fresh) != len(outcomes) + len(logs) + len(fixed):
        return [f"{RESULTS_DIR} holds {names}, expected one new outcome file, at most one log and the newest copies"]
    failures = []
    outcome_bytes = (folder / outcomes[0]).read_bytes()
    record = json.loads(outcome_bytes.decode("utf-8"))
    want = {"outcome": s.companion.outcome, "code": s.companion.code, "reason": s.companion.reason}
    got = {key: record.get(key) for key in want}
    if got != want or not record.get("machine") or not record.get("time"):
        failures.append(f"outcome file {outcomes[0]}: {record}, expected {want} with machine and time")
    newest_outcome = folder / texts.NEWEST_OUTCOME
    if not newest_outcome.is_file() or newest_outcome.read_bytes() != outcome_bytes:
        failures.append(f"{texts.NEWEST_OUTCOME} is not this run's outcome line")
    log_path = prefix.unix(s.log_path)
    newest_log = folder / texts.NEWEST_LOG
    if s.expect.log is None:
        if logs:
            failures.append(f"a log copy {logs[0]} was kept although the run wrote no log")
        if newest_log.exists():
            failures.append(f"{texts.NEWEST_LOG} is there although the run wrote no log")
    elif len(logs) != 1 or logs[0].replace("Log_VDT_14_PatchUpdate.", "outcome.")[:-4] != outcomes[0][:-5]:
        failures.append(f"no copy of the run's log in {RESULTS_DIR} under the outcome file's stamp: {names}")
    elif log_path.is_file():
        for kept in (folder / logs[0], newest_log):
            if not kept.is_file() or kept.read_bytes() != log_path.read_bytes():
                failures.append(diff(f"kept log {kept.name}", log_path.read_bytes(),
                                     kept.read_bytes() if kept.is_file() else b""))
    failures += check_registry_record(s, prefix)
    return failures


def check_registry_record(s: Scenario, prefix: Prefix) -> list[str]:
    """The record under HKLM\\SOFTWARE\\Veldorant\\PatchUpdate as `reg query` shows it, and the patch's own
    key, which the registry detection that `rules` prints reads (ExitCode equal to 0 when installed). A
    scenario's own server is down by now and is shut down again afterwards; a shared prefix's still runs
    and stays."""
    assert s.companion is not None
    patch = re.search(rb"PatchInfo=([^\r\n]*)", s.descriptor or b"")
    keys = [texts.RECORD_KEY] + ([texts.RECORD_KEY + "\\Patches\\" + patch.group(1).decode("cp1252")] if patch else [])
    own_server = not any(name.startswith("wineserver") for name, _ in prefix_processes(prefix.path).values())
    failures = []
    try:
        for i, key in enumerate(keys):
            output = prefix.path.parent / f"reg_query{i}.txt"
            with open(output, "wb") as out:
                result = prefix.run(["reg", "query", key], stdout=out, stderr=out)
            text = output.read_bytes().decode("utf-8", errors="replace")
            if result.returncode != 0:
                failures.append(f"reg query {key} failed ({result.returncode}): {text!r}")
                continue
            values = {}
            for line in text.splitlines():
                parts = line.strip().split(None, 2)
                if len(parts) >= 2 and parts[1].startswith("REG_"):
                    values[parts[0]] = parts[2] if len(parts) == 3 else ""
            want = {"Outcome": s.companion.outcome, "ExitCode": f"0x{s.companion.code:x}",
                    "Reason": s.companion.reason.strip(), "RestartPending": "0x1" if s.companion.code == 3010 else "0x0"}
            got = {k: values.get(k, "").strip() for k in want}
            if got != want:
                failures.append(f"registry record {key}: {got}, expected {want}")
    finally:
        if own_server:
            prefix.shut_down()
    return failures


# --------------------------------------------------------------------------------------------------
# Command line
# --------------------------------------------------------------------------------------------------

def report(s: Scenario, outcome: Outcome, out=sys.stdout) -> None:
    spent = ", ".join(f"{k} {v:.1f} s" for k, v in outcome.timings.items())
    verdict = "PASS" if not outcome.failures else "FAIL"
    print(f"{verdict} {s.name}: {s.description}\n  timings: {spent}", file=out)
    for retry in outcome.retries:
        print("  retried once, the machinery failed: " + retry.replace("\n", "\n    "), file=out)
    for note in outcome.notes:
        print("  note: " + note, file=out)
    for failure in outcome.failures:
        print("  - " + failure.replace("\n", "\n    "), file=out)
    if outcome.failures and outcome.stderr.strip():
        print("  wine stderr:\n    " + outcome.stderr.strip().replace("\n", "\n    "), file=out)


def find(scenarios: Sequence[Scenario], name: str) -> Scenario:
    for s in scenarios:
        if s.name == name:
            return s
    raise KeyError(f"no scenario named {name!r}")


def check_names(scenarios: Sequence[Scenario]) -> None:
    seen = set()
    for s in scenarios:
        if not re.fullmatch(r"[a-z0-9_]+", s.name) or s.name in seen:
            raise ValueError(f"scenario names must be unique snake_case: {s.name!r}")
        seen.add(s.name)

