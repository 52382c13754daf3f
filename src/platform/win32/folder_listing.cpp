// A link is a reparse point whose tag is a name surrogate (junction, mount point, symbolic link, WSL
// link): it names another place. Other reparse points carry the file's own data through a filter (Data
// Deduplication, OneDrive placeholders, compressed system files); they are listed and read as what they
// are, or an old log on a deduplicated share would go missing. A tag of 0 (what Wine may report) counts
// as a link. Wine opens through a Unix link even with FILE_FLAG_OPEN_REPARSE_POINT but marks a link to
// a folder by name, so a folder whose name says reparse point and whose handle doesn't was reached
// through a link; a Unix link to a file it shows and reads as that file, and a dangling or looping one
// it leaves out of listings. Refusals: the folder given, or a file, being a link fails with
// ERROR_STOPPED_ON_SYMLINK, a folder where a file was asked for with ERROR_ACCESS_DENIED, a file where
// a folder was asked for with ERROR_DIRECTORY.
#include <windows.h>

#include <new>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/folder_listing.h"
#include "platform/win32/file_io.h"
#include "platform/win32/long_path.h"
#include "platform/win32/scoped_handle.h"

namespace platform {
namespace {

// FILETIME counts 100 ns from 1601-01-01; this many of them lie before 1970-01-01.
constexpr auto kFileTimeUnitsPerSecond = static_cast<std::int64_t>(kSystemTimeUnitsPerSecond);
constexpr std::int64_t kUnixEpochInFileTime = kSecondsFrom1601To1970 * kFileTimeUnitsPerSecond;
// ERROR_STOPPED_ON_SYMLINK, which MinGW's winerror.h lacks.
constexpr DWORD kErrorStoppedOnSymlink = 681;

bool IsLinkTag(DWORD tag) { return tag == 0 || IsReparseTagNameSurrogate(tag) != 0; }

std::int64_t SecondsSince1970(const FILETIME& time) {
  const auto units =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  const std::int64_t since = units - kUnixEpochInFileTime;
  std::int64_t seconds = since / kFileTimeUnitsPerSecond;
  if (since % kFileTimeUnitsPerSecond < 0) --seconds;  // rounded down before 1970 too, like time_t
  return seconds;
}

// Whether the handle, opened with FILE_FLAG_OPEN_REPARSE_POINT, is a link itself.
bool IsLinkHandle(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& info) {
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))) return true;
  return IsLinkTag(tag.ReparseTag);
}

FolderEntry EntryOf(const WIN32_FIND_DATAW& data) {
  FolderEntry entry;
  entry.name = data.cFileName;
  entry.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // FindFirstFileExW leaves the reparse tag in dwReserved0.
  entry.isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkTag(data.dwReserved0);
  entry.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  entry.writeTime = SecondsSince1970(data.ftLastWriteTime);
  return entry;
}

DWORD ListInto(const std::wstring& folder, const std::function<void(const FolderEntry&)>& visit) {
  const std::wstring path = win32::ForFileApi(folder);
  // Held without delete sharing while listing, so the folder checked is the folder listed.
  const win32::ScopedHandle pinned(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!pinned.IsValid()) return ::GetLastError();
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(pinned.Get(), &info)) return ::GetLastError();
  const DWORD named = ::GetFileAttributesW(path.c_str());
  const bool reachedThroughLink = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                                  named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (reachedThroughLink || IsLinkHandle(pinned.Get(), info)) return kErrorStoppedOnSymlink;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
  // Basic information (no short names) fetched in large batches: the walk lists many folders.
  const std::wstring pattern = path + (path.back() == L'\\' || path.back() == L'/' ? L"*" : L"\\*");
  WIN32_FIND_DATAW data{};
  const win32::ScopedFind find(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                                  nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find.IsValid()) {
    // An empty folder (a drive root can be) fails with the same code as a missing one.
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
  }
  do {
    const std::wstring_view name(data.cFileName);
    if (name != L"." && name != L"..") visit(EntryOf(data));
  } while (::FindNextFileW(find.Get(), &data));
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
}

}  // namespace

std::uint32_t ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries, const WantsDetails& wants) {
  entries.clear();
  const std::uint32_t error = VisitFolder(
      folder, [&entries](const FolderEntry& entry) { entries.push_back(entry); }, wants);
  if (error != ERROR_SUCCESS) entries.clear();
  return error;
}

// A folder's listing brings every entry's size and write time with it: `wants` changes nothing here.
std::uint32_t VisitFolder(const std::wstring& folder, const std::function<void(const FolderEntry&)>& visit,
                          const WantsDetails&) {
  try {
    return ListInto(folder, visit);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

std::wstring ResolvedFolder(const std::wstring& folder) {
  try {
    // Opened only to be named: no access to its contents, every kind of sharing.
    const win32::ScopedHandle handle(::CreateFileW(win32::ForFileApi(folder).c_str(), 0,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.IsValid()) return {};
    std::wstring full = win32::SizedText([&handle](wchar_t* buffer, DWORD size) {
      return ::GetFinalPathNameByHandleW(handle.Get(), buffer, size, FILE_NAME_NORMALIZED);
    });
    if (full.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + full.substr(8);
    if (full.rfind(L"\\\\?\\", 0) == 0) return full.substr(4);
    return full;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::wstring ChildPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
  return folder + L"\\" + name;
}

BoundedReadStatus ReadRegularFile(const std::wstring& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                                  std::uint32_t& error) {
  bytes.clear();
  error = ERROR_SUCCESS;
  const auto failed = [&error](DWORD code) {
    error = code;
    return BoundedReadStatus::kFailed;
  };
  try {
    const std::wstring target = win32::ForFileApi(path);
    // Delete sharing too: a collector that replaces a log by renaming over it mustn't fail for our read.
    constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    win32::ScopedHandle file(::CreateFileW(target.c_str(), GENERIC_READ, kSharing, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid()) return failed(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.Get(), &info)) return failed(::GetLastError());
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return failed(ERROR_ACCESS_DENIED);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      if (IsLinkHandle(file.Get(), info)) return failed(kErrorStoppedOnSymlink);
      // Its data comes through the filter only when opened normally; it must still be the same file.
      win32::ScopedHandle data(::CreateFileW(target.c_str(), GENERIC_READ, kSharing, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
      if (!data.IsValid()) return failed(::GetLastError());
      BY_HANDLE_FILE_INFORMATION reopened{};
      if (!::GetFileInformationByHandle(data.Get(), &reopened)) return failed(::GetLastError());
      if (!win32::SameFile(info, reopened)) return failed(kErrorStoppedOnSymlink);
      file = std::move(data);
    }

    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) return failed(::GetLastError());
    if (size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > maxBytes) return BoundedReadStatus::kTooLarge;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));  // within the capacity of earlier reads: no allocation
    std::size_t done = 0;
    if (const DWORD read = win32::ReadUpTo(file.Get(), bytes.data(), bytes.size(), done); read != ERROR_SUCCESS) {
      bytes.clear();
      return failed(read);
    }
    bytes.resize(done);  // a file that shrank meanwhile gives what it still holds
    return BoundedReadStatus::kOk;
  } catch (const std::bad_alloc&) {
    bytes.clear();
    return failed(ERROR_NOT_ENOUGH_MEMORY);
  }
}

}  // namespace platform
