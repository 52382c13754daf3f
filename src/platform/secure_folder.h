// A folder a privileged program keeps state in, below a machine-wide folder where standard users may
// create folders of their own (ProgramData). Each level is opened without following a reparse point
// and checked by its handle; the handles stay open, without delete sharing, for as long as the folder is
// used, so a checked level can't be renamed, replaced or removed underneath. Files inside are created
// new and moved into place, and deleted by a handle that was checked to be a regular file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Owns the open handles of every level of a checked folder; empty when none is open. Move-only.
class SecureFolder {
 public:
  SecureFolder() noexcept = default;
  SecureFolder(std::wstring&& path, std::vector<std::uintptr_t>&& handles) noexcept
      : path_(std::move(path)), handles_(std::move(handles)) {}
  ~SecureFolder() { Close(); }
  SecureFolder(const SecureFolder&) = delete;
  SecureFolder& operator=(const SecureFolder&) = delete;
  SecureFolder(SecureFolder&& other) noexcept
      : path_(std::move(other.path_)), handles_(std::exchange(other.handles_, {})) {}
  SecureFolder& operator=(SecureFolder&& other) noexcept {
    if (this != &other) {
      Close();
      path_ = std::move(other.path_);
      handles_ = std::exchange(other.handles_, {});
    }
    return *this;
  }

  bool IsOpen() const noexcept { return !handles_.empty(); }
  // The full path of the innermost level.
  const std::wstring& Path() const noexcept { return path_; }
  // Closes every level's handle; afterwards IsOpen() is false.
  void Close() noexcept;

 private:
  std::wstring path_;
  std::vector<std::uintptr_t> handles_;
};

enum class FolderRefusal {
  kNone,            // opened
  kReparsePoint,    // a junction, symbolic link or mount point stands at that level
  kNotAFolder,      // a file stands there
  kUntrustedOwner,  // owned by an account other than SYSTEM, Administrators, TrustedInstaller or ours
  kFailed,          // it could not be made, opened, checked or secured: `error` says why
};

struct SecureFolderResult {
  FolderRefusal refusal = FolderRefusal::kNone;
  std::wstring level;       // the full path of the level refused; empty when opened
  std::uint32_t error = 0;  // the system's code for kFailed
};

// Opens base\levels[0]\levels[1]\..., one level at a time; `base` (a well-known system folder) is taken
// as it is. A missing level is created with a protected descriptor (owner Administrators; SYSTEM and
// Administrators full control, Users read and execute; nothing inherited from above). An existing level
// from `firstOwnLevel` on is ours alone and is given that same descriptor once it passes the checks; one
// before it (a vendor folder other programs keep data in) is checked and left as it is, since a new
// descriptor there would reach into their files. At the first level refused nothing more is opened or
// created, and `folder` stays closed.
SecureFolderResult OpenSecureFolder(const std::wstring& base, const std::vector<std::wstring>& levels,
                                    std::size_t firstOwnLevel, SecureFolder& folder);

// The names of the regular files directly in the folder: no folders, no reparse points. Returns 0 or
// the error code; `names` is empty after an error.
std::uint32_t ListRegularFiles(const SecureFolder& folder, std::vector<std::wstring>& names);

// The names of the regular files directly in the folder owned by an account other than SYSTEM,
// Administrators, TrustedInstaller or ours, or whose owner can't be read: left by someone else (before the
// folder was secured), never to be believed. Returns 0 or the error code.
std::uint32_t ListForeignFiles(const SecureFolder& folder, std::vector<std::wstring>& names);

// Puts a file `name` holding `bytes` into the folder: written and flushed under a fresh temporary name
// created new (so never through a link), then moved to `name`. An existing `name` is replaced when
// `replace` (a link of that name is replaced, never followed), else left alone and kErrorFileExists
// returned. Returns 0 or the error code; on failure no temporary file is left.
std::uint32_t PutFileInFolder(const SecureFolder& folder, const std::wstring& name,
                              const std::vector<std::uint8_t>& bytes, bool replace);

// Deletes `name` in the folder if it is a regular file: opened without following a reparse point, checked
// by that handle, deleted through it. Anything else of that name stays, with kErrorAccessDenied.
std::uint32_t DeleteRegularFile(const SecureFolder& folder, const std::wstring& name);

}  // namespace platform
