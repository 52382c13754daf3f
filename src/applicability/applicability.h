// Whether the patch applies and whether it is applied already; the installed-update record.
#pragma once

#include <string>
#include <vector>

// The value of the text's leading decimal digits, after optional white space and sign; 0 without digits.
// Saturates at INT_MAX / INT_MIN instead of overflowing.
int ReadLeadingInteger(const std::wstring& text);

// True when the record shows the patch as applied already: the record names the product at most once
// and holds patchInfo, or else the installed revision is not below the patch revision.
bool IsUpdateRecorded(const std::wstring& recordText, const std::wstring& patchInfo, int installedRevision,
                      int patchRevision);

namespace applicability {

// What the decision looks at: the installed executable's version and the descriptor's.
struct Facts {
  std::wstring exeVersion;   // empty when the executable or its version wasn't found
  std::wstring exeRevision;  // its last part
  std::wstring patchInfo;
  std::wstring patchVersion;
  std::wstring patchRevision;
  std::vector<std::wstring> previousVersions;
  std::wstring displayIcon;  // names the product folder, where the installed-update record is
};

// True when the patch is to be installed; logs the decision and prints it when nothing is to be done.
bool DecideApplicability(const Facts& facts, std::wstring& log);

// Replaces the record with the PatchInfo text. False after a file error, which it has logged; the
// previous record is then intact.
bool RecordInstalledUpdate(const std::wstring& displayIcon, const std::wstring& patchInfo, std::wstring& log);

}  // namespace applicability
