#include "result/outcome_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/utf8.h"
#include "result/flat_json.h"

namespace result {
namespace {

std::optional<std::uint32_t> ReadCode(std::string_view digits) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::string FormatOutcomeRecord(const OutcomeRecord& record) {
  std::string out = "{";
  auto member = [&out](const char* key, std::wstring_view value) {
    if (out.size() > 1) out += ", ";
    out += '"';
    out += key;
    out += "\": ";
    AppendJsonString(out, value);
  };
  member("machine", record.machine);
  member("time", record.time);
  member("outcome", OutcomeName(record.outcome));
  out += ", \"code\": " + std::to_string(record.code);
  member("reason", record.reason);
  member("patch", record.patch);
  member("patch_version", record.patchVersion);
  member("version_before", record.versionBefore);
  member("version_after", record.versionAfter);
  out += "}";
  return out;
}

std::optional<OutcomeRecord> ParseOutcomeRecord(std::string_view text) {
  // A UTF-8 byte-order mark, as an editor may add one.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  OutcomeRecord record;
  std::optional<Outcome> outcome;
  std::optional<std::uint32_t> code;
  // A member given twice counts by its last value, as JSON readers commonly take it.
  const bool read = ReadFlatObject(text, [&](std::string_view key, std::string_view value, bool isString) {
    std::wstring* field = key == "machine"          ? &record.machine
                          : key == "time"           ? &record.time
                          : key == "reason"         ? &record.reason
                          : key == "patch"          ? &record.patch
                          : key == "patch_version"  ? &record.patchVersion
                          : key == "version_before" ? &record.versionBefore
                          : key == "version_after"  ? &record.versionAfter
                                                    : nullptr;
    if (field != nullptr) {
      *field = isString ? platform::FromUtf8(value) : std::wstring(value.begin(), value.end());
    } else if (key == "outcome") {
      outcome = OutcomeFromName(isString ? platform::FromUtf8(value) : std::wstring());
    } else if (key == "code") {
      code = ReadCode(value);
    }
  });
  if (!read || !outcome) return std::nullopt;
  record.outcome = *outcome;
  record.code = code.value_or(ExitCodeOf(*outcome));
  return record;
}

}  // namespace result
