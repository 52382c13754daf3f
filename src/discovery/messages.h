// Console lines and log entries of validating the installation. Shared by the utility and by the
// programs that read its log and console back.
#pragma once

namespace messages::discovery {

inline constexpr wchar_t kValidationInProgress[] = L"Patch update status: Validation in-progress...\n";
// Log entry; printed with a line feed when no product version was found at all.
inline constexpr wchar_t kNotInstalled[] =
    L"This patch can't be applied. Veldorant 14.0 application is not installed in this machine.";
inline constexpr wchar_t kLevelTwoFailed[] =
    L"Patch update status : Validation for level two check failed.(empty value found).\n";
inline constexpr wchar_t kLevelTwoWarning[] = L"Could not check patch update availability.WARNING: 101.";

}  // namespace messages::discovery
