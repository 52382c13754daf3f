// What a run log is called and how its date reads: the writer and every program that finds or reads
// logs back take these from here, so a log is named and dated one way.
#pragma once

#include <iterator>
#include <string>
#include <string_view>

namespace log_format {

// The log beside the utility; copies kept or collected elsewhere carry the same stem.
inline constexpr wchar_t kRunLogFileName[] = L"Log_VDT_14_PatchUpdate.txt";
inline constexpr std::wstring_view kRunLogExtension = L".txt";
inline constexpr std::wstring_view kRunLogStem{kRunLogFileName,
                                               std::size(kRunLogFileName) - 1 - kRunLogExtension.size()};
// A kept copy is "<stem>.<stamp>.txt": the stem and the extension's dot begin it.
inline constexpr std::wstring_view kKeptRunLogPrefix{kRunLogFileName, kRunLogStem.size() + 1};

// The header's date, "%A %H:%M, %B %d, %Y", with English names whatever the C locale says: the log
// reads the same on every machine.
inline constexpr std::wstring_view kWeekdayNames[] = {L"Sunday",   L"Monday", L"Tuesday", L"Wednesday",
                                                      L"Thursday", L"Friday", L"Saturday"};
inline constexpr std::wstring_view kMonthNames[] = {L"January",   L"February", L"March",    L"April",
                                                    L"May",       L"June",     L"July",     L"August",
                                                    L"September", L"October",  L"November", L"December"};

// At least two digits, zero-padded: hours, minutes, days and months in every stamp.
inline std::wstring TwoDigits(int value) {
  std::wstring text = std::to_wstring(value);
  if (text.size() < 2) text.insert(0, 2 - text.size(), L'0');
  return text;
}

}  // namespace log_format
