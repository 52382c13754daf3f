// Files an installer could not replace in place and scheduled for the next restart: the pairs Windows
// keeps in PendingFileRenameOperations (and ...2) under Session Manager, each a source and a target NT
// path ("\??\C:\...", the target "!"-prefixed when it replaces a file, empty for a delete).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct PendingRename {
  std::wstring source;  // DOS path, "\??\" taken off
  std::wstring target;  // DOS path; empty for a delete
};

// The pairs of one value's REG_MULTI_SZ bytes (UTF-16LE). A value that is no list of pairs (odd length,
// an odd number of strings) gives none; a pair whose paths are not "\??\" paths is left out.
std::vector<PendingRename> ParsePendingRenames(std::span<const std::uint8_t> bytes);

// A server's list can run to megabytes; one past this is said, never read as empty.
inline constexpr std::size_t kPendingRenamesLimit = 32U << 20;

struct PendingRestart {
  std::wstring mainExecutable;  // the product's Vdt.exe as a rename's target; empty when it isn't one
  std::wstring replacement;     // the file that is then to take its place
  bool installFolder = false;   // some file in the install folder is renamed or deleted at the restart
  bool tooLarge = false;        // a value over kPendingRenamesLimit, not read: what waits is not known
};

// What waits for the next restart in `installFolder`, by both values, in the 64-bit registry view. A
// value that is missing, unreadable or not REG_MULTI_SZ counts as empty; one too large to read says so.
PendingRestart FindPendingRestart(const std::wstring& installFolder);
