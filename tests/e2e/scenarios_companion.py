"""PatchUpdateResult.exe run as a deployment system runs it, one scenario per exit-code class.

Each is an existing scenario run again through the companion: the same machine, the same console
passed through and the same log, then the companion's closing line, its full exit code (read on the
Windows side by the exit_code helper) and the copy it keeps under ProgramData.
"""

import dataclasses

import installation as inst
import scenarios_faults
import scenarios_guard
import scenarios_install
import scenarios_run
from scenario import (RESULTS_DIR, SECOND_RUN_ENDED, STAMP_MARK, Companion, Expect, OtherRun, ProductExe,
                      ProductVersionAfter, RegValue, Scenario, find)
from wine_prefix import emulated_32bit
from texts import (COMPANION_BELOW, COMPANION_DECIDED_BY_RECORD, COMPANION_REFUSED_LINK, COMPANION_RESTART_COMPLETES,
                   COMPANION_RUN_IN_PROGRESS, CONSOLE_COMPLETED, CONSOLE_GUARD_BLOCKED, LOG_ALREADY_APPLIED,
                   LOG_ALREADY_APPLIED_STATUS, LOG_DESCRIPTOR_NOT_FOUND, LOG_INSTALL_COMPLETED, LOG_INSTALL_MISMATCH,
                   LOG_NOT_APPLICABLE, NEWEST_LOG, log_entries, log_file_bytes, report_table)

BASES = scenarios_run.SCENARIOS + scenarios_install.SCENARIOS + scenarios_guard.SCENARIOS + scenarios_faults.SCENARIOS
FROM_CONSOLE = " (no log from this run; read from its console)"


def again(name: str, companion: Companion, suffix: str = "", why: str = "", expect=None, **changes) -> Scenario:
    """The scenario `name` through the companion; `changes` and `expect` (Expect fields) vary it."""
    base = find(BASES, name)
    return dataclasses.replace(
        base, name="companion_" + name + suffix, companion=companion,
        description=f"through PatchUpdateResult.exe, {companion.outcome} ({companion.code}): {why or base.description}",
        expect=dataclasses.replace(base.expect, **(expect or {})), **changes)


APPLIED = Companion("applied", 0, LOG_INSTALL_COMPLETED)
# The installer stand-in slow enough for another run to start and end while it runs.
SLOW_INSTALLER = inst.installer("sleep 30", "copy new_Vdt.exe")
APPLIED_CALLS = find(BASES, "run_patch_applied").expect.installer_calls
DECOY = r"C:\Decoy"


def kept_runs(folder: str, day: str, count: int) -> dict:
    """`count` runs' outcome files and logs in `folder`, a minute apart on `day` (YYYYMMDD)."""
    files = {}
    for i in range(count):
        stamp = f"{day}-10{i:02d}00"
        files[rf"{folder}\outcome.{stamp}.json"] = b'{"outcome": "blocked", "code": 1618}\r\n'
        files[rf"{folder}\Log_VDT_14_PatchUpdate.{stamp}.txt"] = b"decoy log"
    return files


def decoys(folder: str) -> dict:
    """Twenty-two old runs in `folder`: a run that kept its results there would delete two of them."""
    return kept_runs(folder, "20200101", 22)


def names_in(files: dict, folder: str) -> list:
    return sorted(path.rsplit("\\", 1)[1] for path in files if path.rsplit("\\", 1)[0] == folder)


def refused_at(level: str, link_target: str, decoy_folder: str, name_suffix: str) -> Scenario:
    """The applied run with `level` a link to a folder of decoy runs: exit 0, nothing kept, decoys as they were."""
    base = find(BASES, "run_patch_applied")
    files = decoys(decoy_folder)
    return dataclasses.replace(
        base, name="companion_results_" + name_suffix,
        description=f"through PatchUpdateResult.exe, applied (0): {level} is a link a user made to a folder of "
                    "decoy runs; nothing kept, nothing deleted, the same exit code",
        files={**base.files, **files}, links={level: link_target},
        companion=dataclasses.replace(APPLIED, refused=level, refusal=COMPANION_REFUSED_LINK),
        expect=dataclasses.replace(base.expect, folder_contents={decoy_folder: names_in(files, decoy_folder)}))


