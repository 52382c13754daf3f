// Every file the programs put in place is written new and moved: under a fresh temporary name beside its
// target, created new (so never through a link someone left, and shared with nobody), written, flushed,
// and renamed to the target through its own handle; on any failure, or when dropped unmoved, deleted
// through that same handle. Whatever stood at the target (a link included) is replaced as an entry, never
// written through, and nobody's open of the temporary name can make the move or the clean-up fail.
// Private to the Windows layer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32/nt_file.h"
#include "platform/win32/scoped_handle.h"

namespace platform::win32 {

class NewFile {
 public:
  NewFile() noexcept = default;
  // Unmoved, the temporary file goes with its handle.
  ~NewFile() {
    if (file_.IsValid()) (void)DiscardOnClose(file_.Get());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  NewFile(NewFile&&) = delete;
  NewFile& operator=(NewFile&&) = delete;

  // Creates the temporary file for `target`: a name in the folder `folder` is open on, everything opened
  // relative to that handle; or, when `folder` is nullptr, a path, resolved as the file functions resolve it.
  // 0 or the error code.
  DWORD Create(HANDLE folder, const std::wstring& target);
  // Appends every byte. 0 or the error code.
  DWORD Write(const std::uint8_t* bytes, std::size_t count);
  // Flushes and renames the file to its target, over what stands there when `replace`, else failing with
  // ERROR_FILE_EXISTS when something does. On failure the temporary file is gone. 0 or the error code.
  DWORD MoveIntoPlace(bool replace);

 private:
  ScopedHandle file_;
  HANDLE folder_ = nullptr;
  std::wstring target_;     // a name in folder_, or a full path
  std::wstring temporary_;  // the same, for the temporary file
};

// Puts a file holding `bytes` at `target` (as NewFile::Create names it), replacing what is there when
// `replace`. 0 or the error code.
DWORD PutNewFile(HANDLE folder, const std::wstring& target, const std::uint8_t* bytes, std::size_t count, bool replace);

}  // namespace platform::win32
