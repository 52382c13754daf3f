#include "result/kept_runs.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

namespace result {
namespace {

constexpr std::wstring_view kLogPrefix = L"Log_VDT_14_PatchUpdate.";
constexpr std::wstring_view kLogSuffix = L".txt";
constexpr std::wstring_view kOutcomePrefix = L"outcome.";
constexpr std::wstring_view kOutcomeSuffix = L".json";

// The stamp between prefix and suffix; nullopt for any other name.
std::optional<std::wstring> StampOf(std::wstring_view name) {
  for (const auto& [prefix, suffix] : {std::pair{kLogPrefix, kLogSuffix}, std::pair{kOutcomePrefix, kOutcomeSuffix}}) {
    if (name.size() > prefix.size() + suffix.size() && name.substr(0, prefix.size()) == prefix &&
        name.substr(name.size() - suffix.size()) == suffix) {
      return std::wstring(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
    }
  }
  return std::nullopt;
}

}  // namespace

std::wstring KeptLogName(const std::wstring& stamp) {
  return std::wstring(kLogPrefix) + stamp + std::wstring(kLogSuffix);
}

std::wstring OutcomeFileName(const std::wstring& stamp) {
  return std::wstring(kOutcomePrefix) + stamp + std::wstring(kOutcomeSuffix);
}

std::vector<std::wstring> RunsToRemove(const std::vector<std::wstring>& names, std::size_t keep) {
  std::vector<std::wstring> stamps;
  for (const auto& name : names) {
    if (auto stamp = StampOf(name)) stamps.push_back(std::move(*stamp));
  }
  std::sort(stamps.begin(), stamps.end());
  stamps.erase(std::unique(stamps.begin(), stamps.end()), stamps.end());
  std::vector<std::wstring> old;
  if (stamps.size() <= keep) return old;
  const std::wstring& oldestKept = stamps[stamps.size() - keep];
  std::copy_if(names.begin(), names.end(), std::back_inserter(old), [&oldestKept](const std::wstring& name) {
    const auto stamp = StampOf(name);
    return stamp && *stamp < oldestKept;
  });
  return old;
}

}  // namespace result
