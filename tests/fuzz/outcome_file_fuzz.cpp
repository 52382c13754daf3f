// Feeds arbitrary bytes to the outcome-file reader, which reads files anyone could have written into a
// collection: it must answer, never crash, and what it reads must write back to a line that reads the
// same. The same bytes go to the kept-run name parser and the pending-rename parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "companion/pending_restart.h"
#include "platform/utf8.h"
#include "result/kept_runs.h"
#include "result/outcome_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto record = result::ParseOutcomeRecord(text)) {
    const auto again = result::ParseOutcomeRecord(result::FormatOutcomeRecord(*record));
    if (again != record) std::abort();
  }

  const std::wstring name = platform::FromUtf8(text);
  if (const auto kept = result::ParseKeptName(name)) {
    if (kept->stamp.sequence < 1) std::abort();
  }

  for (const auto& rename : ParsePendingRenames(std::span<const std::uint8_t>(data, size))) {
    if (rename.source.empty()) std::abort();
  }
  return 0;
}
