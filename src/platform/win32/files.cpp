#include <windows.h>

#include <new>

#include "platform/files.h"
#include "platform/win32/file_io.h"
#include "platform/win32/long_path.h"
#include "platform/win32/new_file.h"
#include "platform/win32/scoped_handle.h"

namespace platform {
namespace {

// The files read here are a few hundred bytes; anything beyond this is not ours to hold.
constexpr ULONGLONG kMaxReadBytes = 256ULL * 1024 * 1024;

// Why the destination can't be replaced, found before anything is written: a folder, a read-only
// file, or a file another process holds open without delete sharing. 0 when nothing stands in the way.
// `path` is already in the file functions' form.
DWORD ReplaceObstacle(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) return ERROR_ACCESS_DENIED;
  const win32::ScopedHandle probe(::CreateFileW(path.c_str(), DELETE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!probe.IsValid()) return ::GetLastError();
  return ERROR_SUCCESS;
}

// Truncating a hidden or system file is refused unless the open asks for the same attributes, so an
// earlier file that someone hid is replaced with those attributes kept.
DWORD AttributesToRecreate(const std::wstring& path) {
  const DWORD existing = ::GetFileAttributesW(path.c_str());
  if (existing == INVALID_FILE_ATTRIBUTES) return FILE_ATTRIBUTE_NORMAL;
  const DWORD kept = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  return kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

bool PathExists(const std::wstring& path) {
  return ::GetFileAttributesW(win32::ForFileApi(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(win32::ForFileApi(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::uint64_t> FileWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(win32::ForFileApi(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;  // a folder is no file
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

FileReadResult ReadFileExclusive(const std::wstring& path) {
  FileReadResult result;
  const auto failed = [&result](FileReadStatus status, DWORD error) {
    result.status = status;
    result.error = error;
    result.bytes.clear();
    return result;
  };
  const std::wstring target = win32::ForFileApi(path);
  const win32::ScopedHandle file(
      ::CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return failed(FileReadStatus::kOpenFailed, ::GetLastError());
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.Get(), &size)) return failed(FileReadStatus::kReadFailed, ::GetLastError());
  if (size.QuadPart < 0 || static_cast<ULONGLONG>(size.QuadPart) > kMaxReadBytes) {
    return failed(FileReadStatus::kReadFailed, ERROR_NOT_ENOUGH_MEMORY);
  }
  try {
    result.bytes.resize(static_cast<std::size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return failed(FileReadStatus::kReadFailed, ERROR_NOT_ENOUGH_MEMORY);
  }
  std::size_t done = 0;
  if (const DWORD error = win32::ReadUpTo(file.Get(), result.bytes.data(), result.bytes.size(), done);
      error != ERROR_SUCCESS) {
    return failed(FileReadStatus::kReadFailed, error);
  }
  result.bytes.resize(done);  // end of file came early: keep what is there
  return result;
}

std::uint32_t WriteFileExclusive(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  const std::wstring target = win32::ForFileApi(path);
  win32::ScopedHandle file(
      ::CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, AttributesToRecreate(target), nullptr));
  if (!file.IsValid()) return ::GetLastError();
  const DWORD error = win32::WriteAll(file.Get(), bytes.data(), bytes.size());
  if (error != ERROR_SUCCESS) return error;
  return file.Close() ? ERROR_SUCCESS : ::GetLastError();
}

std::uint32_t ReplaceFileAtomically(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  if (const DWORD obstacle = ReplaceObstacle(win32::ForFileApi(path)); obstacle != ERROR_SUCCESS) return obstacle;
  return win32::PutNewFile(nullptr, path, bytes.data(), bytes.size(), true);
}

}  // namespace platform
