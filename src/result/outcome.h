// A run's outcome in the terms of a deployment system: one name and one exit code each.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace result {

enum class Outcome {
  kApplied,            // the patch was installed and verified in this run
  kAlreadyApplied,     // the installed version or the record shows the patch in place
  kLaterVersion,       // not for this machine: Vdt.exe is already above PatchVersion (a later patch)
  kRestartPending,     // the installer scheduled Vdt.exe for the next restart: a restart completes the patch
  kBlocked,            // the product or Excel was running
  kRunInProgress,      // another run of the companion was still running: nothing started
  kInstallFailed,      // the installer couldn't be started, or didn't leave the patch in place
  kStaleRecord,        // the utility judged the patch in place, but Vdt.exe is below PatchVersion
  kProductIncomplete,  // the product is there but its uninstall entry names no DisplayIcon
  kBrokenPackage,      // the descriptor or the installer beside it is missing or unusable
  kNotApplicable,      // the product isn't installed, or this patch isn't for its version
  kNoLog,              // no log from this run, and the console doesn't tell what happened
  kUnreadable,         // a file that is no complete log of the utility
  kMissing,            // the report's alone: a machine on the expected list with no run collected
};

inline constexpr Outcome kAllOutcomes[] = {
    Outcome::kApplied,           Outcome::kAlreadyApplied, Outcome::kLaterVersion,  Outcome::kRestartPending,
    Outcome::kBlocked,           Outcome::kRunInProgress,  Outcome::kInstallFailed, Outcome::kStaleRecord,
    Outcome::kProductIncomplete, Outcome::kBrokenPackage,  Outcome::kNotApplicable, Outcome::kNoLog,
    Outcome::kUnreadable,        Outcome::kMissing,
};

// Exit codes from the Windows Installer range, which every deployment system already knows.
inline constexpr std::uint32_t kExitSuccess = 0;
inline constexpr std::uint32_t kExitRestartRequired = 3010;      // ERROR_SUCCESS_REBOOT_REQUIRED: success
inline constexpr std::uint32_t kExitFatalError = 1603;           // ERROR_INSTALL_FAILURE
inline constexpr std::uint32_t kExitAnotherRunning = 1618;       // ERROR_INSTALL_ALREADY_RUNNING: retried later
inline constexpr std::uint32_t kExitPackageInvalid = 1620;       // ERROR_INSTALL_PACKAGE_INVALID
inline constexpr std::uint32_t kExitLogFailure = 1622;           // ERROR_INSTALL_LOG_FAILURE
inline constexpr std::uint32_t kExitPatchTargetNotFound = 1642;  // ERROR_PATCH_TARGET_NOT_FOUND

// The name used on the closing line, in outcome files and in the report ("applied", "no-log", ...).
std::wstring_view OutcomeName(Outcome outcome);

// The outcome of a name as OutcomeName writes it; nullopt for any other text.
std::optional<Outcome> OutcomeFromName(std::wstring_view name);

// The exit code the companion ends with for this outcome (an applied run whose other files wait for a
// restart ends with kExitRestartRequired instead).
std::uint32_t ExitCodeOf(Outcome outcome);

}  // namespace result
