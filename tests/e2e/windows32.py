"""The scenarios that also run on 32-bit Windows, and what becomes of a scenario there.

32-bit Windows has no SOFTWARE\\Wow6432Node: the product's keys are under the plain path, it lives in
"Program Files", and the run works in Mode 2. A scenario written for 64-bit Windows is turned into its
32-bit twin by moving every key, path and log entry that says otherwise; the expectations stay its own.
"""

import dataclasses
import re
from typing import Any

import installation as inst
from scenario import Scenario
from texts import LOG_MODE_1, LOG_MODE_2

# The focused set: the guard, Mode 2 found without any fallback, a whole install with its record, an
# already-applied second run and a run that doesn't apply.
NAMES = (
    "guard_vdt_running",
    "run_patch_applied",
    "install_second_run_exe_at_patch_version",
    "install_version_not_previous",
)

PROGRAM_FILES_32 = r"C:\Program Files (x86)" + "\\"
PROGRAM_FILES = r"C:\Program Files" + "\\"
WOW_SOFTWARE = inst.HKLM + r"\SOFTWARE\Wow6432Node" + "\\"
SOFTWARE = inst.HKLM + r"\SOFTWARE" + "\\"
REPLACEMENTS = ((WOW_SOFTWARE, SOFTWARE), (PROGRAM_FILES_32, PROGRAM_FILES), (LOG_MODE_1, LOG_MODE_2))


def moved(text: str) -> str:
    """A key, path or log text as it reads on 32-bit Windows."""
    for old, new in REPLACEMENTS:
        text = text.replace(old, new)
    return text


def _moved(value: Any) -> Any:
    if isinstance(value, str):
        return moved(value)
    if isinstance(value, bytes):
        return moved(value.decode("cp1252")).encode("cp1252")
    if isinstance(value, re.Pattern):
        pattern = value.pattern
        for old, new in REPLACEMENTS:
            pattern = pattern.replace(re.escape(old), re.escape(new)).replace(old, new)
        return re.compile(pattern, value.flags)
    if isinstance(value, dict):
        return {_moved(k): _moved(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return type(value)(_moved(v) for v in value)
    if dataclasses.is_dataclass(value) and not isinstance(value, type):
        return dataclasses.replace(value, **{f.name: _moved(getattr(value, f.name))
                                             for f in dataclasses.fields(value) if f.init})
    return value


def on_32bit_windows(s: Scenario) -> Scenario:
    """The scenario as it plays on 32-bit Windows; its name stays (the test name tells the prefix)."""
    if any(WOW_SOFTWARE in key for key in s.registry_removed):
        raise ValueError(f"{s.name} removes Wow6432Node keys; 32-bit Windows has none")
    description = s.description.replace("Mode 1", "Mode 2") + " (32-bit Windows)"
    return dataclasses.replace(_moved(s), name=s.name, description=description)
