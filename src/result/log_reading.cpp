// Which entry decides: the install attempt's result, else the decision, else validation, else the
// descriptor read. The descriptor is read even after a failed validation, so a machine without the
// product reports "not applicable" whatever the package looks like.
#include "result/log_reading.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "applicability/messages.h"
#include "descriptor/messages.h"
#include "discovery/messages.h"
#include "guard/messages.h"
#include "installer/messages.h"
#include "log/messages.h"

namespace result {
namespace {

namespace discovery = messages::discovery;
namespace startup = messages::startup;
namespace applicability = messages::applicability;
namespace descriptor = messages::descriptor;
namespace installer = messages::installer;
namespace log = messages::log;

constexpr wchar_t kEmpty[] = L"empty file";
constexpr wchar_t kUtf16[] =
    L"UTF-16 text, not the utility's single-byte log (re-encoded by a copy or collection tool?)";
constexpr wchar_t kBinary[] = L"binary data, not a text log";
constexpr wchar_t kNoHeader[] = L"not a PatchUpdate log: no header";
constexpr wchar_t kHeaderDamaged[] = L"log header damaged";
constexpr wchar_t kNoFooter[] = L"log cut short: no footer";
constexpr wchar_t kEntriesDamaged[] = L"log entries damaged: the last one has no blank line";
constexpr wchar_t kNoEntries[] = L"log holds no entries";
constexpr wchar_t kNoResult[] = L"the run decided to install but the log names no result";
constexpr wchar_t kNoDecision[] = L"the log names no outcome";
constexpr wchar_t kNothingOnConsole[] = L"no log from this run, and the console names no outcome";
constexpr wchar_t kLaunchFailedQuietly[] =
    L"the installer was not started (no result after \"Installation in-progress\")";
// The header's values are never longer than the utility writes them.
constexpr std::size_t kMaxVersionChars = 32;

// Lower rank decides: the install result, then the decision, then validation, then the descriptor.
struct Rule {
  const wchar_t* text;
  Cause cause;
  int rank;
};

// What a run decided by each cause comes to for a deployment system.
Outcome OutcomeOf(Cause cause) {
  switch (cause) {
    case Cause::kBlocked: return Outcome::kBlocked;
    case Cause::kInstallCompleted: return Outcome::kApplied;
    case Cause::kInstallNotInPlace:
    case Cause::kNotRecorded:
    case Cause::kInstallNotStarted: return Outcome::kInstallFailed;
    case Cause::kAlreadyApplied: return Outcome::kAlreadyApplied;
    case Cause::kNotForThisVersion:
    case Cause::kNotInstalled: return Outcome::kNotApplicable;
    case Cause::kNoDisplayIcon: return Outcome::kProductIncomplete;
    case Cause::kPackageRefused: return Outcome::kBrokenPackage;
    case Cause::kUtilityFailed: return Outcome::kNoLog;
    case Cause::kNone: break;
  }
  return Outcome::kUnreadable;
}

constexpr Rule kLogRules[] = {
    {installer::kCompletedEntry, Cause::kInstallCompleted, 0},
    {installer::kCancelledEntry, Cause::kInstallNotInPlace, 0},
    {installer::kMismatchEntry, Cause::kInstallNotInPlace, 0},
    {installer::kRecordFailedEntry, Cause::kNotRecorded, 0},
    {installer::kQuoteInInstallPath, Cause::kInstallNotStarted, 0},
    {installer::kLaunchFileNotFound, Cause::kInstallNotStarted, 0},
    {installer::kLaunchPathNotFound, Cause::kInstallNotStarted, 0},
    {installer::kLaunchDdeFail, Cause::kInstallNotStarted, 0},
    {installer::kLaunchNoAssociation, Cause::kInstallNotStarted, 0},
    {installer::kLaunchAccessDenied, Cause::kInstallNotStarted, 0},
    {installer::kLaunchDllNotFound, Cause::kInstallNotStarted, 0},
    {installer::kLaunchCancelled, Cause::kInstallNotStarted, 0},
    {installer::kLaunchNotEnoughMemory, Cause::kInstallNotStarted, 0},
    {installer::kLaunchSharingViolation, Cause::kInstallNotStarted, 0},
    {applicability::kAlreadyAppliedEntry, Cause::kAlreadyApplied, 1},
    {applicability::kAlreadyAppliedStatusEntry, Cause::kAlreadyApplied, 1},
    {applicability::kNotApplicableEntry, Cause::kNotForThisVersion, 1},
    // Decided to install: only a result entry after it settles the run, so without one nothing decided.
    {applicability::kFoundExitCode1, Cause::kNone, 1},
    {applicability::kFoundExitCode2, Cause::kNone, 1},
    {discovery::kNotInstalled, Cause::kNotInstalled, 2},
    {discovery::kLevelTwoWarning, Cause::kNoDisplayIcon, 2},
    {descriptor::kDescriptorReadFailed, Cause::kPackageRefused, 3},
    {descriptor::kDescriptorMissing, Cause::kPackageRefused, 3},
    {descriptor::kKeyMissing, Cause::kPackageRefused, 3},
    {descriptor::kNoExe, Cause::kPackageRefused, 3},
    {descriptor::kSliceEmpty, Cause::kPackageRefused, 3},
    {descriptor::kValueEmpty, Cause::kPackageRefused, 3},
    {descriptor::kInstallerMissing, Cause::kPackageRefused, 3},
};

// Console lines, in the order they decide; the in-progress lines only when nothing later came.
constexpr Rule kConsoleRules[] = {
    {messages::guard::kBlockedMessage, Cause::kBlocked, 0},
    {installer::kCompletedConsole, Cause::kInstallCompleted, 0},
    {installer::kUpdateFailedConsole, Cause::kInstallNotInPlace, 0},
    {installer::kMismatchConsole, Cause::kInstallNotInPlace, 0},
    {applicability::kAlreadyAppliedConsole, Cause::kAlreadyApplied, 1},
    {applicability::kNotApplicableConsole, Cause::kNotForThisVersion, 1},
    {discovery::kLevelTwoFailed, Cause::kNoDisplayIcon, 2},
    {startup::kNoModuleHandle, Cause::kUtilityFailed, 4},
    {startup::kInitializationFailed, Cause::kUtilityFailed, 4},
    {startup::kOutOfMemory, Cause::kUtilityFailed, 4},
    {startup::kInternalFailure, Cause::kUtilityFailed, 4},
};

Reading Decided(Cause cause, std::wstring reason, std::wstring date = {}) {
  return Reading{OutcomeOf(cause), cause, std::move(reason), std::move(date)};
}

Reading Unreadable(std::wstring reason, std::wstring date = {}) {
  return Decided(Cause::kNone, std::move(reason), std::move(date));
}

// Every constant is ASCII, so its narrow copy compares exactly with the log's bytes whatever the code
// page; the copies are made once, and the rules sorted by text so that each entry is one lookup.
std::string Narrow(std::wstring_view text) {
  std::string narrow(text.size(), '\0');
  std::transform(text.begin(), text.end(), narrow.begin(), [](wchar_t c) { return static_cast<char>(c); });
  return narrow;
}

std::wstring Widen(std::string_view bytes) {
  std::wstring text(bytes.size(), L'\0');
  std::transform(bytes.begin(), bytes.end(), text.begin(),
                 [](char c) { return static_cast<wchar_t>(static_cast<unsigned char>(c)); });
  return text;
}

struct NarrowRule {
  std::string text;
  const Rule* rule;  // cppcheck-suppress unusedStructMember ; read through the sorted table's iterator
};

struct LogFrame {
  std::string rule = std::string(log::kRuleLength, '=');
  std::string versionLabel = Narrow(log::kVersionLabel);
  std::string dateLabel = Narrow(log::kDateLabel);
  std::string footerOpening = Narrow(log::kFooterOpening);
  std::string footerName = Narrow(log::kFooterName);
  std::string footerTail = Narrow(std::wstring(log::kFooterEnd) + log::kFooterClosing);
  std::string blocked = Narrow(messages::guard::kBlockedMessage);
  std::string otherLaunchError = Narrow(installer::kLaunchOtherError);
  std::string judgedByRecord = Narrow(applicability::kNotFoundExitCode1);
  std::string judgedByRevision = Narrow(applicability::kNotFoundExitCode2);
  std::vector<NarrowRule> rules;

