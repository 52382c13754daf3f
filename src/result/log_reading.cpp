// Which entry decides: the install attempt's result, else the decision, else validation, else the
// descriptor read. The descriptor is read even after a failed validation, so a machine without the
// product reports "not applicable" whatever the package looks like.
#include "result/log_reading.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/messages.h"
#include "applicability/messages.h"
#include "descriptor/messages.h"
#include "guard/messages.h"
#include "installer/messages.h"
#include "log/messages.h"

namespace result {
namespace {

namespace app = messages::app;
namespace applicability = messages::applicability;
namespace descriptor = messages::descriptor;
namespace installer = messages::installer;
namespace log = messages::log;

constexpr wchar_t kEmpty[] = L"empty file";
constexpr wchar_t kUtf16[] = L"UTF-16 text, not the utility's single-byte log (re-encoded by a copy or collection tool?)";
constexpr wchar_t kBinary[] = L"binary data, not a text log";
constexpr wchar_t kNoHeader[] = L"not a PatchUpdate log: no header";
constexpr wchar_t kHeaderDamaged[] = L"log header damaged";
constexpr wchar_t kNoFooter[] = L"log cut short: no footer";
constexpr wchar_t kEntriesDamaged[] = L"log entries damaged: the last one has no blank line";
constexpr wchar_t kNoEntries[] = L"log holds no entries";
constexpr wchar_t kNoResult[] = L"the run decided to install but the log names no result";
constexpr wchar_t kNoDecision[] = L"the log names no outcome";
constexpr wchar_t kNothingOnConsole[] = L"no log from this run, and the console names no outcome";
constexpr wchar_t kLaunchFailedQuietly[] = L"the installer was not started (no result after \"Installation in-progress\")";

// Lower rank decides: the install result, then the decision, then validation, then the descriptor.
struct Rule {
  const wchar_t* text;
  Outcome outcome;
  int rank;
};

constexpr Rule kLogRules[] = {
    {installer::kCompletedEntry, Outcome::kApplied, 0},
    {installer::kCancelledEntry, Outcome::kInstallFailed, 0},
    {installer::kMismatchEntry, Outcome::kInstallFailed, 0},
    {installer::kRecordFailedEntry, Outcome::kInstallFailed, 0},
    {installer::kQuoteInInstallPath, Outcome::kInstallFailed, 0},
    {installer::kLaunchFileNotFound, Outcome::kInstallFailed, 0},
    {installer::kLaunchPathNotFound, Outcome::kInstallFailed, 0},
    {installer::kLaunchDdeFail, Outcome::kInstallFailed, 0},
    {installer::kLaunchNoAssociation, Outcome::kInstallFailed, 0},
    {installer::kLaunchAccessDenied, Outcome::kInstallFailed, 0},
    {installer::kLaunchDllNotFound, Outcome::kInstallFailed, 0},
    {installer::kLaunchCancelled, Outcome::kInstallFailed, 0},
    {installer::kLaunchNotEnoughMemory, Outcome::kInstallFailed, 0},
    {installer::kLaunchSharingViolation, Outcome::kInstallFailed, 0},
    {applicability::kAlreadyAppliedEntry, Outcome::kAlreadyApplied, 1},
    {applicability::kAlreadyAppliedStatusEntry, Outcome::kAlreadyApplied, 1},
    {applicability::kNotApplicableEntry, Outcome::kNotApplicable, 1},
    // Decided to install: only a result entry after it settles the run.
    {applicability::kFoundExitCode1, Outcome::kUnreadable, 1},
    {applicability::kFoundExitCode2, Outcome::kUnreadable, 1},
    {app::kNotInstalled, Outcome::kNotApplicable, 2},
    {app::kLevelTwoWarning, Outcome::kProductIncomplete, 2},
    {descriptor::kDescriptorReadFailed, Outcome::kBrokenPackage, 3},
    {descriptor::kDescriptorMissing, Outcome::kBrokenPackage, 3},
    {descriptor::kKeyMissing, Outcome::kBrokenPackage, 3},
    {descriptor::kNoExe, Outcome::kBrokenPackage, 3},
    {descriptor::kSliceEmpty, Outcome::kBrokenPackage, 3},
    {descriptor::kValueEmpty, Outcome::kBrokenPackage, 3},
    {descriptor::kInstallerMissing, Outcome::kBrokenPackage, 3},
};

// Console lines, in the order they decide; the in-progress lines only when nothing later came.
constexpr Rule kConsoleRules[] = {
    {messages::guard::kBlockedMessage, Outcome::kBlocked, 0},
    {installer::kCompletedConsole, Outcome::kApplied, 0},
    {installer::kUpdateFailedConsole, Outcome::kInstallFailed, 0},
    {installer::kMismatchConsole, Outcome::kInstallFailed, 0},
    {applicability::kAlreadyAppliedConsole, Outcome::kAlreadyApplied, 1},
    {applicability::kNotApplicableConsole, Outcome::kNotApplicable, 1},
    {app::kLevelTwoFailed, Outcome::kProductIncomplete, 2},
    {app::kNoModuleHandle, Outcome::kNoLog, 4},
    {app::kInitializationFailed, Outcome::kNoLog, 4},
    {app::kOutOfMemory, Outcome::kNoLog, 4},
    {app::kInternalFailure, Outcome::kNoLog, 4},
};

Reading Unreadable(std::wstring reason, std::wstring date = {}) {
  return Reading{Outcome::kUnreadable, std::move(reason), std::move(date)};
}

// "Execute patch process silent: error code " and the code's digits.
bool IsOtherLaunchError(std::wstring_view entry) {
  const std::wstring_view prefix(installer::kLaunchOtherError);
  if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix) return false;
  const auto digits = entry.substr(prefix.size());
  return std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// Bytes widened one to one: every constant is ASCII, so comparisons are exact whatever the code page.
// CR LF and a bare LF both end a line, so a copy whose line ends were converted still reads.
std::wstring WidenLines(std::span<const std::uint8_t> bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(static_cast<wchar_t>(bytes[i]));
  }
  return text;
}

bool LooksLikeUtf16(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    return true;
  }
  // ASCII text in UTF-16 has a zero byte in every other place.
  std::size_t zeros = 0;
  for (std::size_t i = 1; i < bytes.size(); i += 2) zeros += bytes[i] == 0 || bytes[i - 1] == 0;
  return bytes.size() >= 2 && zeros * 4 >= bytes.size();
}

