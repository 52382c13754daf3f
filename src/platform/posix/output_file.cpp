// A report writes many short rows: they gather in a buffer and reach write() a buffer at a time. The
// header keeps one integer for the open file, so it points to the descriptor and buffer together.
// Errors are errno values.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/output_file.h"
#include "platform/posix/native_path.h"
#include "platform/posix/scoped_fd.h"

namespace platform {
namespace {

constexpr std::size_t kBufferBytes = std::size_t{64} * 1024;

struct Stream {
  posix::ScopedFd file;
  std::string buffer;  // reserved at Open; never grows past kBufferBytes
  std::string target;
  std::string temporary;
};

// Names for the new file beside the target tried before giving up.
constexpr int kTemporaryAttempts = 100;

Stream& StreamOf(std::uintptr_t handle) {
  return *reinterpret_cast<Stream*>(handle);  // NOLINT(performance-no-int-to-ptr)
}

// Writes every byte; 0 or errno.
int WriteAll(int fd, const char* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t written = ::write(fd, bytes + done, count - done);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

std::uint32_t Flush(Stream& stream) {
  const int error = WriteAll(stream.file.Get(), stream.buffer.data(), stream.buffer.size());
  stream.buffer.clear();
  return static_cast<std::uint32_t>(error);
}

}  // namespace

std::uint32_t OutputFile::Open(const std::wstring& path) {
  (void)Close();
  std::string target;
  if (!posix::ToNativePath(path, target)) {
    error_ = EILSEQ;
    return error_;
  }
  auto stream = std::make_unique<Stream>();
  stream->buffer.reserve(kBufferBytes);
  stream->target = target;
  for (int attempt = 0; attempt < kTemporaryAttempts && !stream->file.IsValid(); ++attempt) {
    stream->temporary = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    stream->file =
        posix::ScopedFd(::open(stream->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!stream->file.IsValid() && errno != EEXIST) break;
  }
  error_ = stream->file.IsValid() ? 0 : static_cast<std::uint32_t>(errno);
  if (error_ == 0) handle_ = reinterpret_cast<std::uintptr_t>(stream.release());
  return error_;
}

void OutputFile::Write(std::string_view bytes) {
  if (error_ != 0) return;
  if (handle_ == 0) {
    error_ = EBADF;
    return;
  }
  Stream& stream = StreamOf(handle_);
  if (stream.buffer.size() + bytes.size() > kBufferBytes) {
    error_ = Flush(stream);
    if (error_ != 0) return;
  }
  if (bytes.size() >= kBufferBytes) {
    error_ = static_cast<std::uint32_t>(WriteAll(stream.file.Get(), bytes.data(), bytes.size()));
    return;
  }
  stream.buffer.append(bytes);
}

std::uint32_t OutputFile::Close() noexcept {
  if (handle_ == 0) return error_;
  const std::unique_ptr<Stream> stream(&StreamOf(std::exchange(handle_, 0)));
  if (error_ == 0) error_ = Flush(*stream);
  // On the disk before it takes the name, so a crash leaves the old file or the whole new one.
  if (error_ == 0 && ::fsync(stream->file.Get()) != 0) error_ = static_cast<std::uint32_t>(errno);
  if (!stream->file.Close() && error_ == 0) error_ = static_cast<std::uint32_t>(errno);
  if (error_ == 0 && ::rename(stream->temporary.c_str(), stream->target.c_str()) != 0) {
    error_ = static_cast<std::uint32_t>(errno);
  }
  if (error_ != 0) (void)::unlink(stream->temporary.c_str());
  return error_;
}

}  // namespace platform
