// The descriptor has no lines as far as parsing goes: line breaks are removed and each key owns the text
// from its first occurrence up to the next key it is paired with, so the file must list PatchInfo,
// PatchFile, PatchVersion, PreviousVersions in that order. Any failure leaves m_bPatchInfoRead false and
// the patch members empty; only the previous-versions list may already be filled.
#include "descriptor/patch_descriptor.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "app/patch_execute.h"
#include "app/path_text.h"
#include "descriptor/messages.h"
#include "descriptor/whole_file.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/module.h"

namespace {

using namespace messages::descriptor;

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

std::wstring RemoveLineBreaks(const std::wstring& text) {
  std::wstring joined = text;
  joined.erase(std::remove_if(joined.begin(), joined.end(), [](wchar_t c) { return c == L'\r' || c == L'\n'; }),
               joined.end());
  return joined;
}

std::wstring GetKeyValue(const std::wstring& slice, const std::wstring& separator) {
  const auto at = slice.find(separator);
  if (at == std::wstring::npos) return {};
  return Trim(slice.substr(at + separator.size()));
}

void CPatchExecute::ReadPatchDescriptor() {
  const std::wstring folder = FolderOf(platform::GetModulePath());
  const std::wstring path = folder + L"\\" + kDescriptorFileName;
  if (!platform::PathExists(path)) {
    AppendLog(kDescriptorMissing);
    m_bPatchInfoRead = false;
    return;
  }
  m_strPatchFolder = folder;
  const std::wstring text = ReadWholeFile(path, false);
  try {
    ParsePatchDescriptor(text);
  } catch (const std::bad_alloc&) {
    // Only a descriptor of absurd size gets here; it can't be used.
    m_bPatchInfoRead = false;
    AppendLog(DescribeFileError(platform::kErrorNotEnoughMemory, path));
  }
}

void CPatchExecute::ParsePatchDescriptor(const std::wstring& text) {
  m_bPatchInfoRead = false;
  const std::wstring joined = RemoveLineBreaks(text);

  const auto infoAt = joined.find(kPatchInfoKey);
  const auto fileAt = joined.find(kPatchFileKey);
  const auto versionAt = joined.find(kPatchVersionKey);
  const auto previousAt = joined.find(kPreviousVersionsKey);
  if (infoAt == std::wstring::npos || fileAt == std::wstring::npos || versionAt == std::wstring::npos ||
      previousAt == std::wstring::npos) {
    AppendLog(kKeyMissing);
    return;
  }

  const std::wstring infoSlice = Slice(joined, infoAt, fileAt);
  const auto exeAt = joined.find(kInstallerSuffix, fileAt);
  if (exeAt == std::wstring::npos) {
    AppendLog(kNoExe);
    return;
  }
  const std::wstring fileSlice = Slice(joined, fileAt, exeAt + std::size(kInstallerSuffix) - 1);
  const std::wstring versionSlice = Slice(joined, versionAt, previousAt);
  const std::wstring previousSlice = joined.substr(previousAt);
  if (infoSlice.empty() || fileSlice.empty() || versionSlice.empty() || previousSlice.empty()) {
    AppendLog(kSliceEmpty);
    return;
  }

  const std::wstring info = GetKeyValue(infoSlice, kValueSeparator);
  const std::wstring file = GetKeyValue(fileSlice, kValueSeparator);
  const std::wstring version = GetKeyValue(versionSlice, kValueSeparator);
  const std::wstring previous = GetKeyValue(previousSlice, kValueSeparator);
  const bool listFilled = !previous.empty() && LoadPreviousVersions(previous);
  if (info.empty() || file.empty() || version.empty() || !listFilled) {
    AppendLog(kValueEmpty);
    return;
  }

  // A folder of that name is no installer: launched, it would open a window and the run would wait on it.
  if (!platform::FileExists(m_strPatchFolder + L"\\" + file)) {
    AppendLog(kInstallerMissing);
    return;
  }

  m_strPatchInfo = info;
  m_strPatchFile = file;
  SetPatchVersion(version);
  m_bPatchInfoRead = true;
  AppendLog(kKeysFound);
}

bool CPatchExecute::LoadPreviousVersions(const std::wstring& value) {
  m_arrPreviousVersions.clear();
  std::size_t start = 0;
  while (true) {
    const auto comma = value.find(kListSeparator, start);
    const auto length = comma == std::wstring::npos ? std::wstring::npos : comma - start;
    const std::wstring entry = Trim(value.substr(start, length));
    if (!entry.empty()) m_arrPreviousVersions.push_back(entry);
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  return !m_arrPreviousVersions.empty();
}

void CPatchExecute::SetPatchVersion(const std::wstring& value) {
  m_strPatchVersion = value;
  // The revision always follows the version just stored: empty when it has no ".".
  const auto dot = value.rfind(L'.');
  m_strPatchRevision = dot == std::wstring::npos ? std::wstring() : value.substr(dot + 1);
}
