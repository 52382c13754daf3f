// A folder a privileged program keeps state in, below a machine-wide folder where standard users may
// create folders of their own (ProgramData). The rules (which level is used, which is moved aside, what
// is carried over) are portable code, companion/results_folder; here are the few calls they are made of.
// Each level is opened without following a reparse point, by its name relative to its parent's held
// handle (never by a path a link set meanwhile could redirect), and judged by its handle; the handles
// stay open for as long as the folder is used, our own levels without delete sharing, so a checked level
// can't be renamed, replaced or removed underneath. Nothing here ever changes the descriptor of something that exists:
// a level is made with its descriptor, and files inside are created new, moved into place and deleted
// through their own handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/scoped_generic.h"

namespace platform {

// How a level's handle is closed: the implementation's business.
struct LevelHandleTraits {
  static constexpr std::uintptr_t InvalidValue() noexcept { return 0; }
  static bool Free(std::uintptr_t level) noexcept;
};

// One open level (a folder, or whatever stands under its name), ours held without delete sharing. Move-only.
using LevelHandle = ScopedGeneric<std::uintptr_t, LevelHandleTraits>;

// Owns the open handles of every level of a folder that passed the rules; empty when none is open.
class SecureFolder {
 public:
  SecureFolder() noexcept = default;
  SecureFolder(std::wstring&& path, std::vector<LevelHandle>&& levels) noexcept
      : path_(std::move(path)), levels_(std::move(levels)) {}

  bool IsOpen() const noexcept { return !levels_.empty(); }
  // The innermost level's handle, which files inside are opened relative to; 0 when none is open.
  std::uintptr_t Innermost() const noexcept { return levels_.empty() ? 0 : levels_.back().Get(); }
  // The full path of the innermost level.
  const std::wstring& Path() const noexcept { return path_; }
  // Closes every level's handle, the innermost first; afterwards IsOpen() is false.
  void Close() noexcept {
    while (!levels_.empty()) levels_.pop_back();
    path_.clear();
  }

 private:
  std::wstring path_;
  std::vector<LevelHandle> levels_;
};

// Which descriptor a level is made with, and compared against.
enum class LevelKind {
  // The vendor's folder, when we are the first to make it: SYSTEM and Administrators full control,
  // Users read and execute, inherited; protected.
  kVendor,
  // Ours alone: SYSTEM and Administrators full control, for the folder and all below it; nothing for
  // anyone else, so no standard user can open, hold or lock anything inside; protected.
  kOwn,
};

// What a level's handle tells.
struct LevelFacts {
  bool isFolder = false;
  bool reparsePoint = false;     // a junction, symbolic link or mount point
  bool heldItself = true;        // the handle is on the link itself, not on what it points to
  bool trustedOwner = false;     // SYSTEM, Administrators, TrustedInstaller or the account this runs as
  bool ourDescriptor = false;    // protected, with exactly the DACL of its kind
  bool othersMayCreate = false;  // an account besides those may create files or folders in it
  bool othersMayRemove = false;  // ... may delete or rename what is in it, delete it, or change its DACL or owner
};

// Opens `path` without following a reparse point and reads its facts by that handle: its last name
// relative to `parent` when that is open, else the whole path. A level of kind kVendor is opened with no
// access that another's share mode can refuse (attributes, descriptor, synchronize), so nobody holding it
// open keeps us out; it is shared with everyone and kept by its DACL, not by our hold. Returns 0,
// kErrorFileNotFound or kErrorPathNotFound when nothing stands there, or the error code.
std::uint32_t OpenLevel(const LevelHandle& parent, const std::wstring& path, LevelKind kind, LevelHandle& level,
                        LevelFacts& facts);

// Makes the folder `path` (its last name relative to `parent` when that is open) with the descriptor of its
// kind, never opening one that exists, and opens it as OpenLevel does. Returns 0, kErrorAlreadyExists when
// something stands there, or the error code.
std::uint32_t CreateLevel(const LevelHandle& parent, const std::wstring& path, LevelKind kind, LevelHandle& level);

// Renames `name` in the folder `parent` holds to `newName`, never over something that exists. `level` (open
// on it) is closed, `name` opened again relative to `parent` without following a reparse point, and renamed
// through that handle only when it is the very file or folder `level` was open on (else kErrorAccessDenied).
// Afterwards `level` is open again on it, renamed or not, unless it couldn't be reopened as itself.
// Returns 0 or the error code.
std::uint32_t RenameLevel(LevelHandle& level, const LevelHandle& parent, const std::wstring& name,
                          const std::wstring& newName);

struct LevelEntry {
  std::wstring name;
  bool isFolder = false;
  bool reparsePoint = false;
  // A regular file with no other name (no hard link), owned by a trusted account, as its own handle says.
  bool soleTrustedFile = false;
};

// The entries directly in the folder `folder` is open on, listed through that handle, at most `maxEntries`
// of them (more: kErrorMoreData).
std::uint32_t ListLevel(const LevelHandle& folder, std::size_t maxEntries, std::vector<LevelEntry>& entries);

// The bytes of `name` in the folder `folder` is open on, at most `maxBytes`, when it is a regular file with
// no other name owned by a trusted account, opened relative to that handle without following a link and
// checked by its own handle; else kErrorAccessDenied. A file someone else holds fails at once
// (kErrorSharingViolation), never waits.
std::uint32_t ReadLevelFile(const LevelHandle& folder, const std::wstring& name, std::size_t maxBytes,
                            std::vector<std::uint8_t>& bytes);

// Files are named, listed, made and deleted relative to the innermost level's held handle, never by path.

// The names of the regular files directly in the folder: no folders, no reparse points. Returns 0 or
// the error code; `names` is empty after an error.
std::uint32_t ListRegularFiles(const SecureFolder& folder, std::vector<std::wstring>& names);

// Puts a file `name` holding `bytes` into the folder: written and flushed under a fresh temporary name
// created new (so never through a link), then renamed to `name` through that same handle (deleted through
// it when anything fails). An existing `name` is replaced when `replace` (a link of that name is
// replaced, never followed), else left alone and kErrorFileExists returned. Returns 0 or the error code.
std::uint32_t PutFileInFolder(const SecureFolder& folder, const std::wstring& name,
                              const std::vector<std::uint8_t>& bytes, bool replace);

// Deletes `name` in the folder if it is a regular file: opened without following a reparse point, checked
// by that handle, deleted through it. Anything else of that name stays, with kErrorAccessDenied.
std::uint32_t DeleteRegularFile(const SecureFolder& folder, const std::wstring& name);

}  // namespace platform