# The previous release's Results, made as that release made its folders (plainly, inheriting ProgramData's
# permissions), holding what a user could leave there: a hard link to a file elsewhere, a subfolder, a link,
# an "x." name and a folder named like a fixed-name copy. One run moves it aside, makes it anew and carries
# its two runs over as new files; the file elsewhere and the link's target stay as they were.
OUTSIDE = DECOY + r"\settings.ini"
PREVIOUS_RUNS = kept_runs(RESULTS_DIR, "20261101", 2)


def previous_release_upgraded() -> Scenario:
    base = find(BASES, "run_patch_applied")
    outside = {OUTSIDE: b"[settings]\r\n", DECOY + r"\Runs\outcome.20200101-100000.json": b"decoy"}
    moved = f"{RESULTS_DIR}.moved-aside-{STAMP_MARK}"
    return dataclasses.replace(
        base, name="companion_results_previous_release_upgraded",
        description="through PatchUpdateResult.exe, applied (0): the previous release's Results with a hard link "
                    "to a file elsewhere, a subfolder, a link, an x. name and a folder named like a fixed-name "
                    "copy: moved aside, made anew, its runs carried over, nothing outside changed",
        files={**base.files, **PREVIOUS_RUNS, **outside, RESULTS_DIR + r"\sub\notes.txt": b"mine",
               RESULTS_DIR + r"\x.": b"mine", RESULTS_DIR + "\\" + NEWEST_LOG + r"\x": b"a folder"},
        hard_links={RESULTS_DIR + r"\outcome.20261101-090000.json": OUTSIDE},
        links={RESULTS_DIR + r"\junction": DECOY + r"\Runs"},
        companion=dataclasses.replace(
            APPLIED, said=f"PatchUpdateResult: {RESULTS_DIR} was not made as this program makes it: moved aside to "
                          f"Results.moved-aside-{STAMP_MARK}, made anew\n"
                          f"PatchUpdateResult: 4 files of earlier runs carried over from {moved}\n"),
        expect=dataclasses.replace(base.expect, files={**base.expect.files, **outside, **PREVIOUS_RUNS}))


# What an installer appends to a server's long list of renames waiting for the restart (4 MiB of other
# programs' files), as a REG_MULTI_SZ: each path with its NUL, no closing NUL yet.
SESSION_MANAGER = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager"


def long_pending_renames(total: int = 4 << 20) -> bytes:
    pairs, size, i = [], 0, 0
    while size < total:
        source = rf"\??\C:\Program Files\Other Server Software\component-{i:06d}.dll"
        pair = (source + ".new\0!" + source + "\0").encode("utf-16-le")
        pairs.append(pair)
        size += len(pair)
        i += 1
    return b"".join(pairs) + "\0".encode("utf-16-le")


# A collection with link loops: a machine folder linking back to the collection, one machine to another,
# and a "machine" at the top that is a link to the collection itself. (A link to itself Wine doesn't list.)
COLLECTED = r"C:\Collected"
# Wine under qemu-i386 now and then loses a process whose threads call the wineserver at once (a plain
# std::thread program does too): there the report reads one machine at a time. Machines read at once are
# proven on the fake machine and by the Linux report.
ONE_AT_A_TIME = ("--parallel", "1") if emulated_32bit() else ()
REPORT_LOG = log_file_bytes(log_entries(*inst.VALIDATED, *inst.DESCRIPTOR_READ, LOG_INSTALL_COMPLETED),
                            "Wednesday 03:30, December 09, 2026")
# PC01 left its log, PC02 its outcome file.
COLLECTION = {COLLECTED + r"\PC01\Log_VDT_14_PatchUpdate.txt": REPORT_LOG,
              COLLECTED + r"\PC02\Results\outcome.20261209-033005.json":
                  b'{"machine": "PC02", "outcome": "applied", "code": 0}\r\n'}
