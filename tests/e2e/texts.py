"""What the utility prints and logs, each text once, spelled exactly (odd blanks included).

Console lines end with their line feed; log entries are given without line ends.
"""

# --- Start-up and guard ---
CONSOLE_GUARD_BLOCKED = "Patch update status: Please check and close Veldorant/Excel application,if open.\n"
CONSOLE_VALIDATION_IN_PROGRESS = "Patch update status: Validation in-progress...\n"
CONSOLE_NOT_INSTALLED = (
    "This patch can't be applied. Veldorant 14.0 application is not installed in this machine.\n")
CONSOLE_LEVEL_TWO_EMPTY = "Patch update status : Validation for level two check failed.(empty value found).\n"
CONSOLE_WAIT_TO_CLOSE = "Please wait to close the application...\n"

LOG_NOT_INSTALLED = "This patch can't be applied. Veldorant 14.0 application is not installed in this machine."
LOG_WARNING_101 = "Could not check patch update availability.WARNING: 101."

# --- Registry view and probes ---
LOG_MODE_1 = "Registry bit support Mode 1: Verified successfully."
LOG_MODE_2 = "Registry bit support Mode 2: Verified successfully."

LOG_VERSION_COMPLETED = "Client side update check, level version completed."
LOG_VERSION_EMPTY = "Client side update check, level version failed. Value not found. "
LOG_VERSION_QUERY_FAILED = "Client side update check, level version (L1) failed"
LOG_VERSION_OPEN_FAILED = "Client side update check, level version failed."

LOG_THREE_COMPLETED = "Client side update check, level three completed."
LOG_THREE_EMPTY = "Client side update check, level three failed. Value not found. "
LOG_THREE_QUERY_FAILED = "Client side update check, level three (L1) failed"
LOG_THREE_OPEN_FAILED = "Client side update check, level three failed."

LOG_TWO_COMPLETED = "Client side update check, level two completed."
LOG_TWO_EMPTY = "Client side update check, level two failed. Value not found. "
LOG_TWO_QUERY_FAILED = "Client side update check, level two (L1) failed"
LOG_TWO_OPEN_FAILED = "Client side update check, level two failed."

LOG_FALLBACK_OPEN_FAILED = "Client side update check, level version add-on failed."
LOG_FALLBACK_QUERY_FAILED = "Client side update check, level version (L1) add-on failed"
LOG_FALLBACK_EMPTY = "Client side update check, level version (L1) add-on failed. Value not found."
# The product key under Wow6432Node was missing altogether.
LOG_FALLBACK_COMPLETED_KEY_MISSING = "Client side update check, level version (L1) add-on completed."
# The product key under Wow6432Node was there without "Version": no blank after the comma.
LOG_FALLBACK_COMPLETED_VALUE_MISSING = "Client side update check,level version (L1) add-on completed."


def log_error(code: int) -> str:
    """The entry that follows a failed registry call's message."""
    return f"Error : {code}"


# --- Patch descriptor ---
LOG_DESCRIPTOR_NOT_FOUND = "Patch update read process: key file not found.Exit code 6."
LOG_DESCRIPTOR_READ_COMPLETED = "Read patch update installer file completed."
LOG_DESCRIPTOR_VALUES_FOUND = "Patch update read process: key values found."

# --- Applicability ---
LOG_RECORD_EXISTS = "Installer update file exists in local."
LOG_RECORD_READ_COMPLETED = "Read local installer update file completed."
LOG_UPDATE_FOUND_1 = "Update details found: Exit code 1."
LOG_UPDATE_FOUND_2 = "Update details found: Exit code 2."

# --- Installer ---
CONSOLE_INSTALLING = "Patch update status: Installation in-progress.\nPlease wait to complete...\n"
CONSOLE_COMPLETED = "Patch update status: Completed successfully.\n"
LOG_INSTALL_COMPLETED = "Execute patch process silent: Completed successfully."

# --- Run log frame ---
LOG_FILE_NAME = "Log_VDT_14_PatchUpdate.txt"
UTILITY_VERSION = "1.0.5"
LOG_RULE = "=" * 89
LOG_VERSION_LINE = "Veldorant 14.0 Patch Update Utility Version : " + UTILITY_VERSION
LOG_DATE_LABEL = "Veldorant 14.0 Patch Update Utility Date/Time : "
LOG_FOOTER = ("===========" + " (Veldorant 14.0 Patch Update Utility " + UTILITY_VERSION + ") Patch Update : End "
              + " =============")


LOG_HEADER_START = LOG_RULE + "\n\n" + LOG_VERSION_LINE + "\n\n" + LOG_DATE_LABEL


def log_entries(*messages: str) -> str:
    """The log text between header and footer for these entries: each followed by a blank line."""
    return "".join(message + "\n\n" for message in messages)


def log_file_bytes(text: str, date: str) -> bytes:
    """The log file as the utility must write it: CR LF line ends, one byte per character."""
    whole = (LOG_HEADER_START + date + "\n\n" + LOG_RULE + "\n\n" + text + LOG_FOOTER)
    return whole.replace("\n", "\r\n").encode("cp1252")