  LogFrame() {
    std::transform(std::begin(kLogRules), std::end(kLogRules), std::back_inserter(rules), [](const Rule& r) {
      return NarrowRule{Narrow(r.text), &r};
    });
    std::sort(rules.begin(), rules.end(), [](const NarrowRule& a, const NarrowRule& b) { return a.text < b.text; });
  }

  const Rule* Find(std::string_view entry) const {
    const auto it = std::lower_bound(rules.begin(), rules.end(), entry,
                                     [](const NarrowRule& r, std::string_view text) { return r.text < text; });
    return it != rules.end() && it->text == entry ? it->rule : nullptr;
  }
};

const LogFrame& Frame() {
  static const LogFrame frame;
  return frame;
}

// "Execute patch process silent: error code " and the code's digits.
bool IsOtherLaunchError(std::string_view entry) {
  const std::string_view prefix(Frame().otherLaunchError);
  if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix) return false;
  const auto digits = entry.substr(prefix.size());
  return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// CR LF and a bare LF both end a line, so a copy whose line ends were converted still reads.
template <typename Text, typename Units>
Text JoinedLines(const Units& units) {
  Text text;
  text.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (units[i] == '\r' && i + 1 < units.size() && units[i + 1] == '\n') continue;
    text.push_back(static_cast<typename Text::value_type>(units[i]));
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
bool Take(std::string_view& text, std::string_view part) {
  if (text.substr(0, part.size()) != part) return false;
  text.remove_prefix(part.size());
  return true;
}

// Consumes a label, a value of at most `limit` characters and the blank line after it; the value must
// hold no line end. A longer value is no header the utility writes, and is not looked at further.
std::optional<std::string_view> TakeLine(std::string_view& text, std::string_view label, std::size_t limit) {
  if (!Take(text, label)) return std::nullopt;
  const auto end = text.substr(0, limit + 2).find("\n\n");
  if (end == std::string_view::npos) return std::nullopt;
  const auto value = text.substr(0, end);
  if (value.find('\n') != std::string_view::npos) return std::nullopt;
  text.remove_prefix(end + 2);
  return value;
}

// Every header the utility writes fits in this many bytes of its file, line ends included.
constexpr std::size_t kHeaderBytes = 1024;

struct Header {
  const wchar_t* reason = nullptr;  // why there is no header; nullptr when there is one
  std::string_view version;
  std::string_view date;
};

// Consumes the header at the front of `text`.
Header TakeHeader(std::string_view& text) {
  const LogFrame& frame = Frame();
  if (!Take(text, frame.rule) || !Take(text, "\n\n") ||
      text.substr(0, frame.versionLabel.size()) != frame.versionLabel) {
    return {kNoHeader, {}, {}};
  }
  const auto version = TakeLine(text, frame.versionLabel, kMaxVersionChars);
  const auto date = version ? TakeLine(text, frame.dateLabel, log::kMaxDateChars) : std::nullopt;
  if (!date || !Take(text, frame.rule) || !Take(text, "\n\n")) return {kHeaderDamaged, {}, {}};
  return {nullptr, *version, *date};
}

Reading DecideEntries(std::string_view body) {
  const LogFrame& frame = Frame();
  const Rule* best = nullptr;
  std::string_view bestEntry;
  JudgedBy judgedBy = JudgedBy::kUnsaid;
  while (!body.empty()) {
    const auto end = body.find("\n\n");
    const std::string_view entry = body.substr(0, end);
    body.remove_prefix(end + 2);
    if (entry == frame.judgedByRecord) judgedBy = JudgedBy::kRecord;
    if (entry == frame.judgedByRevision && judgedBy == JudgedBy::kUnsaid) judgedBy = JudgedBy::kRevision;
    // An unlisted launch error code is a result like any listed one.
    if (IsOtherLaunchError(entry)) return Decided(Cause::kInstallNotStarted, Widen(entry));
    // The best-ranked rule decides, the first entry winning within a rank.
    const Rule* rule = frame.Find(entry);
    if (rule != nullptr && (best == nullptr || rule->rank < best->rank)) {
      best = rule;
      bestEntry = entry;
    }
  }
  if (best == nullptr) return Unreadable(kNoDecision);
  if (best->cause == Cause::kNone) return Unreadable(kNoResult);
  Reading reading = Decided(best->cause, Widen(bestEntry));
  reading.judgedBy = judgedBy;
  return reading;
}

}  // namespace

Reading ReadRunLog(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return Unreadable(kEmpty);
  if (LooksLikeUtf16(bytes)) return Unreadable(kUtf16);
  if (std::find(bytes.begin(), bytes.end(), std::uint8_t{0}) != bytes.end()) return Unreadable(kBinary);

  // A file that has no header the utility writes is turned away on its first bytes, which hold any such
  // header, before a copy of all of it is made.
  if (bytes.size() > kHeaderBytes) {
    const std::string first = JoinedLines<std::string>(bytes.first(kHeaderBytes));
    std::string_view view(first);
    if (const Header header = TakeHeader(view); header.reason != nullptr) return Unreadable(header.reason);
  }
  const std::string whole = JoinedLines<std::string>(bytes);
  std::string_view text(whole);
  const Header header = TakeHeader(text);
  if (header.reason != nullptr) return Unreadable(header.reason);
  const std::string_view* version = &header.version;
  std::wstring dateText = Widen(header.date);
  const LogFrame& frame = Frame();

  const std::size_t footerSize =
      frame.footerOpening.size() + frame.footerName.size() + version->size() + frame.footerTail.size();
  if (text.size() < footerSize) return Unreadable(kNoFooter, std::move(dateText));
  std::string_view footer = text.substr(text.size() - footerSize);
  if (!Take(footer, frame.footerOpening) || !Take(footer, frame.footerName) || !Take(footer, *version) ||
      footer != frame.footerTail) {
    return Unreadable(kNoFooter, std::move(dateText));
  }
  const std::string_view body = text.substr(0, text.size() - footerSize);

  // A blocked run's log is the guard's message alone, with its single line feed.
  if (body == frame.blocked) {
    return Decided(Cause::kBlocked, Widen(body.substr(0, body.size() - 1)), std::move(dateText));
  }
  if (body.empty()) return Unreadable(kNoEntries, std::move(dateText));
  if (body.size() < 2 || body.substr(body.size() - 2) != "\n\n")
    return Unreadable(kEntriesDamaged, std::move(dateText));

  Reading reading = DecideEntries(body);
  reading.logDate = std::move(dateText);
  return reading;
}

Reading ReadConsole(std::wstring_view console) {
  const std::wstring text = JoinedLines<std::wstring>(console);
  // Each line that names an outcome stands for itself; the reason is the line without its line feed. The
  // best-ranked line decides, the first of the table within a rank.
  const Rule* best = nullptr;
  bool installResult = false;
  for (const Rule& rule : kConsoleRules) {
    if (text.find(rule.text) == std::wstring::npos) continue;
    installResult = installResult || rule.cause == Cause::kInstallCompleted || rule.cause == Cause::kInstallNotInPlace;
    if (best == nullptr || rule.rank < best->rank) best = &rule;
  }
  const bool installerStarted = text.find(installer::kInProgressConsole) != std::wstring::npos;
  Reading reading;
  if (best != nullptr) {
    std::wstring_view line(best->text);
    while (!line.empty() && line.back() == L'\n') line.remove_suffix(1);
    reading = Decided(best->cause, std::wstring(line));
  } else if (text.find(std::wstring(discovery::kNotInstalled) + L"\n") != std::wstring::npos) {
    reading = Decided(Cause::kNotInstalled, discovery::kNotInstalled);
  } else if (installerStarted) {
    // After the in-progress lines only a launch that failed prints nothing more.
    reading = Decided(Cause::kInstallNotStarted, kLaunchFailedQuietly);
  } else {
    reading = Reading{Outcome::kNoLog, Cause::kNone, kNothingOnConsole, {}};
  }
  reading.installerUnfinished = installerStarted && !installResult;
  return reading;
}

}  // namespace result
