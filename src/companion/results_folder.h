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
#include <optional>
#include <string>
#include <vector>

#include "result/outcome_file.h"

inline constexpr const wchar_t* kResultsLevels[] = {L"Veldorant", L"PatchUpdate", L"Results"};
// "Veldorant" may hold the product's own data: checked, never moved or changed.
inline constexpr std::size_t kFirstOwnResultsLevel = 1;
// What a level moved aside is renamed to: "<name>.moved-aside-<stamp>", "-2", ... when taken.
inline constexpr wchar_t kMovedAsideInfix[] = L".moved-aside-";
// Entries Results may hold and still be looked through; more and it is moved aside unread.
inline constexpr std::size_t kMaxResultsEntries = 4096;
// A kept file larger than this is no run of ours and is not carried over.
inline constexpr std::size_t kMaxCarriedFileBytes = 16U << 20;

// Keeps this run (stamped `secondStamp`, "YYYYMMDD-HHMMSS"; a later run of the same second gets "-2", ...),
// its outcome line and log copy, where the deployment system's cache clean-up doesn't reach, the newest
// copies under their fixed names, and prunes to the newest runs. A level refused keeps nothing, and says
// which one. Returns the console lines saying what was moved aside or carried over and what was not kept;
// empty when there is nothing to say.
std::wstring KeepResults(const std::wstring& secondStamp, const result::OutcomeRecord& record,
                         const std::optional<std::vector<std::uint8_t>>& log);
