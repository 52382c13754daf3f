"""End-to-end harness: runs the real PatchUpdate.exe under Wine, one throwaway prefix per scenario.

The harness copies a template prefix (wine_prefix.py), lays out what the scenario (scenario.py) says,
runs the utility from a working directory other than its own folder with stdout redirected to a file,
then checks what came out (checks.py). A scenario has a prefix of its own, with its own wineserver, so
scenarios can run in parallel; or it takes its turn in a running prefix shared with others
(shared_prefix.py), where starting Wine's services for each scenario would cost more than the scenario
itself (32-bit Wine under emulation).

Python 3 standard library only.
"""

from __future__ import annotations

import argparse
import dataclasses
import datetime
import fcntl
import os
import select
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path
from typing import Mapping, Optional, Sequence, Union

from checks import check_run
from pe_image import VS_FIXEDFILEINFO_SIGNATURE, fixed_file_info_offset, parse_version
from scenario import (COMPANION_NAME, DESCRIPTOR_NAME, EXIT_CODE_HELPER, INSTALLER_ACTIONS_NAME, INSTALLER_RECORD_NAME,
                      PLANTED_DLL, SECOND_RUN_ENDED, UTILITY_NAME, FileContent, ProductExe, RegValue, Scenario,
                      UtilityRun)
from watchdog import command_line, kill_processes, prefix_processes
from wine_prefix import Prefix, clone_prefix, slowdown

DOS_ATTRIBUTES = {"r": 0x1, "h": 0x2, "s": 0x4, "a": 0x20}
HELPER_START_SECONDS = 60  # a sleeper or file holder must be up by then
HELPER_LIFETIME_SECONDS = 300  # they end by themselves even if nobody kills them
UTILITY_TIMEOUT_SECONDS = 150
# The utility's longest closing pause (7 s when there is nothing to install, 10 s after an install): the
# watchdog allows it beside the minute of idleness, and the installer stand-in's own sleeps.
UTILITY_PAUSE_SECONDS = 10
F_SETPIPE_SZ, F_GETPIPE_SZ = 1031, 1032  # Linux fcntl commands for a pipe's capacity
INTERRUPTION_POLL_SECONDS = 0.005


# --------------------------------------------------------------------------------------------------
# Building the machine's content
# --------------------------------------------------------------------------------------------------

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
        failures = check_run(s, prefix, run, cwd, cwd_before, check_cpu=not emulated)
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


def command_line_parser(description: str) -> argparse.ArgumentParser:
    """The arguments of every program that runs the utility under Wine: the e2e build folder (helper
    programs), the template prefixes' folder and the PatchUpdate.exe to run."""
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", type=Path, required=True, help="the e2e build folder")
    parser.add_argument("--templates", type=Path, help="folder of the template prefixes (default: the cache)")
    parser.add_argument("--utility", type=Path, required=True)
    return parser
