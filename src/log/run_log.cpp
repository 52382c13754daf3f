#include "log/run_log.h"

#include <exception>
#include <string_view>

#include "log/messages.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/path_text.h"

namespace {

using namespace messages::log;
using log_format::TwoDigits;

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

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
  std::wstring text(log_format::kWeekdayNames[t.weekday]);
  text += L' ';
  text += TwoDigits(t.hour);
  text += L':';
  text += TwoDigits(t.minute);
  text += L", ";
  text += log_format::kMonthNames[t.month - 1];
  text += L' ';
  text += TwoDigits(t.day);
  text += L", ";
  text += std::to_wstring(t.year);
  return text.size() > kMaxDateChars ? std::wstring() : text;
}

std::wstring BuildRunLogText(const std::wstring& text, const std::wstring& dateText) {
  const std::wstring rule(kRuleLength, L'=');
  std::wstring whole;
  whole += rule;
  whole += L"\n\n";
  whole += kVersionLabel;
  whole += kUtilityVersion;
  whole += L"\n\n";
  whole += kDateLabel;
  whole += dateText;
  whole += L"\n\n";
  whole += rule;
  whole += L"\n\n";
  whole += text;
  whole += kFooterOpening;
  whole += kFooterName;
  whole += kUtilityVersion;
  whole += kFooterEnd;
  whole += kFooterClosing;
  return whole;
}

std::vector<std::uint8_t> ToLogBytes(const std::wstring& text) {
  // Text-mode output: every line feed goes to disk as CR LF.
  std::wstring translated;
  translated.reserve(text.size() + text.size() / 8);
  for (const wchar_t c : text) {
    if (c == L'\n') translated += L'\r';
    translated += c;
  }
  return platform::WideToAnsi(translated);
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
