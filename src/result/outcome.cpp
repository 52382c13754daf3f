#include "result/outcome.h"

#include <algorithm>
#include <iterator>

namespace result {

namespace {

// Each outcome's name and exit code, in the order the outcomes are declared (checked below).
struct Named {
  Outcome outcome;
  std::wstring_view name;
  std::uint32_t code;
};
constexpr Named kNamed[] = {
    {Outcome::kApplied, L"applied", kExitSuccess},
    {Outcome::kAlreadyApplied, L"already-applied", kExitSuccess},
    {Outcome::kLaterVersion, L"later-version", kExitSuccess},
    {Outcome::kRestartPending, L"restart-pending", kExitRestartRequired},
    {Outcome::kBlocked, L"blocked", kExitAnotherRunning},
    {Outcome::kRunInProgress, L"run-in-progress", kExitAnotherRunning},
    {Outcome::kInstallFailed, L"install-failed", kExitFatalError},
    {Outcome::kStaleRecord, L"stale-record", kExitFatalError},
    {Outcome::kProductIncomplete, L"product-incomplete", kExitFatalError},
    {Outcome::kBrokenPackage, L"broken-package", kExitPackageInvalid},
    {Outcome::kNotApplicable, L"not-applicable", kExitPatchTargetNotFound},
    {Outcome::kNoLog, L"no-log", kExitLogFailure},
    {Outcome::kUnreadable, L"unreadable", kExitLogFailure},
    {Outcome::kMissing, L"missing", kExitLogFailure},  // no run ends so; the report shows no code for it
};
static_assert(std::size(kNamed) == std::size(kAllOutcomes));
constexpr bool InDeclaredOrder() {
  for (std::size_t i = 0; i < std::size(kNamed); ++i) {
    if (static_cast<std::size_t>(kNamed[i].outcome) != i) return false;
  }
  return true;
}
static_assert(InDeclaredOrder(), "kNamed lists the outcomes in their declared order");

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
