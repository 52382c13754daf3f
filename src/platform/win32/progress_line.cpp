#include "platform/progress_line.h"

#include <windows.h>

#include <string>

namespace platform {

bool ProgressLineWanted() {
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error == nullptr || error == INVALID_HANDLE_VALUE || !::GetConsoleMode(error, &mode)) return false;
  return ::GetEnvironmentVariableW(L"CI", nullptr, 0) == 0;
}

void WriteProgressLine(const std::wstring& text) {
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
  const std::wstring line = L"\r" + text;
  DWORD written = 0;
  // A line that can't be shown is no reason to stop the report.
  (void)::WriteConsoleW(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace platform
