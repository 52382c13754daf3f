// The applicability decision: the installed executable's version against the descriptor's versions,
// then the installed-update record, then the revisions; and the record's write after an install. Versions
// are compared as whole strings.
#include "applicability/applicability.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string_view>

#include "applicability/messages.h"
#include "descriptor/whole_file.h"
#include "log/run_log.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/path_text.h"

namespace {

using namespace messages::applicability;

// Searched case-sensitively in the record's text.
constexpr wchar_t kProductWord[] = L"Veldorant";
// Immediately followed by the description of the file error.
constexpr wchar_t kRecordWriteFailed[] = L"Installedupdates failed.";

bool IsAsciiSpace(wchar_t c) { return std::wstring_view(L" \t\n\v\f\r").find(c) != std::wstring_view::npos; }

constexpr wchar_t kInstalledRecordFileName[] = L"installedupdates.dat";

// The record's path: the product folder (folder of the DisplayIcon path), then the record's name.
std::wstring InstalledRecordPath(const std::wstring& displayIcon) {
  return FolderOf(displayIcon) + L"\\" + kInstalledRecordFileName;
}

}  // namespace

int ReadLeadingInteger(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && IsAsciiSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  // Accumulate as a negative number so INT_MIN fits; clamp as soon as the limit is passed.
  const long long limit = negative ? static_cast<long long>(INT_MIN) : -static_cast<long long>(INT_MAX);
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 - static_cast<long long>(text[i] - L'0');
    if (value < limit) {
      value = limit;
      break;
    }
  }
  return static_cast<int>(negative ? value : -value);
}

bool IsUpdateRecorded(const std::wstring& recordText, const std::wstring& patchInfo, int installedRevision,
                      int patchRevision) {
  const std::wstring_view word(kProductWord);
  bool wordAtMostOnce = true;
  if (const auto first = recordText.find(word); first != std::wstring::npos) {
    wordAtMostOnce = recordText.find(word, first + word.size()) == std::wstring::npos;
  }
  if (wordAtMostOnce && recordText.find(patchInfo) != std::wstring::npos) return true;
  return installedRevision >= patchRevision;
}

namespace applicability {

namespace {

// Nothing to do: the entries, and the console line.
bool AlreadyApplied(std::wstring& log, std::initializer_list<const wchar_t*> entries) {
  for (const wchar_t* entry : entries) AppendLogEntry(log, entry);
  platform::WriteConsoleText(kAlreadyAppliedConsole);
  return false;
}

}  // namespace

bool DecideApplicability(const Facts& facts, std::wstring& log) {
  if (facts.exeVersion == facts.patchVersion) {
    return AlreadyApplied(log, {kNotFoundExitCode3, kAlreadyAppliedEntry});
  }

  if (std::ranges::find(facts.previousVersions, facts.exeVersion) == facts.previousVersions.end()) {
    AppendLogEntry(log, kNotApplicableEntry);
    platform::WriteConsoleText(kNotApplicableConsole);
    return false;
  }

  const int installedRevision = ReadLeadingInteger(facts.exeRevision);
  const int patchRevision =
      !facts.exeRevision.empty() && !facts.patchRevision.empty() ? ReadLeadingInteger(facts.patchRevision) : 0;

  const std::wstring recordPath = InstalledRecordPath(facts.displayIcon);
  if (platform::PathExists(recordPath)) {
    AppendLogEntry(log, kRecordExists);
    const std::wstring recordText = ReadWholeFile(recordPath, true, log).text;
    if (IsUpdateRecorded(recordText, facts.patchInfo, installedRevision, patchRevision)) {
      return AlreadyApplied(log, {kNotFoundExitCode1, kAlreadyAppliedStatusEntry});
    }
    AppendLogEntry(log, kFoundExitCode1);
    return true;
  }

  if (installedRevision < patchRevision) {
    AppendLogEntry(log, kFoundExitCode2);
    return true;
  }
  return AlreadyApplied(log, {kNotFoundExitCode2, kAlreadyAppliedStatusEntry});
}

// The record is replaced in one step so that a failed write never leaves it truncated: the previous
// record, and with it the previous run's knowledge, stays intact.
bool RecordInstalledUpdate(const std::wstring& displayIcon, const std::wstring& patchInfo, std::wstring& log) {
  const std::wstring path = InstalledRecordPath(displayIcon);
  std::uint32_t error = platform::kErrorSuccess;
  try {
    // The PatchInfo text alone, one byte per character: no key, no line end, no terminating zero.
    error = platform::ReplaceFileAtomically(path, platform::WideToAnsi(patchInfo));
  } catch (const std::bad_alloc&) {
    error = platform::kErrorNotEnoughMemory;
  }
  if (error == platform::kErrorSuccess) return true;

  AppendLogEntry(log, kRecordWriteFailed + DescribeFileError(error, path));
  return false;
}

}  // namespace applicability
