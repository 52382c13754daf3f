// Feeds arbitrary record text, PatchInfo text and revision texts to the already-applied check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "applicability/applicability.h"

namespace {

// Splits the input at zero bytes into at most four Latin-1 texts.
std::vector<std::wstring> SplitFields(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> fields(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && fields.size() < 4) {
      fields.emplace_back();
    } else {
      fields.back().push_back(static_cast<wchar_t>(data[i]));
    }
  }
  fields.resize(4);
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = SplitFields(data, size);
  const int installed = ReadLeadingInteger(fields[2]);
  const int patch = ReadLeadingInteger(fields[3]);
  const bool recorded = IsUpdateRecorded(fields[0], fields[1], installed, patch);
  // Revisions that already reach the patch always count as applied; a record never makes
  // an older installation count as newer unless it names this patch.
  if (installed >= patch && !recorded) std::abort();
  if (recorded && installed < patch && fields[0].find(fields[1]) == std::wstring::npos) std::abort();
  return 0;
}
