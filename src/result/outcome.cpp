#include "result/outcome.h"

#include <algorithm>
#include <iterator>

namespace result {

std::wstring_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kApplied: return L"applied";
    case Outcome::kAlreadyApplied: return L"already-applied";
    case Outcome::kLaterVersion: return L"later-version";
    case Outcome::kRestartPending: return L"restart-pending";
    case Outcome::kBlocked: return L"blocked";
    case Outcome::kRunInProgress: return L"run-in-progress";
    case Outcome::kInstallFailed: return L"install-failed";
    case Outcome::kStaleRecord: return L"stale-record";
    case Outcome::kProductIncomplete: return L"product-incomplete";
    case Outcome::kBrokenPackage: return L"broken-package";
    case Outcome::kNotApplicable: return L"not-applicable";
    case Outcome::kNoLog: return L"no-log";
    case Outcome::kUnreadable: return L"unreadable";
    case Outcome::kMissing: return L"missing";
  }
  return L"unreadable";
}

std::optional<Outcome> OutcomeFromName(std::wstring_view name) {
  const auto found = std::find_if(std::begin(kAllOutcomes), std::end(kAllOutcomes),
                                  [name](Outcome outcome) { return OutcomeName(outcome) == name; });
  // No file can say that its machine never ran.
  if (found == std::end(kAllOutcomes) || *found == Outcome::kMissing) return std::nullopt;
  return *found;
}

std::uint32_t ExitCodeOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kApplied:
    case Outcome::kAlreadyApplied:
    case Outcome::kLaterVersion: return kExitSuccess;
    case Outcome::kRestartPending: return kExitRestartRequired;
    case Outcome::kBlocked:
    case Outcome::kRunInProgress: return kExitAnotherRunning;
    case Outcome::kInstallFailed:
    case Outcome::kStaleRecord:
    case Outcome::kProductIncomplete: return kExitFatalError;
    case Outcome::kBrokenPackage: return kExitPackageInvalid;
    case Outcome::kNotApplicable: return kExitPatchTargetNotFound;
    case Outcome::kNoLog:
    case Outcome::kUnreadable:
    case Outcome::kMissing: return kExitLogFailure;  // no run ends so; the report shows no code for it
  }
  return kExitLogFailure;
}

}  // namespace result
