// The descriptor has no lines as far as parsing goes: line breaks are removed and each key owns the text
// from its first occurrence up to the next key it is paired with, so the file must list PatchInfo,
// PatchFile, PatchVersion, PreviousVersions in that order. Any failure leaves the descriptor unread and
// its patch fields empty; only the previous-versions list may already be filled.
#include "descriptor/patch_descriptor.h"

#include <iterator>
#include <new>
#include <utility>

#include "descriptor/messages.h"
#include "descriptor/whole_file.h"
#include "log/run_log.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace {

using namespace messages::descriptor;

constexpr wchar_t kDescriptorFileName[] = L"patchupdate.dat";
constexpr wchar_t kPatchInfoKey[] = L"PatchInfo";
constexpr wchar_t kPatchFileKey[] = L"PatchFile";
constexpr wchar_t kPatchVersionKey[] = L"PatchVersion";
constexpr wchar_t kPreviousVersionsKey[] = L"PreviousVersions";
constexpr wchar_t kInstallerSuffix[] = L".exe";
constexpr wchar_t kValueSeparator[] = L"=";
constexpr wchar_t kListSeparator = L',';

// Fixed set, so the result doesn't depend on the C locale.
constexpr wchar_t kWhiteSpace[] = L" \t\r\n\v\f";

std::wstring Trim(const std::wstring& text) {
  const auto first = text.find_first_not_of(kWhiteSpace);
  if (first == std::wstring::npos) return {};
  const auto last = text.find_last_not_of(kWhiteSpace);
  return text.substr(first, last - first + 1);
}

// The text from start up to (not including) end; empty when end lies before start.
std::wstring Slice(const std::wstring& text, std::size_t start, std::size_t end) {
  return end > start ? text.substr(start, end - start) : std::wstring();
}

}  // namespace

std::wstring GetKeyValue(const std::wstring& slice, const std::wstring& separator) {
  const auto at = slice.find(separator);
  if (at == std::wstring::npos) return {};
  return Trim(slice.substr(at + separator.size()));
}

namespace descriptor {

namespace {

// Logs the entry that refuses the descriptor and keeps it as the reason.
void Refuse(PatchDescriptor& found, std::wstring& log, const wchar_t* entry) {
  found.refusal = entry;
  AppendLogEntry(log, entry);
}

}  // namespace

PatchDescriptor ReadPatchDescriptor(const std::wstring& folder, std::wstring& log) {
  PatchDescriptor found;
  const std::wstring path = folder + L"\\" + kDescriptorFileName;
  if (!platform::PathExists(path)) {
    Refuse(found, log, kDescriptorMissing);
    return found;
  }
  found.folder = folder;
  const WholeFile file = ReadWholeFile(path, false, log);
  try {
    ParsePatchDescriptor(file.text, found, log);
  } catch (const std::bad_alloc&) {
    // Only a descriptor of absurd size gets here; it can't be used.
    found.read = false;
    found.refusal = DescribeFileError(platform::kErrorNotEnoughMemory, path);
    AppendLogEntry(log, found.refusal);
  }
  // A file that couldn't be read is refused for that, before anything its empty text lacks.
  if (!file.read) found.refusal = kDescriptorReadFailed;
  return found;
}

void ParsePatchDescriptor(const std::wstring& text, PatchDescriptor& found, std::wstring& log) {
  found.read = false;
  std::wstring joined = text;
  std::erase_if(joined, [](wchar_t c) { return c == L'\r' || c == L'\n'; });

  const auto infoAt = joined.find(kPatchInfoKey);
  const auto fileAt = joined.find(kPatchFileKey);
  const auto versionAt = joined.find(kPatchVersionKey);
  const auto previousAt = joined.find(kPreviousVersionsKey);
  if (infoAt == std::wstring::npos || fileAt == std::wstring::npos || versionAt == std::wstring::npos ||
      previousAt == std::wstring::npos) {
    Refuse(found, log, kKeyMissing);
    return;
  }

  const std::wstring infoSlice = Slice(joined, infoAt, fileAt);
  const auto exeAt = joined.find(kInstallerSuffix, fileAt);
  if (exeAt == std::wstring::npos) {
    Refuse(found, log, kNoExe);
    return;
  }
  const std::wstring fileSlice = Slice(joined, fileAt, exeAt + std::size(kInstallerSuffix) - 1);
  const std::wstring versionSlice = Slice(joined, versionAt, previousAt);
  const std::wstring previousSlice = joined.substr(previousAt);
  if (infoSlice.empty() || fileSlice.empty() || versionSlice.empty() || previousSlice.empty()) {
    Refuse(found, log, kSliceEmpty);
    return;
  }

  const std::wstring info = GetKeyValue(infoSlice, kValueSeparator);
  const std::wstring file = GetKeyValue(fileSlice, kValueSeparator);
  const std::wstring version = GetKeyValue(versionSlice, kValueSeparator);
  const std::wstring previous = GetKeyValue(previousSlice, kValueSeparator);
  if (!previous.empty()) found.previous = SplitPreviousVersions(previous);
  if (info.empty() || file.empty() || version.empty() || previous.empty() || found.previous.empty()) {
    Refuse(found, log, kValueEmpty);
    return;
  }

  // A folder of that name is no installer: launched, it would open a window and the run would wait on it.
  if (!platform::FileExists(found.folder + L"\\" + file)) {
    Refuse(found, log, kInstallerMissing);
    return;
  }

  found.info = info;
  found.file = file;
  found.version = version;
  const auto dot = version.rfind(L'.');
  found.revision = dot == std::wstring::npos ? std::wstring() : version.substr(dot + 1);
  found.read = true;
  AppendLogEntry(log, kKeysFound);
}

std::vector<std::wstring> SplitPreviousVersions(const std::wstring& value) {
  std::vector<std::wstring> list;
  std::size_t start = 0;
  while (true) {
    const auto comma = value.find(kListSeparator, start);
    const auto length = comma == std::wstring::npos ? std::wstring::npos : comma - start;
    std::wstring entry = Trim(value.substr(start, length));
    if (!entry.empty()) list.push_back(std::move(entry));
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  return list;
}

}  // namespace descriptor