# --- Patch descriptor, install job and fault injection ---
CONSOLE_UPDATE_FAILED = "Patch update status: Update failed, please check the log for complete details.\n"
CONSOLE_UPDATE_MISMATCH = (
    "Patch update status: Update failed due to version mismatch, please check the log for complete details.\n")
CONSOLE_NOT_APPLICABLE = (
    "Patch update status: This patch is not applicable or not required for the installed veldorant application.\n")
CONSOLE_ALREADY_APPLIED = "Patch update status: This patch update has been already applied.\n"

LOG_DESCRIPTOR_READ_FAILED = "Read patch update installer  file failed."
LOG_DESCRIPTOR_KEYS_NOT_FOUND_1 = "Patch update read process: key values not found.Exit code 1."
LOG_DESCRIPTOR_INSTALLER_MISSING = "Patch update read process: key file not found.Exit code 5."

LOG_NOT_APPLICABLE = "This patch is not applicable or not required for the installed veldorant application."
LOG_UPDATE_NOT_FOUND_3 = "Update details not found: Exit code 3."
LOG_ALREADY_APPLIED = "This patch update has been already applied."
LOG_UPDATE_NOT_FOUND_1 = "Update details not found.Exit code 1."
LOG_UPDATE_NOT_FOUND_2 = "Update details not found: Exit code 2."
LOG_ALREADY_APPLIED_STATUS = CONSOLE_ALREADY_APPLIED.rstrip("\n")  # logged after exit codes 1 and 2

LOG_INSTALL_CANCELLED = (
    "Execute patch process silent : Not completed successfully (might be cancelled during updates). Please try again. ")
LOG_INSTALL_MISMATCH = "Execute patch process silent : Not completed successfully due to version information mismatch. "
LOG_INSTALL_NOT_COMPLETED = "Execute patch process silent: Not completed successfully."
LOG_RECORD_WRITE_FAILED = "Installedupdates failed."  # the file error's description follows without a blank
LOG_LAUNCH_FILE_NOT_FOUND = "Execute patch process silent error: The specified file was not found."
LOG_LAUNCH_SHARING_VIOLATION = "Execute patch process silent error: A sharing violation occurred."
LOG_INSTALL_PATH_QUOTED = ("Execute patch process silent error: The install path contains a double quote and was not "
                           "passed to the installer.")
LOG_RECORD_READ_FAILED = "Read local installer update file failed."

# Wine's own wording of the system errors (FormatMessage), as the utility puts it in its file-error entries.
WINE_ERROR_ACCESS_DENIED = "Access denied."
WINE_ERROR_SHARING_VIOLATION = "Sharing violation."


def file_error(system_text: str, path: str) -> str:
    """The utility's description of a file error: the system's words, then the file."""
    return f"{system_text} File: {path}"

# --- PatchUpdateResult.exe ---
COMPANION_NOT_KEPT = "PatchUpdateResult: the results of this run were not kept: "
COMPANION_REFUSED_LINK = "is a junction, symbolic link or mount point; delete it and the next run makes it anew"
COMPANION_RESTART_COMPLETES = "a restart completes the patch: the installer scheduled {} to be replaced at the next restart"
COMPANION_DECIDED_BY_RECORD = " (decided by installedupdates.dat, the installed-update record)"
COMPANION_BELOW = "; but Vdt.exe in {} carries {}, below PatchVersion {}"
COMPANION_RUN_IN_PROGRESS = ("another run of PatchUpdateResult.exe is in progress on this machine; PatchUpdate.exe was "
                             "not started (running since ")
NEWEST_LOG = "PatchUpdate-newest.log"
NEWEST_OUTCOME = "PatchUpdate-newest-outcome.txt"
RECORD_KEY = "HKLM\\SOFTWARE\\Veldorant\\PatchUpdate"

# --- The fleet report (PatchUpdateResult.exe report) ---
# Its outcomes in its table's order, with their exit codes.
OUTCOMES = {"applied": 0, "already-applied": 0, "later-version": 0, "restart-pending": 3010, "blocked": 1618,
            "run-in-progress": 1618, "install-failed": 1603, "stale-record": 1603, "product-incomplete": 1603,
            "broken-package": 1620, "not-applicable": 1642, "no-log": 1622, "unreadable": 1622}


def report_table(counts: dict, total: str) -> str:
    """The report's table: a row for every outcome (its machines from `counts`, else 0), one for "missing"
    when `counts` has it, and the total line."""
    rows = [("Outcome", "Code", "Machines")]
    rows += [(outcome, str(code), str(counts.get(outcome, 0))) for outcome, code in OUTCOMES.items()]
    if "missing" in counts:
        rows.append(("missing", "-", str(counts["missing"])))
    return "".join(f"{name:<20}{code:<6}{machines}\n" for name, code, machines in rows) + f"{'total':<26}{total}\n"
