#include "result/run_names.h"

#include <algorithm>
#include <iterator>

#include "log/log_format.h"
#include "log/run_log.h"
#include "result/kept_runs.h"

namespace result {
namespace {

constexpr wchar_t kUnknownMachine[] = L"(unknown)";

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
  if (text.size() < suffix.size()) return false;
  const auto tail = text.substr(text.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](wchar_t a, wchar_t b) { return Lower(a) == b; });
}

}  // namespace

std::wstring FoldedCase(std::wstring_view text) {
  std::wstring folded(text);
  std::transform(folded.begin(), folded.end(), folded.begin(), Lower);
  return folded;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return Lower(x) == Lower(y); });
}

RunFileKind KindOfCollectedFile(std::wstring_view name) {
  if (name == kNewestOutcomeName) return RunFileKind::kOutcome;
  if (EndsWithNoCase(name, L".txt") || EndsWithNoCase(name, L".log")) return RunFileKind::kLog;
  if (EndsWithNoCase(name, L".json")) return RunFileKind::kOutcome;
  return RunFileKind::kNone;
}

bool IsNewestCopy(std::wstring_view name) { return name == kNewestLogName || name == kNewestOutcomeName; }

std::wstring MachineOfFileName(std::wstring_view name) {
  if (ParseKeptName(name) || IsNewestCopy(name)) return kUnknownMachine;
  static const std::wstring logStem = FoldedCase(log_format::kRunLogStem);
  const std::wstring lower = FoldedCase(name);
  const auto at = lower.find(logStem);
  std::wstring_view machine = name;
  if (at != std::wstring::npos) {
    machine = name.substr(0, at);
    while (!machine.empty() &&
           (machine.back() == L'_' || machine.back() == L'-' || machine.back() == L'.' || machine.back() == L' ')) {
      machine.remove_suffix(1);
    }
  } else if (const auto dot = name.rfind(L'.'); dot != std::wstring_view::npos) {
    machine = name.substr(0, dot);
  }
  return machine.empty() ? std::wstring(kUnknownMachine) : std::wstring(machine);
}

std::wstring SortableLogDate(std::wstring_view date) {
  using log_format::kMonthNames;
  const auto space = date.find(L' ');
  const auto comma = date.find(L", ");
  if (space == std::wstring_view::npos || comma == std::wstring_view::npos || comma < space) return {};
  const auto time = date.substr(space + 1, comma - space - 1);
  auto rest = date.substr(comma + 2);
  const auto monthEnd = rest.find(L' ');
  if (time.size() != 5 || monthEnd == std::wstring_view::npos) return {};
  const auto month = std::find(std::begin(kMonthNames), std::end(kMonthNames), rest.substr(0, monthEnd));
  rest.remove_prefix(monthEnd + 1);
  if (month == std::end(kMonthNames) || rest.size() < 8 || rest.substr(2, 2) != L", ") return {};
  const auto monthNumber = static_cast<int>(month - std::begin(kMonthNames)) + 1;
  std::wstring sortable(rest.substr(4));
  sortable += monthNumber < 10 ? L"-0" : L"-";
  sortable += std::to_wstring(monthNumber);
  sortable += L'-';
  sortable += rest.substr(0, 2);
  sortable += L'T';
  sortable += time;
  return sortable;
}

RunFileKind KindInMachineFolder(std::wstring_view name) {
  if (const auto kept = ParseKeptName(name)) {
    return kept->kind == KeptKind::kLog ? RunFileKind::kLog : RunFileKind::kOutcome;
  }
  if (name == kNewestLogName) return RunFileKind::kLog;
  if (name == kNewestOutcomeName) return RunFileKind::kOutcome;
  static const std::wstring logStem = FoldedCase(log_format::kRunLogStem);
  const std::wstring lower = FoldedCase(name);
  const RunFileKind kind = KindOfCollectedFile(name);
  if (kind == RunFileKind::kLog && lower.find(logStem) != std::wstring::npos) return kind;
  if (kind == RunFileKind::kOutcome && lower.rfind(L"outcome", 0) == 0) return kind;
  return RunFileKind::kNone;
}

}  // namespace result
