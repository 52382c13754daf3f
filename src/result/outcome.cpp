#include "result/outcome.h"

namespace result {

std::wstring_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kApplied: return L"applied";
    case Outcome::kAlreadyApplied: return L"already-applied";
    case Outcome::kBlocked: return L"blocked";
    case Outcome::kInstallFailed: return L"install-failed";
    case Outcome::kProductIncomplete: return L"product-incomplete";
    case Outcome::kBrokenPackage: return L"broken-package";
    case Outcome::kNotApplicable: return L"not-applicable";
    case Outcome::kNoLog: return L"no-log";
    case Outcome::kUnreadable: return L"unreadable";
  }
  return L"unreadable";
}

std::optional<Outcome> OutcomeFromName(std::wstring_view name) {
  for (const Outcome outcome : kAllOutcomes) {
    if (OutcomeName(outcome) == name) return outcome;
  }
  return std::nullopt;
}

std::uint32_t ExitCodeOf(Outcome outcome) {
  switch (outcome) {
    case Outcome::kApplied:
    case Outcome::kAlreadyApplied: return kExitSuccess;
    case Outcome::kBlocked: return kExitAnotherRunning;
    case Outcome::kInstallFailed:
    case Outcome::kProductIncomplete: return kExitFatalError;
    case Outcome::kBrokenPackage: return kExitPackageInvalid;
    case Outcome::kNotApplicable: return kExitPatchTargetNotFound;
    case Outcome::kNoLog:
    case Outcome::kUnreadable: return kExitLogFailure;
  }
  return kExitLogFailure;
}

}  // namespace result
