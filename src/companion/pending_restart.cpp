#include "companion/pending_restart.h"

#include <optional>
#include <string_view>

#include "platform/errors.h"
#include "platform/registry.h"

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
constexpr std::wstring_view kNtPrefix = L"\\??\\";
constexpr wchar_t kReplaceMark = L'!';
constexpr wchar_t kMainExecutable[] = L"vdt.exe";

// Paths compare as Windows compares them on the volumes it installs to: ASCII letters without case.
wchar_t Fold(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SamePath(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool IsInFolder(std::wstring_view path, std::wstring_view folder) {
  return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' && SamePath(path.substr(0, folder.size()), folder);
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
  std::vector<std::wstring> strings(1);
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto unit = static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    if (unit == L'\0') {
      strings.emplace_back();
    } else {
      strings.back().push_back(unit);
    }
  }
  // Each string ends with a NUL and the list with one more: the pieces after them are empty.
  if (!bytes.empty() && strings.back().empty()) strings.pop_back();
  if (strings.size() % 2 != 0 && !strings.empty() && strings.back().empty()) strings.pop_back();
  if (strings.size() % 2 != 0) return {};

  std::vector<PendingRename> renames;
  for (std::size_t i = 0; i < strings.size(); i += 2) {
    const auto source = DosPath(strings[i], false);
    const auto target = strings[i + 1].empty() ? std::optional<std::wstring>(std::wstring()) : DosPath(strings[i + 1], true);
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
