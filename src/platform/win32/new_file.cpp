#include "platform/win32/new_file.h"

#include "platform/win32/file_io.h"
#include "platform/win32/long_path.h"

namespace platform::win32 {
namespace {

// Fresh temporary names tried before giving up.
constexpr unsigned kTemporaryNameAttempts = 100;

// A fresh name for a temporary file beside `name`.
std::wstring TemporaryName(const std::wstring& name, unsigned attempt) {
  return L"~" + name + L"." + std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(::GetTickCount64() % 1000000) + L"." + std::to_wstring(attempt) + L".tmp";
}

}  // namespace

DWORD NewFile::Create(HANDLE folder, const std::wstring& target) {
  if (file_.IsValid()) (void)DiscardOnClose(file_.Get());
  file_.Close();
  folder_ = folder;
  target_ = target;
  std::wstring beside;  // the temporary name's folder, for a path
  std::wstring name = target;
  if (folder == nullptr) {
    // Resolved once, so that the temporary file and the move name the same folder.
    target_ = FullPath(target);
    const auto slash = target_.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash + 1 == target_.size()) return ERROR_INVALID_NAME;
    beside = target_.substr(0, slash + 1);
    name = target_.substr(slash + 1);
  }
  for (unsigned attempt = 0;; ++attempt) {
    temporary_ = beside + TemporaryName(name, attempt);
    const DWORD error = OpenWithoutWaiting(folder_, temporary_, GENERIC_WRITE | DELETE | SYNCHRONIZE, 0, kNtCreate,
                                           kNtNonDirectoryFile | kNtOpenReparsePoint, nullptr, file_);
    if (error == ERROR_SUCCESS) return ERROR_SUCCESS;
    if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt + 1 >= kTemporaryNameAttempts) {
      return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
    }
  }
}

DWORD NewFile::Write(const std::uint8_t* bytes, std::size_t count) {
  if (!file_.IsValid()) return ERROR_INVALID_HANDLE;
  return WriteAll(file_.Get(), bytes, count);
}

DWORD NewFile::MoveIntoPlace(bool replace) {
  if (!file_.IsValid()) return ERROR_INVALID_HANDLE;
  DWORD error = ::FlushFileBuffers(file_.Get()) ? ERROR_SUCCESS : ::GetLastError();
  if (error == ERROR_SUCCESS) error = RenameByHandle(file_.Get(), folder_, target_, replace);
  if (error != ERROR_SUCCESS) {
    (void)DiscardOnClose(file_.Get());
    file_.Close();
    // A name taken shows as "already exists" (183); callers know it as "file exists".
    return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
  }
  return file_.Close() ? ERROR_SUCCESS : ::GetLastError();
}

DWORD PutNewFile(HANDLE folder, const std::wstring& target, const std::uint8_t* bytes, std::size_t count,
                 bool replace) {
  NewFile file;
  if (const DWORD error = file.Create(folder, target); error != ERROR_SUCCESS) return error;
  if (const DWORD error = file.Write(bytes, count); error != ERROR_SUCCESS) return error;
  return file.MoveIntoPlace(replace);
}

}  // namespace platform::win32