REPORT_CSV = COLLECTED + r"\PatchUpdateReport.csv"
REPORT_FILES = f"CSV: {REPORT_CSV}\nPage: {REPORT_CSV[:-4]}.html\n"
REPORT_TABLE = (report_table({"applied": 2, "unreadable": 1}, "3 machines, 2 files")
                + "not read: 3 folders or files (rows in the CSV); the report is incomplete\n\n"
                "applied (2): PC01 PC02\n\nunreadable (1): PC03\n\n" + REPORT_FILES)

# The same report held against an administrator's list: an Intune-style export naming PC01 by its host
# name and PC04, which never ran; PC02 ran without being listed.
FLEET_LIST = r"C:\fleet.csv"
EXPECTED_TABLE = ("Expected: 2 machines listed in C:\\fleet.csv (column \"Device name\")\n"
                  + report_table({"applied": 2, "missing": 1}, "3 machines, 2 files")
                  + "not on the expected list: 1 of the machines above\n\n"
                  "applied (2): PC01 PC02\n\nmissing (1): PC04\n\nnot expected (1): PC02\n\n" + REPORT_FILES)

SCENARIOS = [
    again("run_patch_applied", Companion("applied", 0, LOG_INSTALL_COMPLETED)),
    again("run_patch_applied_dlls_planted", Companion("applied", 0, LOG_INSTALL_COMPLETED)),
    again("install_second_run_exe_at_patch_version", Companion("already-applied", 0, LOG_ALREADY_APPLIED)),
    again("guard_vdt_running", Companion("blocked", 1618, CONSOLE_GUARD_BLOCKED.rstrip("\n"))),
    again("install_mismatch", Companion("install-failed", 1603, LOG_INSTALL_MISMATCH)),
    again("guard_nothing_running", Companion("broken-package", 1620, LOG_DESCRIPTOR_NOT_FOUND),
          why="no descriptor beside the utility; the older log beside it is replaced and read"),
    again("install_version_not_previous", Companion("not-applicable", 1642, LOG_NOT_APPLICABLE)),
    # Held against Vdt.exe's version afterwards, which the detection rule reads.
    again("install_second_run_record_names_patch",
          Companion("stale-record", 1603, LOG_ALREADY_APPLIED_STATUS + COMPANION_DECIDED_BY_RECORD
                    + COMPANION_BELOW.format(inst.INSTALL_DIR, "14.0.0.100", "14.0.0.200")),
          why="installedupdates.dat names the patch but Vdt.exe is at a previous version: the detection would deny "
              "a success"),
    again("install_path_odd_characters", APPLIED,
          why="installed outside Program Files: applied, and the patch's registry record that the registry "
              "detection reads says ExitCode 0"),
    # One run at a time: a second run while the first one installs ends at once; a killed run's lock is gone.
    again("run_patch_applied",
          dataclasses.replace(APPLIED, other=OtherRun(together=True, code=1618, outcome="run-in-progress",
                                                      closing="PatchUpdateResult: run-in-progress (exit code 1618): "
                                                              + COMPANION_RUN_IN_PROGRESS)),
          suffix="_second_run_together",
          why="a second run started while the installer runs ends with 1618 and starts no installer",
          installer=inst.installer(f"await {SECOND_RUN_ENDED} 900", "copy new_Vdt.exe")),
    again("run_patch_applied",
          dataclasses.replace(APPLIED, other=OtherRun(together=False)),
          suffix="_after_a_killed_run",
          why="the run before was killed with its utility and installer during the install: its lock went with it",
          installer=SLOW_INSTALLER, expect={"installer_calls": [*APPLIED_CALLS, *APPLIED_CALLS]}),
    # No fresh log: the older one beside the utility must not be taken for this run's.
    again("guard_nothing_running",
          Companion("no-log", 1622, "no log from this run, and the console names no outcome"),
          suffix="_log_read_only", why="the older log is read-only and the console names no outcome",
          read_only=[scenarios_faults.LOG_PATH], expect={"log": None}),
    again("faults_log_read_only",
          Companion("applied", 0, CONSOLE_COMPLETED.rstrip("\n") + FROM_CONSOLE),
          why="the older log is read-only; the console still says the patch was applied"),

    # The installer can't replace Vdt.exe in place and leaves the new one to the next restart.
    again("install_mismatch",
          Companion("restart-pending", 3010, COMPANION_RESTART_COMPLETES.format(inst.PRODUCT_EXE)),
          suffix="_vdt_scheduled_for_restart",
          why="the installer scheduled the new Vdt.exe for the next restart (PendingFileRenameOperations)",
          installer=inst.installer("schedule new_Vdt.exe", new_exe=ProductExe("14.0.0.200")),
          expect={"files": {inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.100"), inst.RECORD: inst.OLD_RECORD}}),

    # ... behind 4 MiB of a server's other renames: the list is read whole.
    again("install_mismatch",
          Companion("restart-pending", 3010, COMPANION_RESTART_COMPLETES.format(inst.PRODUCT_EXE)),
          suffix="_vdt_scheduled_after_4_mib_of_renames",
          why="the installer scheduled the new Vdt.exe for the next restart after 4 MiB of other programs' renames",
          installer=inst.installer("schedule new_Vdt.exe", new_exe=ProductExe("14.0.0.200")),
          registry={**find(BASES, "install_mismatch").registry,
                    SESSION_MANAGER: {"PendingFileRenameOperations": RegValue(7, long_pending_renames())}},
          expect={"files": {inst.PRODUCT_EXE: ProductVersionAfter("14.0.0.100"), inst.RECORD: inst.OLD_RECORD}}),

    # The previous release's folders upgraded by one run.
    previous_release_upgraded(),

    # A standard user prepared the results folder: refused, whatever it holds left alone.
    refused_at(r"C:\ProgramData\Veldorant", DECOY, DECOY + r"\PatchUpdate\Results", "veldorant_is_a_link"),
    refused_at(RESULTS_DIR, DECOY + r"\Runs", DECOY + r"\Runs", "folder_is_a_link"),
    dataclasses.replace(
        find(BASES, "run_patch_applied"), name="companion_results_stamped_in_the_future",
        description="through PatchUpdateResult.exe, applied (0): Results holds 20 runs stamped in 2099; this "
                    "run's files are kept all the same",
        files={**find(BASES, "run_patch_applied").files, **kept_runs(RESULTS_DIR, "20991231", 20)},
        companion=APPLIED),

    # The fleet report over a collection with link loops: it ends, and counts each machine once.
    Scenario(
        name="companion_report_link_loops",
        description="PatchUpdateResult.exe report over a collection with link loops: nothing followed, each "
                    "machine once, the links said, exit 3 (incomplete)",
        files=COLLECTION,
        links={COLLECTED + r"\PC01\loop": COLLECTED, COLLECTED + r"\PC02\Results\back": COLLECTED + r"\PC01",
               COLLECTED + r"\PC03": COLLECTED},
        companion=Companion("", 3, "", args=("report", COLLECTED, REPORT_CSV) + ONE_AT_A_TIME),
        expect=Expect(console=REPORT_TABLE, log=None, min_seconds=0, installer_calls=None)),
    Scenario(
        name="companion_report_expected",
        description="PatchUpdateResult.exe report --expected LIST: the listed machine with no run is missing, "
                    "the unlisted one that ran is said once, exit 4",
        files={**COLLECTION,
               FLEET_LIST: b"\xef\xbb\xbfDevice name,OS\r\npc01.corp.example.com,Windows\r\nPC04,Windows\r\n"},
        companion=Companion("", 4, "", args=("report", "--expected", FLEET_LIST, COLLECTED, REPORT_CSV) + ONE_AT_A_TIME),
        expect=Expect(console=EXPECTED_TABLE, log=None, min_seconds=0, installer_calls=None)),
]

