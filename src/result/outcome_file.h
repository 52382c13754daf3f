// The one-line outcome file the companion keeps beside each saved log: a flat JSON object in UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "result/outcome.h"

namespace result {

struct OutcomeRecord {
  std::wstring machine;
  std::wstring time;  // local time of the run's start, "YYYY-MM-DDTHH:MM:SS"
  Outcome outcome = Outcome::kUnreadable;
  std::uint32_t code = 0;
  std::wstring reason;
  std::wstring patch;          // PatchInfo of the package's descriptor; empty when it had none
  std::wstring patchVersion;   // PatchVersion of the descriptor
  std::wstring versionBefore;  // Vdt.exe's file version before the run; empty when not found
  std::wstring versionAfter;   // and after it

  bool operator==(const OutcomeRecord&) const = default;
};

// One JSON object on one line, keys in a fixed order, UTF-8, no line end.
std::string FormatOutcomeRecord(const OutcomeRecord& record);

// The record of a line as FormatOutcomeRecord writes it (unknown keys ignored); nullopt for anything
// that isn't one flat JSON object with a known "outcome".
std::optional<OutcomeRecord> ParseOutcomeRecord(std::string_view text);

}  // namespace result
