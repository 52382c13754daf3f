#include "log/run_log.h"

#include "app/patch_execute.h"

void CPatchExecute::AppendLog(const std::wstring& message) { (void)message; }

std::wstring FormatLogDate(const std::optional<platform::LocalTime>& time) { (void)time; return {}; }

std::wstring BuildRunLogText(const std::wstring& text, const std::wstring& dateText) {
  (void)dateText;
  return text;
}

std::vector<std::uint8_t> ToLogBytes(const std::wstring& text) { (void)text; return {}; }

void WriteRunLog(const std::wstring& text) { (void)text; }
