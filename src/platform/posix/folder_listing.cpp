// Nothing is opened through a symbolic link: the folder is opened with O_NOFOLLOW (a root given as a
// link fails with ELOOP; given with a trailing slash, "logs/", the system resolves it before we look),
// entries are looked at with AT_SYMLINK_NOFOLLOW relative to the open folder, and files are opened with
// O_NOFOLLOW | O_NONBLOCK, so a FIFO can't block the walk and is refused with the other non-files.
// Errors are errno values: ELOOP for a link, ENOTDIR for a file given as a folder, EISDIR for a folder
// given as a file, ENOTSUP for anything else that is no regular file, EILSEQ for a name that can't be
// spelled in bytes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "platform/folder_listing.h"
#include "platform/posix/native_path.h"
#include "platform/posix/scoped_fd.h"

namespace platform {
namespace {

// Owner of an open directory stream (and the descriptor it was made from).
struct DirTraits {
  static DIR* InvalidValue() noexcept { return nullptr; }
  static bool Free(DIR* dir) noexcept { return ::closedir(dir) == 0; }
};
using ScopedDir = ScopedGeneric<DIR*, DirTraits>;

// The kind readdir gives, where the file system gives one, saves a stat per entry; only an entry whose
// kind it doesn't give, or a file whose details are wanted, is looked at.
int ListInto(const std::string& path, const std::function<void(const FolderEntry&)>& visit, const WantsDetails& wants) {
  posix::ScopedFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.IsValid()) {
    const int error = errno;
    // With O_DIRECTORY a link fails as "not a directory"; it is refused for being a link.
    struct stat info {};
    if (error == ENOTDIR && ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) return ELOOP;
    return error;
  }
  DIR* opened = ::fdopendir(fd.Get());
  if (opened == nullptr) return errno;
  const ScopedDir dir(opened);
  (void)fd.Release();  // the stream owns it now
  for (;;) {
    errno = 0;
    // Each call has a stream of its own, and glibc's readdir is safe per stream.
    const dirent* entry = ::readdir(dir.Get());  // NOLINT(concurrency-mt-unsafe)
    if (entry == nullptr) return errno;          // 0 at the end
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    FolderEntry listed;
    listed.name = posix::FromNativeName(name);
    if (entry->d_type != DT_UNKNOWN && (entry->d_type != DT_REG || (wants && !wants(listed.name)))) {
      listed.isFolder = entry->d_type == DT_DIR;
      listed.isLink = entry->d_type == DT_LNK;
      visit(listed);
      continue;
    }
    struct stat info {};
    if (::fstatat(::dirfd(dir.Get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // removed since it was listed
      return errno;
    }
    listed.isFolder = S_ISDIR(info.st_mode);
    listed.isLink = S_ISLNK(info.st_mode);
    listed.size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
    listed.writeTime = static_cast<std::int64_t>(info.st_mtime);
    visit(listed);
  }
}

}  // namespace

std::uint32_t ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries, const WantsDetails& wants) {
  entries.clear();
  const std::uint32_t error = VisitFolder(
      folder, [&entries](const FolderEntry& entry) { entries.push_back(entry); }, wants);
  if (error != 0) entries.clear();
  return error;
}

std::uint32_t VisitFolder(const std::wstring& folder, const std::function<void(const FolderEntry&)>& visit,
                          const WantsDetails& wants) {
  try {
    std::string path;
    if (!posix::ToNativePath(folder, path)) return EILSEQ;
    return static_cast<std::uint32_t>(ListInto(path, visit, wants));
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

std::wstring ResolvedFolder(const std::wstring& folder) {
  try {
    std::string path;
    if (!posix::ToNativePath(folder, path)) return {};
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::wstring full = posix::FromNativeName(resolved);
    std::free(resolved);  // NOLINT(cppcoreguidelines-no-malloc): realpath's own allocation
    return full;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::wstring ChildPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'/') return folder + name;
  return folder + L"/" + name;
}

BoundedReadStatus ReadRegularFile(const std::wstring& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                                  std::uint32_t& error) {
  bytes.clear();
  error = 0;
  const auto failed = [&error](int code) {
    error = static_cast<std::uint32_t>(code);
    return BoundedReadStatus::kFailed;
  };
  try {
    std::string target;
    if (!posix::ToNativePath(path, target)) return failed(EILSEQ);
    const posix::ScopedFd file(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!file.IsValid()) return failed(errno);
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) return failed(errno);
    if (S_ISDIR(info.st_mode)) return failed(EISDIR);
    if (!S_ISREG(info.st_mode)) return failed(ENOTSUP);
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > maxBytes) return BoundedReadStatus::kTooLarge;
    bytes.resize(static_cast<std::size_t>(info.st_size));  // within the capacity of earlier reads: no allocation
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t read = ::read(file.Get(), bytes.data() + done, bytes.size() - done);
      if (read < 0 && errno == EINTR) continue;
      if (read < 0) {
        const int code = errno;
        bytes.clear();
        return failed(code);
      }
      if (read == 0) break;  // it shrank meanwhile: what it still holds
      done += static_cast<std::size_t>(read);
    }
    bytes.resize(done);
    return BoundedReadStatus::kOk;
  } catch (const std::bad_alloc&) {
    bytes.clear();
    return failed(ENOMEM);
  }
}

}  // namespace platform
