// The run log's frame: the header and footer that surround the entries, and the console lines of a run
// that ends before it has a log. Shared by the writer and by the programs that read logs back.
#pragma once

#include <cstddef>

namespace messages::log {

inline constexpr wchar_t kVersionLabel[] = L"Veldorant 14.0 Patch Update Utility Version : ";
inline constexpr wchar_t kDateLabel[] = L"Veldorant 14.0 Patch Update Utility Date/Time : ";
// The longest date text the header holds: what a 128-character buffer held.
inline constexpr std::size_t kMaxDateChars = 127;
// The header's first and last line: this many "=".
inline constexpr std::size_t kRuleLength = 89;
inline constexpr wchar_t kFooterOpening[] = L"===========";
inline constexpr wchar_t kFooterName[] = L" (Veldorant 14.0 Patch Update Utility ";
inline constexpr wchar_t kFooterEnd[] = L") Patch Update : End ";
inline constexpr wchar_t kFooterClosing[] = L" =============";

}  // namespace messages::log

namespace messages::startup {

// Start-up failures: the console line is all there is, no log is written.
inline constexpr wchar_t kNoModuleHandle[] = L"Fatal Error: GetModuleHandle failed\n";
inline constexpr wchar_t kInitializationFailed[] = L"Fatal Error: MFC initialization failed\n";
inline constexpr wchar_t kOutOfMemory[] = L"Fatal Error: out of memory\n";
inline constexpr wchar_t kInternalFailure[] = L"Fatal Error: internal failure\n";

}  // namespace messages::startup