// Consumes `part` at the front of `text`.
bool Take(std::wstring_view& text, std::wstring_view part) {
  if (text.substr(0, part.size()) != part) return false;
  text.remove_prefix(part.size());
  return true;
}

// Consumes a label, the value after it and the blank line; the value must hold no line end.
std::optional<std::wstring_view> TakeLine(std::wstring_view& text, std::wstring_view label) {
  if (!Take(text, label)) return std::nullopt;
  const auto end = text.find(L"\n\n");
  if (end == std::wstring_view::npos) return std::nullopt;
  const auto value = text.substr(0, end);
  if (value.find(L'\n') != std::wstring_view::npos) return std::nullopt;
  text.remove_prefix(end + 2);
  return value;
}

std::vector<std::wstring_view> SplitEntries(std::wstring_view body) {
  std::vector<std::wstring_view> entries;
  while (!body.empty()) {
    const auto end = body.find(L"\n\n");
    entries.push_back(body.substr(0, end));
    body.remove_prefix(end + 2);
  }
  return entries;
}

// The best-ranked rule that `matches` accepts, the first piece winning within a rank.
template <typename Matches>
std::optional<Reading> Decide(std::span<const std::wstring_view> pieces, std::span<const Rule> rules,
                              Matches matches) {
  std::optional<Reading> best;
  int bestRank = 0;
  for (const auto piece : pieces) {
    for (const Rule& rule : rules) {
      if ((!best || rule.rank < bestRank) && matches(piece, rule.text)) {
        best = Reading{rule.outcome, std::wstring(piece), {}};
        bestRank = rule.rank;
      }
    }
  }
  return best;
}

