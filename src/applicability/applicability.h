// Whether the patch applies and whether it is applied already; the installed-update record.
#pragma once

#include <string>

inline constexpr wchar_t kInstalledRecordFileName[] = L"installedupdates.dat";

// The value of the text's leading decimal digits, after optional white space and sign; 0 without digits.
// Saturates at INT_MAX / INT_MIN instead of overflowing.
int ReadLeadingInteger(const std::wstring& text);

// True when the record shows the patch as applied already: the record names the product at most once
// and holds patchInfo, or else the installed revision is not below the patch revision.
bool IsUpdateRecorded(const std::wstring& recordText, const std::wstring& patchInfo, int installedRevision,
                      int patchRevision);

// The record's path: the product folder (folder of the DisplayIcon path), then "\installedupdates.dat".
std::wstring InstalledRecordPath(const std::wstring& displayIcon);
