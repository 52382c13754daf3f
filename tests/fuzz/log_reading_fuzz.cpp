// Feeds arbitrary bytes to the log reader, the console reader and the outcome-file parser: each must
// answer, never crash, and an unreadable answer always says why.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "result/log_reading.h"
#include "result/outcome_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  const result::Reading log = result::ReadRunLog(bytes);
  if (log.reason.empty()) std::abort();
  // Only a file no rule decides is unreadable.
  if ((log.cause == result::Cause::kNone) != (log.outcome == result::Outcome::kUnreadable)) std::abort();
  // No header value longer than the utility writes is ever kept, however long the line.
  if (log.logDate.size() > 127) std::abort();

  std::wstring console;
  for (const std::uint8_t byte : bytes) console.push_back(static_cast<wchar_t>(byte));
  if (result::ReadConsole(console).reason.empty()) std::abort();

  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto record = result::ParseOutcomeRecord(text)) {
    // What was read writes back to a line that reads the same.
    const auto again = result::ParseOutcomeRecord(result::FormatOutcomeRecord(*record));
    if (!again || again->outcome != record->outcome || again->reason != record->reason) std::abort();
  }
  return 0;
}