Reading DecideEntries(const std::vector<std::wstring_view>& entries) {
  // An unlisted launch error code is a result like any listed one.
  if (const auto other = std::find_if(entries.begin(), entries.end(), IsOtherLaunchError); other != entries.end()) {
    return Reading{Outcome::kInstallFailed, std::wstring(*other), {}};
  }
  auto reading =
      Decide(entries, kLogRules, [](std::wstring_view entry, const wchar_t* text) { return entry == text; });
  if (!reading) return Unreadable(kNoDecision);
  if (reading->outcome == Outcome::kUnreadable) reading->reason = kNoResult;
  return *reading;
}

}  // namespace

Reading ReadRunLog(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return Unreadable(kEmpty);
  if (LooksLikeUtf16(bytes)) return Unreadable(kUtf16);
  if (std::find(bytes.begin(), bytes.end(), std::uint8_t{0}) != bytes.end()) return Unreadable(kBinary);

  const std::wstring whole = WidenLines(bytes);
  std::wstring_view text(whole);
  const std::wstring rule(log::kRuleLength, L'=');
  if (!Take(text, rule) || !Take(text, L"\n\n") || text.substr(0, std::size(log::kVersionLabel) - 1) !=
                                                       std::wstring_view(log::kVersionLabel)) {
    return Unreadable(kNoHeader);
  }
  const auto version = TakeLine(text, log::kVersionLabel);
  const auto date = version ? TakeLine(text, log::kDateLabel) : std::nullopt;
  if (!date || !Take(text, rule) || !Take(text, L"\n\n")) return Unreadable(kHeaderDamaged);
  const std::wstring dateText(*date);

  const std::wstring footer = std::wstring(log::kFooterOpening) + log::kFooterName + std::wstring(*version) +
                              log::kFooterEnd + log::kFooterClosing;
  if (text.size() < footer.size() || text.substr(text.size() - footer.size()) != footer) {
    return Unreadable(kNoFooter, dateText);
  }
  const std::wstring_view body = text.substr(0, text.size() - footer.size());

  // A blocked run's log is the guard's message alone, with its single line feed.
  if (body == messages::guard::kBlockedMessage) {
    return Reading{Outcome::kBlocked, std::wstring(body.substr(0, body.size() - 1)), dateText};
  }
  if (body.empty()) return Unreadable(kNoEntries, dateText);
  if (body.size() < 2 || body.substr(body.size() - 2) != L"\n\n") return Unreadable(kEntriesDamaged, dateText);

  Reading reading = DecideEntries(SplitEntries(body));
  reading.logDate = dateText;
  return reading;
}

Reading ReadConsole(std::wstring_view console) {
  std::wstring text;
  text.reserve(console.size());
  for (std::size_t i = 0; i < console.size(); ++i) {
    if (console[i] == L'\r' && i + 1 < console.size() && console[i + 1] == L'\n') continue;
    text.push_back(console[i]);
  }
  // Each line that names an outcome stands for itself; the reason is the line without its line feed.
  std::vector<std::wstring_view> lines;
  for (const Rule& rule : kConsoleRules) {
    if (text.find(rule.text) != std::wstring::npos) lines.emplace_back(rule.text);
  }
  auto reading = Decide(lines, kConsoleRules, [](std::wstring_view line, const wchar_t* wanted) { return line == wanted; });
  if (!reading && text.find(std::wstring(app::kNotInstalled) + L"\n") != std::wstring::npos) {
    reading = Reading{Outcome::kNotApplicable, app::kNotInstalled, {}};
  }
  if (!reading && text.find(installer::kInProgressConsole) != std::wstring::npos) {
    // After the in-progress lines only a launch that failed prints nothing more.
    reading = Reading{Outcome::kInstallFailed, kLaunchFailedQuietly, {}};
  }
  if (!reading) return Reading{Outcome::kNoLog, kNothingOnConsole, {}};
  while (!reading->reason.empty() && reading->reason.back() == L'\n') reading->reason.pop_back();
  return *reading;
}

}  // namespace result
