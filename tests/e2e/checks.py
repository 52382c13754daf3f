"""The checks of a scenario's run: console and log byte for byte (a diff for each mismatch), the log's
date, files and folders left behind, planted DLLs never loaded, the installer's recorded calls, and
through the companion its kept results and registry record.

Python 3 standard library only.
"""

from __future__ import annotations

import datetime
import difflib
import json
import re
from pathlib import Path
from typing import Optional, Sequence

import texts
from pe_image import read_file_version
from scenario import (COMPANION_NAME, INSTALLER_RECORD_NAME, PLANTED_MARKER, RESULTS_DIR, STAMP_MARK, InstallerCall,
                      ProductVersionAfter, Scenario, UtilityRun)
from watchdog import prefix_processes
from wine_prefix import Prefix

MOVED_ASIDE_STAMP = re.compile(rb"\.moved-aside-(\d{8}-\d{6})")
DATE_RE = re.compile(
    r"(?P<weekday>Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday) "
    r"(?P<hour>[01][0-9]|2[0-3]):(?P<minute>[0-5][0-9]), "
    r"(?P<month>January|February|March|April|May|June|July|August|September|October|November|December) "
    r"(?P<day>0[1-9]|[12][0-9]|3[01]), (?P<year>[0-9]{4})")


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


def planted_loads(prefix: Prefix) -> list[tuple[str, str]]:
    """(process, DLL) for every load of a planted DLL, as its marker file tells."""
    marker = prefix.unix(PLANTED_MARKER)
    if not marker.is_file():
        return []
    lines = marker.read_bytes().decode("utf-8", errors="replace").splitlines()
    return [tuple(line.split("|", 1)) for line in lines if "|" in line]


def check_run(s: Scenario, prefix: Prefix, run: UtilityRun, cwd: Path, cwd_before: list[str],
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
        head = texts.LOG_HEADER_START.replace("\n", "\r\n").encode()
        date = "<date>"
        if actual.startswith(head):
            end = actual.find(b"\r\n", len(head))
            if end >= 0:
                date = actual[len(head):end].decode("latin-1")
                date_problem = check_log_date(date, run.started_at, run.ended_at)
                if date_problem:
                    failures.append(date_problem)
        expected = texts.log_file_bytes(e.log, date)
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
