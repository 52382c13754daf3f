// The applicability decision: the installed executable's version against the descriptor's versions,
// then the installed-update record, then the revisions. Versions are compared as whole strings.
#include "applicability/applicability.h"

#include <algorithm>

#include <climits>
#include <string_view>

#include "app/patch_execute.h"
#include "app/path_text.h"
#include "applicability/messages.h"
#include "platform/console.h"
#include "platform/files.h"

namespace {

using namespace messages::applicability;

// Searched case-sensitively in the record's text.
constexpr wchar_t kProductWord[] = L"Veldorant";


bool IsAsciiSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
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

std::wstring InstalledRecordPath(const std::wstring& displayIcon) {
  return FolderOf(displayIcon) + L"\\" + kInstalledRecordFileName;
}

bool CPatchExecute::IsPatchVersionInstalled() const { return m_strExeVersion == m_strPatchVersion; }

bool CPatchExecute::IsExeVersionInPreviousVersions() const {
  return std::any_of(m_arrPreviousVersions.begin(), m_arrPreviousVersions.end(),
                     [this](const std::wstring& version) { return version == m_strExeVersion; });
}

void CPatchExecute::DecideApplicability() {
  ReadExeVersion();

  if (IsPatchVersionInstalled()) {
    AppendLog(kNotFoundExitCode3);
    AppendLog(kAlreadyAppliedEntry);
    m_bUpdateNeeded = false;
    platform::WriteConsoleText(kAlreadyAppliedConsole);
    return;
  }

  if (!IsExeVersionInPreviousVersions()) {
    AppendLog(kNotApplicableEntry);
    m_bUpdateNeeded = false;
    platform::WriteConsoleText(kNotApplicableConsole);
    return;
  }

  const int installedRevision = ReadLeadingInteger(m_strExeRevision);
  const int patchRevision =
      !m_strExeRevision.empty() && !m_strPatchRevision.empty() ? ReadLeadingInteger(m_strPatchRevision) : 0;

  const std::wstring recordPath = InstalledRecordPath(m_strDisplayIcon);
  if (platform::PathExists(recordPath)) {
    AppendLog(kRecordExists);
    const std::wstring recordText = ReadWholeFile(recordPath, true);
    if (IsUpdateRecorded(recordText, m_strPatchInfo, installedRevision, patchRevision)) {
      AppendLog(kNotFoundExitCode1);
      AppendLog(kAlreadyAppliedStatusEntry);
      m_bUpdateNeeded = false;
      platform::WriteConsoleText(kAlreadyAppliedConsole);
    } else {
      AppendLog(kFoundExitCode1);
      m_bUpdateNeeded = true;
    }
    return;
  }

  if (installedRevision < patchRevision) {
    AppendLog(kFoundExitCode2);
    m_bUpdateNeeded = true;
  } else {
    AppendLog(kNotFoundExitCode2);
    AppendLog(kAlreadyAppliedStatusEntry);
    m_bUpdateNeeded = false;
    platform::WriteConsoleText(kAlreadyAppliedConsole);
  }
}
