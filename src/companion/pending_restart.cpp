#include "companion/pending_restart.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "discovery/product_keys.h"
#include "platform/errors.h"
#include "platform/registry.h"

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
constexpr std::wstring_view kNtPrefix = L"\\??\\";
constexpr wchar_t kReplaceMark = L'!';
using product_keys::kMainExecutable;  // compared without case

// Paths compare as Windows compares them on the volumes it installs to: ASCII letters without case.
wchar_t Fold(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SamePath(std::wstring_view a, std::wstring_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) { return Fold(x) == Fold(y); });
}

bool IsInFolder(std::wstring_view path, std::wstring_view folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' &&
         SamePath(path.substr(0, folder.size()), folder);
}

// "\??\C:\x" as "C:\x"; the target's "!" mark taken off first. nullopt for any other form.
std::optional<std::wstring> DosPath(std::wstring_view nt, bool target) {
  if (target && !nt.empty() && nt.front() == kReplaceMark) nt.remove_prefix(1);
  if (nt.size() <= kNtPrefix.size() || nt.substr(0, kNtPrefix.size()) != kNtPrefix) return std::nullopt;
  return std::wstring(nt.substr(kNtPrefix.size()));
}

std::wstring WithoutTrailingSlashes(std::wstring folder) {
  while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
  return folder;
}

}  // namespace

std::vector<PendingRename> ParsePendingRenames(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 2 != 0) return {};
  std::wstring text(bytes.size() / 2, L'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  // The pieces between NULs are read where they stand: a server's list can be megabytes of short strings,
  // and a string object each would cost many times the value.
  std::size_t pieces = static_cast<std::size_t>(std::count(text.begin(), text.end(), L'\0')) + 1;
  // Each string ends with a NUL and the list with one more: the pieces after them are empty.
  const auto endsWith = [&text](std::size_t nuls) {
    return text.size() >= nuls && std::all_of(text.end() - static_cast<std::ptrdiff_t>(nuls), text.end(),
                                              [](wchar_t unit) { return unit == L'\0'; });
  };
  if (!text.empty() && endsWith(1)) --pieces;
  if (pieces % 2 != 0 && (text.size() == 1 || endsWith(2))) --pieces;
  if (pieces % 2 != 0) return {};

  std::vector<PendingRename> renames;
  const std::wstring_view all(text);
  std::size_t at = 0;
  const auto next = [&all, &at]() {
    const std::size_t end = std::min(all.find(L'\0', at), all.size());
    const std::wstring_view piece = all.substr(at, end - at);
    at = end + 1;
    return piece;
  };
  for (std::size_t i = 0; i < pieces; i += 2) {
    const std::wstring_view sourceText = next();
    const std::wstring_view targetText = next();
    const auto source = DosPath(sourceText, false);
    const auto target = targetText.empty() ? std::optional<std::wstring>(std::wstring()) : DosPath(targetText, true);
    if (source && target) renames.push_back({*source, *target});
  }
  return renames;
}

PendingRestart FindPendingRestart(const std::wstring& installFolder) {
  PendingRestart pending;
  const std::wstring folder = WithoutTrailingSlashes(installFolder);
  if (folder.empty()) return pending;
  const std::wstring mainExecutable = folder + L"\\" + kMainExecutable;
  platform::RegistryKey key;
  if (platform::OpenLocalMachineKey(kSessionManagerKey, key) != 0) return pending;
  for (const wchar_t* name : kPendingValues) {
    const platform::RegistryData value = platform::QueryRegistryData(key, name, kPendingRenamesLimit);
    if (value.code == static_cast<std::int32_t>(platform::kErrorMoreData)) pending.tooLarge = true;
    if (value.code != 0 || value.type != platform::kRegMultiSz) continue;
    for (const auto& rename : ParsePendingRenames(value.bytes)) {
      if (SamePath(rename.target, mainExecutable)) {
        pending.mainExecutable = rename.target;
        pending.replacement = rename.source;
      }
      const std::wstring& affected = rename.target.empty() ? rename.source : rename.target;
      if (IsInFolder(affected, folder)) pending.installFolder = true;
    }
  }
  return pending;
}
