// Whole transfers through a file handle, in pieces: ReadFile and WriteFile take 32-bit counts; and which
// file a handle is on.
// Private to the Windows layer.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace platform::win32 {

inline constexpr std::size_t kFileChunkBytes = 1U << 20;

inline DWORD FileChunkOf(std::size_t remaining) { return static_cast<DWORD>(std::min(remaining, kFileChunkBytes)); }

// Writes every byte; 0 or the error code.
inline DWORD WriteAll(HANDLE file, const std::uint8_t* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    DWORD written = 0;
    if (!::WriteFile(file, bytes + done, FileChunkOf(count - done), &written, nullptr)) return ::GetLastError();
    if (written == 0) return ERROR_WRITE_FAULT;
    done += written;
  }
  return ERROR_SUCCESS;
}

// Reads until `count` bytes are in or the file ends; `done` says how many came. 0 or the error code.
inline DWORD ReadUpTo(HANDLE file, std::uint8_t* bytes, std::size_t count, std::size_t& done) {
  done = 0;
  while (done < count) {
    DWORD read = 0;
    if (!::ReadFile(file, bytes + done, FileChunkOf(count - done), &read, nullptr)) return ::GetLastError();
    if (read == 0) break;
    done += read;
  }
  return ERROR_SUCCESS;
}

// Whether two handles' information names the same file: same volume, same file ID.
inline bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace platform::win32
