#include "log/run_log.h"

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "log/messages.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/path_text.h"

namespace {

using namespace messages::log;
using log_format::TwoDigits;

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

// Header, text and footer as one string, line ends still "\n".
std::wstring BuildRunLogText(const std::wstring& text, const std::wstring& dateText) {
  const std::wstring rule(kRuleLength, L'=');
  std::wstring whole;
  for (const std::wstring_view part : std::initializer_list<std::wstring_view>{
           rule, L"\n\n", kVersionLabel, kUtilityVersion, L"\n\n", kDateLabel, dateText, L"\n\n", rule, L"\n\n", text,
           kFooterOpening, kFooterName, kUtilityVersion, kFooterEnd, kFooterClosing}) {
    whole += part;
  }
  return whole;
}

// The bytes on disk: every "\n" as CR LF, one byte per character through the ANSI code page, no BOM.
std::vector<std::uint8_t> ToLogBytes(const std::wstring& text) {
  std::wstring translated;
  translated.reserve(text.size() + text.size() / 8);
  for (const wchar_t c : text) {
    if (c == L'\n') translated += L'\r';
    translated += c;
  }
  return platform::WideToAnsi(translated);
}

}  // namespace

void AppendLogEntry(std::wstring& log, std::wstring_view message) {
  log += message;
  log += L"\n\n";
}

std::wstring FormatLogDate(const std::optional<platform::LocalTime>& time) {
  if (!time) return {};
  const auto& t = *time;
  // Fields no clock can produce are treated like a time that couldn't be converted.
  if (!InRange(t.weekday, 0, 6) || !InRange(t.month, 1, 12) || !InRange(t.day, 1, 31) || !InRange(t.hour, 0, 23) ||
      !InRange(t.minute, 0, 59)) {
    return {};
  }
  std::wstring text = std::wstring(log_format::kWeekdayNames[t.weekday]) + L' ' + TwoDigits(t.hour) + L':' +
                      TwoDigits(t.minute) + L", " + std::wstring(log_format::kMonthNames[t.month - 1]) + L' ' +
                      TwoDigits(t.day) + L", " + std::to_wstring(t.year);
  return text.size() > kMaxDateChars ? std::wstring() : text;
}

void WriteRunLog(const std::wstring& text) {
  // The log is the run's last word; failing to write it must not change how the run ends.
  try {
    const std::wstring path = FolderOf(platform::GetModulePath()) + L"\\" + kRunLogFileName;
    const auto bytes = ToLogBytes(BuildRunLogText(text, FormatLogDate(platform::CurrentLocalTime())));
    (void)platform::WriteFileExclusive(path, bytes);
  } catch (const std::exception&) {
    // Absorbed like any other file error: nothing printed, nothing retried.
  }
}
