// A report writes many short rows: they gather in a buffer and reach WriteFile a buffer at a time. The
// header keeps one integer for the open file, so it points to the new file and buffer together.
#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "platform/output_file.h"
#include "platform/win32/new_file.h"

namespace platform {
namespace {

constexpr std::size_t kBufferBytes = std::size_t{64} * 1024;

struct Stream {
  win32::NewFile file;
  std::string buffer;  // reserved at Open; never grows past kBufferBytes
};

Stream& StreamOf(std::uintptr_t handle) {
  return *reinterpret_cast<Stream*>(handle);  // NOLINT(performance-no-int-to-ptr)
}

DWORD WriteOut(Stream& stream, std::string_view bytes) {
  return stream.file.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

std::uint32_t OutputFile::Open(const std::wstring& path) {
  (void)Close();
  auto stream = std::make_unique<Stream>();
  stream->buffer.reserve(kBufferBytes);
  error_ = stream->file.Create(nullptr, path);
  if (error_ == ERROR_SUCCESS) handle_ = reinterpret_cast<std::uintptr_t>(stream.release());
  return error_;
}

void OutputFile::Write(std::string_view bytes) {
  if (error_ != ERROR_SUCCESS) return;
  if (handle_ == 0) {
    error_ = ERROR_INVALID_HANDLE;
    return;
  }
  Stream& stream = StreamOf(handle_);
  if (stream.buffer.size() + bytes.size() > kBufferBytes) {
    error_ = WriteOut(stream, stream.buffer);
    stream.buffer.clear();
    if (error_ != ERROR_SUCCESS) return;
  }
  if (bytes.size() >= kBufferBytes) {
    error_ = WriteOut(stream, bytes);
    return;
  }
  stream.buffer.append(bytes);
}

std::uint32_t OutputFile::Close() noexcept {
  if (handle_ == 0) return error_;
  // A file with a failed write is dropped, and goes with its handle.
  const std::unique_ptr<Stream> stream(&StreamOf(std::exchange(handle_, 0)));
  if (error_ == ERROR_SUCCESS) error_ = WriteOut(*stream, stream->buffer);
  // Naming the target for the move takes memory; without it the file is dropped like any that failed.
  try {
    if (error_ == ERROR_SUCCESS) error_ = stream->file.MoveIntoPlace(true);
  } catch (const std::bad_alloc&) {
    error_ = ERROR_NOT_ENOUGH_MEMORY;
  }
  return error_;
}

}  // namespace platform
