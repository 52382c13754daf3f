#include "result/kept_runs.h"

#include <algorithm>
#include <cstdint>
#include <tuple>

#include "log/log_format.h"

namespace result {
namespace {

constexpr std::wstring_view kLogPrefix = log_format::kKeptRunLogPrefix;
constexpr std::wstring_view kLogSuffix = log_format::kRunLogExtension;
constexpr std::wstring_view kOutcomePrefix = L"outcome.";
constexpr std::wstring_view kOutcomeSuffix = L".json";
// The same second holds at most this many runs; a name beyond it is no stamp of ours.
constexpr unsigned kMaxSequence = 999;
// More than any clock change between two runs of one machine.
constexpr std::int64_t kTwoDays = 2 * kSecondsPerDay;

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The number the digits text[at..at+count) spell.
int Digits(std::wstring_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - L'0');
  return value;
}

// "YYYYMMDD-HHMMSS" or "YYYYMMDD-HHMMSS-N" (N from 2); nullopt for anything else.
std::optional<RunStamp> ParseStamp(std::wstring_view text) {
  if (text.size() < 15 || text[8] != L'-') return std::nullopt;
  for (std::size_t i = 0; i < 15; ++i) {
    if (i != 8 && !IsDigit(text[i])) return std::nullopt;
  }
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 4, 2);
  const int day = Digits(text, 6, 2);
  const int hour = Digits(text, 9, 2);
  const int minute = Digits(text, 11, 2);
  const int second = Digits(text, 13, 2);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  RunStamp stamp;
  stamp.seconds = WallClockSeconds(year, month, day, hour, minute, second);
  const auto rest = text.substr(15);
  if (rest.empty()) return stamp;
  if (rest.size() < 2 || rest.size() > 4 || rest[0] != L'-' || rest[1] == L'0') return std::nullopt;
  unsigned sequence = 0;
  for (const wchar_t c : rest.substr(1)) {
    if (!IsDigit(c)) return std::nullopt;
    sequence = sequence * 10 + static_cast<unsigned>(c - L'0');
  }
  if (sequence < 2 || sequence > kMaxSequence) return std::nullopt;
  stamp.sequence = sequence;
  return stamp;
}

std::optional<std::wstring_view> Between(std::wstring_view name, std::wstring_view prefix, std::wstring_view suffix) {
  if (name.size() <= prefix.size() + suffix.size() || name.substr(0, prefix.size()) != prefix ||
      name.substr(name.size() - suffix.size()) != suffix) {
    return std::nullopt;
  }
  return name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
}

}  // namespace

std::int64_t WallClockSeconds(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1970-01-01 by the proleptic Gregorian calendar, counted in 400-year eras from March, so
  // that a leap day ends its year.
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const std::int64_t days = era * 146097 + dayOfEra - 719468;
  return days * kSecondsPerDay + static_cast<std::int64_t>(hour) * 3600 + static_cast<std::int64_t>(minute) * 60 +
         second;
}

std::wstring StampText(const std::wstring& secondStamp, unsigned sequence) {
  return sequence <= 1 ? secondStamp : secondStamp + L"-" + std::to_wstring(sequence);
}

std::wstring KeptLogName(const std::wstring& stamp) {
  return std::wstring(kLogPrefix) + stamp + std::wstring(kLogSuffix);
}

std::wstring OutcomeFileName(const std::wstring& stamp) {
  return std::wstring(kOutcomePrefix) + stamp + std::wstring(kOutcomeSuffix);
}

std::optional<KeptName> ParseKeptName(std::wstring_view name) {
  for (const auto& [kind, prefix, suffix] : {std::tuple{KeptKind::kLog, kLogPrefix, kLogSuffix},
                                             std::tuple{KeptKind::kOutcome, kOutcomePrefix, kOutcomeSuffix}}) {
    if (const auto text = Between(name, prefix, suffix)) {
      if (const auto stamp = ParseStamp(*text)) return KeptName{kind, *stamp};
    }
  }
  return std::nullopt;
}

std::vector<std::wstring> RunsToRemove(const std::vector<std::wstring>& names, std::size_t keep,
                                       const std::wstring& current) {
  const auto own = ParseStamp(current);
  // Runs stamped days after this one came from a clock that ran ahead: they go first, or they would stay
  // for good while every real run went.
  const auto ahead = [&own](const RunStamp& stamp) { return own && stamp.seconds > own->seconds + kTwoDays; };
  const auto older = [&ahead](const RunStamp& a, const RunStamp& b) { return ahead(a) != ahead(b) ? ahead(a) : a < b; };
  std::vector<RunStamp> stamps;
  for (const auto& name : names) {
    if (const auto kept = ParseKeptName(name); kept && (!own || kept->stamp != *own)) stamps.push_back(kept->stamp);
  }
  std::sort(stamps.begin(), stamps.end(), older);
  stamps.erase(std::unique(stamps.begin(), stamps.end()), stamps.end());
  const std::size_t othersKept = own && keep > 0 ? keep - 1 : keep;
  std::vector<std::wstring> old;
  if (stamps.size() <= othersKept) return old;
  const std::vector<RunStamp> removed(stamps.begin(), stamps.end() - static_cast<std::ptrdiff_t>(othersKept));
  for (const auto& name : names) {
    const auto kept = ParseKeptName(name);
    if (kept && std::find(removed.begin(), removed.end(), kept->stamp) != removed.end()) old.push_back(name);
  }
  return old;
}

}  // namespace result
