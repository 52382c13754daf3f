// A report writes many short rows: they gather in a buffer and reach WriteFile a buffer at a time. The
// header keeps one integer for the open file, so it points to the handle and buffer together.
#include <windows.h>

#include <memory>
#include <string>
#include <new>

#include "platform/output_file.h"
#include "platform/win32/file_io.h"
#include "platform/win32/long_path.h"
#include "platform/win32/scoped_handle.h"

namespace platform {
namespace {

constexpr std::size_t kBufferBytes = std::size_t{64} * 1024;

struct Stream {
  win32::ScopedHandle file;
  std::string buffer;  // reserved at Open; never grows past kBufferBytes
  std::wstring target;
  std::wstring temporary;
};

// Names for the new file beside the target tried before giving up.
constexpr unsigned kTemporaryAttempts = 100;

Stream& StreamOf(std::uintptr_t handle) { return *reinterpret_cast<Stream*>(handle); }  // NOLINT(performance-no-int-to-ptr)

DWORD Flush(Stream& stream) {
  const DWORD error = win32::WriteAll(stream.file.Get(), reinterpret_cast<const std::uint8_t*>(stream.buffer.data()),
                                      stream.buffer.size());
  stream.buffer.clear();
  return error;
}

}  // namespace

std::uint32_t OutputFile::Open(const std::wstring& path) {
  (void)Close();
  try {
    auto stream = std::make_unique<Stream>();
    stream->buffer.reserve(kBufferBytes);
    stream->target = win32::ForFileApi(path);
    error_ = ERROR_SUCCESS;
    for (unsigned attempt = 0; attempt < kTemporaryAttempts && !stream->file.IsValid(); ++attempt) {
      stream->temporary = win32::ForFileApi(path + L".~" + std::to_wstring(::GetCurrentProcessId()) + L"." +
                                            std::to_wstring(attempt) + L".tmp");
      stream->file = win32::ScopedHandle(::CreateFileW(stream->temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      error_ = stream->file.IsValid() ? ERROR_SUCCESS : ::GetLastError();
      if (error_ != ERROR_FILE_EXISTS && error_ != ERROR_ALREADY_EXISTS) break;
    }
    if (error_ == ERROR_SUCCESS) handle_ = reinterpret_cast<std::uintptr_t>(stream.release());
  } catch (const std::bad_alloc&) {
    error_ = ERROR_NOT_ENOUGH_MEMORY;
  }
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
    error_ = Flush(stream);
    if (error_ != ERROR_SUCCESS) return;
  }
  if (bytes.size() >= kBufferBytes) {
    error_ = win32::WriteAll(stream.file.Get(), reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return;
  }
  stream.buffer.append(bytes);
}

std::uint32_t OutputFile::Close() noexcept {
  if (handle_ == 0) return error_;
  const std::unique_ptr<Stream> stream(&StreamOf(std::exchange(handle_, 0)));
  if (error_ == ERROR_SUCCESS) error_ = Flush(*stream);
  if (!stream->file.Close() && error_ == ERROR_SUCCESS) error_ = ::GetLastError();
  if (error_ == ERROR_SUCCESS &&
      !::MoveFileExW(stream->temporary.c_str(), stream->target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = ::GetLastError();
  }
  if (error_ != ERROR_SUCCESS) (void)::DeleteFileW(stream->temporary.c_str());
  return error_;
}

}  // namespace platform
