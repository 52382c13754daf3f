"""What a scenario is made of, and what a run of it gave.

A scenario says what the machine looks like (registry, files, running processes, files held open),
what the patch folder holds (descriptor, installer stand-in) and what must come out (console bytes,
exit code, elapsed time, the run log, files left behind, the installer's recorded calls).

Python 3 standard library only.
"""

from __future__ import annotations

import dataclasses
import datetime
import re
from typing import Mapping, Optional, Sequence, Union

import texts

DEFAULT_PATCH_DIR = r"C:\Patch Package"
UTILITY_NAME = "PatchUpdate.exe"
COMPANION_NAME = "PatchUpdateResult.exe"  # found beside the utility under test
EXIT_CODE_HELPER = r"C:\Helpers\exit_code.exe"
RESULTS_DIR = r"C:\ProgramData\Veldorant\PatchUpdate\Results"
DESCRIPTOR_NAME = "patchupdate.dat"
RECORD_NAME = "installedupdates.dat"
INSTALLER_RECORD_NAME = "installer_record.txt"
INSTALLER_ACTIONS_NAME = "installer_actions.txt"
PLANTED_DLL = "planted.dll"  # helpers/planted_dll.cpp
PLANTED_MARKER = r"C:\planted_dll_loads.txt"  # one line per load of a planted DLL: process|dll


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
