#include "result/outcome.h"

#include <algorithm>
#include <iterator>

namespace result {

namespace {

// Each outcome's name and exit code, in the order the outcomes are declared.
struct Named {
  std::wstring_view name;
  std::uint32_t code;
};
constexpr Named kNamed[] = {
    {L"applied", kExitSuccess},
    {L"already-applied", kExitSuccess},
    {L"later-version", kExitSuccess},
    {L"restart-pending", kExitRestartRequired},
    {L"blocked", kExitAnotherRunning},
    {L"run-in-progress", kExitAnotherRunning},
    {L"install-failed", kExitFatalError},
    {L"stale-record", kExitFatalError},
    {L"product-incomplete", kExitFatalError},
    {L"broken-package", kExitPackageInvalid},
    {L"not-applicable", kExitPatchTargetNotFound},
    {L"no-log", kExitLogFailure},
    {L"unreadable", kExitLogFailure},
    {L"missing", kExitLogFailure},  // no run ends so; the report shows no code for it
};
static_assert(std::size(kNamed) == std::size(kAllOutcomes));

const Named& NamedOf(Outcome outcome) {
  const auto index = static_cast<std::size_t>(outcome);
  return index < std::size(kNamed) ? kNamed[index] : kNamed[static_cast<std::size_t>(Outcome::kUnreadable)];
}

}  // namespace

std::wstring_view OutcomeName(Outcome outcome) { return NamedOf(outcome).name; }

std::optional<Outcome> OutcomeFromName(std::wstring_view name) {
  const auto found = std::find_if(std::begin(kAllOutcomes), std::end(kAllOutcomes),
                                  [name](Outcome outcome) { return OutcomeName(outcome) == name; });
  // No file can say that its machine never ran.
  if (found == std::end(kAllOutcomes) || *found == Outcome::kMissing) return std::nullopt;
  return *found;
}

std::uint32_t ExitCodeOf(Outcome outcome) { return NamedOf(outcome).code; }

}  // namespace result
