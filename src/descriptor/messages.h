// Log entries of the descriptor read and of the whole-file reader. Shared by the utility and by the
// programs that read its log back.
#pragma once

namespace messages::descriptor {

inline constexpr wchar_t kDescriptorMissing[] = L"Patch update read process: key file not found.Exit code 6.";
inline constexpr wchar_t kKeyMissing[] = L"Patch update read process: key values not found.Exit code 1.";
inline constexpr wchar_t kNoExe[] = L"Patch updates read process: key values not found.Exit code 2.";
inline constexpr wchar_t kSliceEmpty[] = L"Patch update read process: key values not found.Exit code 3.";
inline constexpr wchar_t kValueEmpty[] = L"Patch update read process: key values not found.Exit code 4.";
inline constexpr wchar_t kInstallerMissing[] = L"Patch update read process: key file not found.Exit code 5.";
inline constexpr wchar_t kKeysFound[] = L"Patch update read process: key values found.";

inline constexpr wchar_t kRecordReadCompleted[] = L"Read local installer update file completed.";
inline constexpr wchar_t kRecordReadFailed[] = L"Read local installer update file failed.";
inline constexpr wchar_t kDescriptorReadCompleted[] = L"Read patch update installer file completed.";
inline constexpr wchar_t kDescriptorReadFailed[] = L"Read patch update installer  file failed.";

}  // namespace messages::descriptor
