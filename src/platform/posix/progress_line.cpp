#include "platform/progress_line.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace platform {

bool ProgressLineWanted() {
  // Read once, before anything could set the environment: the report starts no thread that does.
  return ::isatty(STDERR_FILENO) == 1 && std::getenv("CI") == nullptr;  // NOLINT(concurrency-mt-unsafe)
}

void WriteProgressLine(const std::wstring& text) {
  // The line is the report's own words and numbers: ASCII.
  std::string line = "\r";
  for (const wchar_t c : text) line += c >= L' ' && c < 0x7F ? static_cast<char>(c) : '?';
  // A line that can't be shown is no reason to stop the report.
  (void)!::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace platform
