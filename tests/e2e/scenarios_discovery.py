"""Installed-product discovery: registry view, the three probes and validation's verdict.

Wine always has HKLM\\SOFTWARE\\Wow6432Node, so every run here starts in Mode 1. No descriptor lies
beside the utility, so each run ends with the missing-descriptor entry and the 7 s pause.
"""

import installation as inst
from scenario import Expect, Scenario
from texts import (CONSOLE_LEVEL_TWO_EMPTY, CONSOLE_NOT_INSTALLED, CONSOLE_VALIDATION_IN_PROGRESS,
                   LOG_DESCRIPTOR_NOT_FOUND, LOG_FALLBACK_COMPLETED_KEY_MISSING,
                   LOG_FALLBACK_COMPLETED_VALUE_MISSING, LOG_FALLBACK_OPEN_FAILED, LOG_FALLBACK_QUERY_FAILED,
                   LOG_MODE_1, LOG_MODE_2, LOG_NOT_INSTALLED, LOG_THREE_COMPLETED, LOG_THREE_OPEN_FAILED,
                   LOG_TWO_COMPLETED, LOG_TWO_QUERY_FAILED, LOG_VERSION_COMPLETED, LOG_VERSION_EMPTY,
                   LOG_VERSION_QUERY_FAILED, LOG_WARNING_101, log_entries, log_error)

ERROR_FILE_NOT_FOUND = 2
ERROR_MORE_DATA = 234

# Values a probe would pick up only if it read the wrong branch.
DECOY_PRODUCT = {"Version": "15.0", "Installpath": r"C:\Elsewhere"}
DECOY_UNINSTALL = {"DisplayName": "Veldorant 14.0"}  # no "DisplayIcon"


def not_ready(*entries: str, printed: str = "") -> Expect:
    """Validation's entries, then the missing descriptor; only the validation line plus `printed` shown."""
    return Expect(console=CONSOLE_VALIDATION_IN_PROGRESS + printed,
                  log=log_entries(*entries, LOG_DESCRIPTOR_NOT_FOUND), min_seconds=7)


def with_version(version: str) -> dict:
    """Product key under Wow6432Node with this "Version", the plain path holding a valid decoy."""
    return {inst.PRODUCT_KEY_WOW: inst.product_values(version=version),
            inst.PRODUCT_KEY_PLAIN: inst.product_values(version="14.0", install_dir=r"C:\Elsewhere"),
            inst.UNINSTALL_KEY_WOW: inst.uninstall_values()}


