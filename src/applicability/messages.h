// Log entries and console lines of the applicability decision. Shared by the utility and by the
// programs that read its log and console back.
#pragma once

namespace messages::applicability {

// Executable already carries PatchVersion.
inline constexpr wchar_t kNotFoundExitCode3[] = L"Update details not found: Exit code 3.";
inline constexpr wchar_t kAlreadyAppliedEntry[] = L"This patch update has been already applied.";
// Executable version not among PreviousVersions.
inline constexpr wchar_t kNotApplicableEntry[] =
    L"This patch is not applicable or not required for the installed veldorant application.";
inline constexpr wchar_t kNotApplicableConsole[] =
    L"Patch update status: This patch is not applicable or not required for the installed veldorant application.\n";
// Record present.
inline constexpr wchar_t kRecordExists[] = L"Installer update file exists in local.";
inline constexpr wchar_t kNotFoundExitCode1[] = L"Update details not found.Exit code 1.";
inline constexpr wchar_t kFoundExitCode1[] = L"Update details found: Exit code 1.";
// Record absent.
inline constexpr wchar_t kFoundExitCode2[] = L"Update details found: Exit code 2.";
inline constexpr wchar_t kNotFoundExitCode2[] = L"Update details not found: Exit code 2.";
// Logged after exit codes 1 and 2 when nothing is to be done; the console line is the same text.
inline constexpr wchar_t kAlreadyAppliedStatusEntry[] =
    L"Patch update status: This patch update has been already applied.";
inline constexpr wchar_t kAlreadyAppliedConsole[] =
    L"Patch update status: This patch update has been already applied.\n";

// The last console line of every run that got as far as the decision, installing or not.
inline constexpr wchar_t kWaitToClose[] = L"Please wait to close the application...\n";

}  // namespace messages::applicability
