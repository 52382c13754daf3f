// The patch descriptor patchupdate.dat: PatchInfo, PatchFile, PatchVersion, PreviousVersions.
#pragma once

#include <string>

inline constexpr wchar_t kDescriptorFileName[] = L"patchupdate.dat";

// The text without any CR or LF; nothing takes their place.
std::wstring RemoveLineBreaks(const std::wstring& text);

// The text after the first separator, trimmed of white space (space, tab, CR, LF, VT, FF) at both ends;
// empty when there's no separator.
std::wstring GetKeyValue(const std::wstring& slice, const std::wstring& separator);