SCENARIOS = [
    # --- The branch the probes read ---
    Scenario(
        name="discovery_wow6432node_keys",
        description="Mode 1: all three values come from the Wow6432Node keys, not from the plain decoys",
        registry={**inst.wow_registry(), inst.PRODUCT_KEY_PLAIN: DECOY_PRODUCT,
                  inst.UNINSTALL_KEY_PLAIN: DECOY_UNINSTALL},
        files=inst.product_files(),
        expect=not_ready(LOG_MODE_1, LOG_VERSION_COMPLETED, LOG_THREE_COMPLETED, LOG_TWO_COMPLETED)),
    Scenario(
        name="discovery_product_key_plain_only",
        description="product key only under the plain path: the fallback switches to Mode 2 for later probes",
        registry={inst.PRODUCT_KEY_PLAIN: inst.product_values(),
                  inst.UNINSTALL_KEY_PLAIN: inst.uninstall_values()},
        expect=not_ready(LOG_MODE_1, LOG_FALLBACK_COMPLETED_KEY_MISSING, LOG_MODE_2, LOG_THREE_COMPLETED,
                         LOG_TWO_COMPLETED)),
    Scenario(
        name="discovery_wow_key_without_version",
        description="Wow6432Node product key without \"Version\", plain path with it: the no-blank variant",
        registry={inst.PRODUCT_KEY_WOW: {"Installpath": r"C:\Elsewhere"},
                  inst.PRODUCT_KEY_PLAIN: inst.product_values(),
                  inst.UNINSTALL_KEY_PLAIN: inst.uninstall_values()},
        expect=not_ready(LOG_MODE_1, LOG_FALLBACK_COMPLETED_VALUE_MISSING, LOG_MODE_2, LOG_THREE_COMPLETED,
                         LOG_TWO_COMPLETED)),
    Scenario(
        name="discovery_version_missing_from_both",
        description="\"Version\" in neither product key: fallback fails with 2 and Mode 1 stays for level three",
        registry={inst.PRODUCT_KEY_WOW: {"Installpath": inst.INSTALL_DIR},
                  inst.PRODUCT_KEY_PLAIN: {"Edition": "none"},  # no "Installpath" either
                  inst.UNINSTALL_KEY_WOW: inst.uninstall_values()},
        expect=not_ready(LOG_MODE_1, LOG_FALLBACK_QUERY_FAILED, log_error(ERROR_FILE_NOT_FOUND),
                         LOG_THREE_COMPLETED, LOG_NOT_INSTALLED, printed=CONSOLE_NOT_INSTALLED)),
    Scenario(
        name="discovery_not_installed",
        description="no product keys at all: fallback and level three fail to open, not installed",
        expect=not_ready(LOG_MODE_1, LOG_FALLBACK_OPEN_FAILED, log_error(ERROR_FILE_NOT_FOUND),
                         LOG_THREE_OPEN_FAILED, log_error(ERROR_FILE_NOT_FOUND), LOG_NOT_INSTALLED,
                         printed=CONSOLE_NOT_INSTALLED)),

    # --- The "Version" value itself ---
    Scenario(
        name="discovery_version_empty",
        description="an empty \"Version\" is logged as not found and no fallback is tried",
        registry=with_version(""),
        expect=not_ready(LOG_MODE_1, LOG_VERSION_EMPTY, LOG_THREE_COMPLETED, LOG_NOT_INSTALLED,
                         printed=CONSOLE_NOT_INSTALLED)),
    Scenario(
        name="discovery_version_128_chars",
        description="a 128-character \"Version\" overflows the 256-byte buffer: error 234, not stored",
        registry=with_version("14.0." + "9" * 123),
        expect=not_ready(LOG_MODE_1, LOG_VERSION_QUERY_FAILED, log_error(ERROR_MORE_DATA), LOG_THREE_COMPLETED,
                         LOG_NOT_INSTALLED, printed=CONSOLE_NOT_INSTALLED)),
    Scenario(
        name="discovery_version_127_chars",
        description="a 127-character \"Version\" still fits; it is read and is not 14.0 (logged, not printed)",
        registry=with_version("14.0." + "9" * 122),
        expect=not_ready(LOG_MODE_1, LOG_VERSION_COMPLETED, LOG_THREE_COMPLETED, LOG_NOT_INSTALLED)),
    Scenario(
        name="discovery_version_trailing_blank",
        description="\"14.0 \" is stored as read and fails the exact comparison: logged, not printed",
        registry=with_version("14.0 "),
        expect=not_ready(LOG_MODE_1, LOG_VERSION_COMPLETED, LOG_THREE_COMPLETED, LOG_NOT_INSTALLED)),

    # --- The uninstall entry ---
    Scenario(
        name="discovery_display_icon_missing",
        description="uninstall key without \"DisplayIcon\": screen cleared, level-two line, WARNING: 101",
        registry={inst.PRODUCT_KEY_WOW: inst.product_values(), inst.UNINSTALL_KEY_WOW: DECOY_UNINSTALL,
                  inst.UNINSTALL_KEY_PLAIN: inst.uninstall_values()},
        expect=not_ready(LOG_MODE_1, LOG_VERSION_COMPLETED, LOG_THREE_COMPLETED, LOG_TWO_QUERY_FAILED,
                         log_error(ERROR_FILE_NOT_FOUND), LOG_WARNING_101, printed=CONSOLE_LEVEL_TWO_EMPTY)),
]
