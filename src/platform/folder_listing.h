// Reading a tree of files collected from many machines: one folder's entries at a time, never through a
// link, and files read whole only up to a bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

struct FolderEntry {
  std::wstring name;
  bool isFolder = false;
  // A junction, symbolic link or mount point (on Linux a symbolic link): listed, never followed.
  bool isLink = false;
  std::uint64_t size = 0;
  std::int64_t writeTime = 0;  // last write, seconds since 1970-01-01 UTC
};

// Of a folder's entries that are no folder or link, those whose size and write time the caller needs; the
// others may come with 0 for both where the system would have to be asked for them one entry at a time
// (Linux: a stat each, a round trip each on a share). Empty: every entry's.
using WantsDetails = std::function<bool(const std::wstring& name)>;

// The entries of one folder, "." and ".." left out, in no particular order; the folder itself is not
// opened through a link. Returns 0 or the error code; `entries` is empty after an error.
std::uint32_t ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries, const WantsDetails& wants = {});

// As ListFolder, but each entry is handed to `visit` as it is listed, so a folder of any size costs one
// entry's memory (`visit` may walk a child folder meanwhile). After an error the entries handed on
// before it stand.
std::uint32_t VisitFolder(const std::wstring& folder, const std::function<void(const FolderEntry&)>& visit,
                          const WantsDetails& wants = {});

// The full path of an existing folder as the system resolves it ("." and ".." gone, links followed), so
// that whether one lies inside another can be told by name; "." is the current folder. Empty when it
// can't be resolved.
std::wstring ResolvedFolder(const std::wstring& folder);

// The path of `name` inside `folder`, joined with the system's separator.
std::wstring ChildPath(const std::wstring& folder, const std::wstring& name);

enum class BoundedReadStatus { kOk, kTooLarge, kFailed };

// Reads a regular file whole into `bytes` (reused, so reading many files allocates little), without
// following a link, when it holds at most `maxBytes`. kTooLarge reads nothing; kFailed sets `error`.
BoundedReadStatus ReadRegularFile(const std::wstring& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                                  std::uint32_t& error);

}  // namespace platform
