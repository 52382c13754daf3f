// Which folder under ProgramData the companion keeps its runs in. A level of ours (PatchUpdate, Results)
// is used only when it is exactly as we make it: no link, a folder, a trusted owner, the protected DACL
// we make it with, and (Results) nothing inside but plain files a trusted account owns. Anything else, the
// previous release's folders included, is moved aside within its parent, never followed, and made afresh
// with its descriptor; runs worth keeping from it are carried over as new files holding their bytes.
// Nothing inside a folder moved aside is deleted or changed. The vendor's folder (Veldorant) is shared
// with other programs: never moved or changed, used only when no standard user may remove what is in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/secure_folder.h"

inline constexpr const wchar_t* kResultsLevels[] = {L"Veldorant", L"PatchUpdate", L"Results"};
// "Veldorant" may hold the product's own data: checked, never moved or changed.
inline constexpr std::size_t kFirstOwnResultsLevel = 1;
// What a level moved aside is renamed to: "<name>.moved-aside-<stamp>", "-2", ... when taken.
inline constexpr wchar_t kMovedAsideInfix[] = L".moved-aside-";
// Entries Results may hold and still be looked through; more and it is moved aside unread.
inline constexpr std::size_t kMaxResultsEntries = 4096;
// A kept file larger than this is no run of ours and is not carried over.
inline constexpr std::size_t kMaxCarriedFileBytes = 16U << 20;

struct ResultsFolder {
  platform::SecureFolder folder;  // open when the folder can be used
  std::wstring said;              // console lines: what was moved aside, carried over or refused
};

// Opens (or makes) base\Veldorant\PatchUpdate\Results by those rules; `stamp` ("YYYYMMDD-HHMMSS") names
// what is moved aside. Runs from a Results moved aside are carried over before it returns.
ResultsFolder OpenResultsFolder(const std::wstring& base, const std::wstring& stamp);

// Whether the name stays one entry of its folder on every path form: no separator, stream, "." or "..",
// no trailing dot or blank (which a path without "\\?\" strips) and no device name.
bool IsPlainName(const std::wstring& name);

// The system's words for `error`, when it has any, then "(error N)".
std::wstring WithError(std::uint32_t error);
