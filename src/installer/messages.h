// Console lines and log entries of the install attempt. Shared by the utility and by the programs
// that read its log and console back.
#pragma once

namespace messages::installer {

inline constexpr wchar_t kInProgressConsole[] =
    L"Patch update status: Installation in-progress.\nPlease wait to complete...\n";
// A Windows folder never holds a double quote; one in the registry value could only close the quoted
// INSTALLPATH early and smuggle further arguments onto the elevated installer's command line.
inline constexpr wchar_t kQuoteInInstallPath[] =
    L"Execute patch process silent error: The install path contains a double quote and was not passed to the "
    L"installer.";

// Launch errors.
inline constexpr wchar_t kLaunchFileNotFound[] =
    L"Execute patch process silent error: The specified file was not found.";
inline constexpr wchar_t kLaunchPathNotFound[] =
    L"Execute patch process silent error: The specified path was not found.";
inline constexpr wchar_t kLaunchDdeFail[] =
    L"Execute patch process silent error: The Dynamic Data Exchange (DDE) transaction failed.";
inline constexpr wchar_t kLaunchNoAssociation[] =
    L"Execute patch process silent error: There is no application associated with the specified file name "
    L"extension.";
inline constexpr wchar_t kLaunchAccessDenied[] =
    L"Execute patch process silent error: Access to the specified file is denied.";
inline constexpr wchar_t kLaunchDllNotFound[] =
    L"Execute patch process silent error: One of the library files necessary to run the application can't be "
    L"found.";
inline constexpr wchar_t kLaunchCancelled[] =
    L"Execute patch process silent error: The function prompted the user for additional information, but the user "
    L"canceled the request.";
inline constexpr wchar_t kLaunchNotEnoughMemory[] =
    L"Execute patch process silent error: There is not enough memory to perform the specified action.";
inline constexpr wchar_t kLaunchSharingViolation[] =
    L"Execute patch process silent error: A sharing violation occurred.";
inline constexpr wchar_t kLaunchOtherError[] = L"Execute patch process silent: error code ";

// Verification outcomes: log entry and console line of each.
inline constexpr wchar_t kCancelledEntry[] =
    L"Execute patch process silent : Not completed successfully (might be cancelled during updates). Please try "
    L"again. ";
inline constexpr wchar_t kMismatchEntry[] =
    L"Execute patch process silent : Not completed successfully due to version information mismatch. ";
inline constexpr wchar_t kCompletedEntry[] = L"Execute patch process silent: Completed successfully.";
inline constexpr wchar_t kRecordFailedEntry[] = L"Execute patch process silent: Not completed successfully.";
inline constexpr wchar_t kUpdateFailedConsole[] =
    L"Patch update status: Update failed, please check the log for complete details.\n";
inline constexpr wchar_t kMismatchConsole[] =
    L"Patch update status: Update failed due to version mismatch, please check the log for complete details.\n";
inline constexpr wchar_t kCompletedConsole[] = L"Patch update status: Completed successfully.\n";

}  // namespace messages::installer
