// Whole-file operations and paths, as the run log, the descriptor and the installed-update record use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A plain existence test: true when a file or folder is there.
bool PathExists(const std::wstring& path);

// True only when a file, not a folder, is there.
bool FileExists(const std::wstring& path);

// The file's last write time in the system's 100-nanosecond units (see CurrentSystemTime); nullopt
// when there is no such file or the system won't say.
std::optional<std::uint64_t> FileWriteTime(const std::wstring& path);

enum class FileReadStatus { kOk, kOpenFailed, kReadFailed };

struct FileReadResult {
  FileReadStatus status = FileReadStatus::kOk;
  std::uint32_t error = 0;          // the error code when status isn't kOk
  std::vector<std::uint8_t> bytes;  // the whole file when status is kOk
};

// Opens the file for reading without sharing and reads it whole as raw bytes.
FileReadResult ReadFileExclusive(const std::wstring& path);

// Creates or truncates the file, without sharing, and writes the bytes. Returns 0 or the error code;
// what was written before a failure stays in the file.
std::uint32_t WriteFileExclusive(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

// Replaces the file's contents in one step: a temporary file beside it is written and flushed,
// then moved over it. Returns 0 or the error code; on failure the old file is untouched and
// the temporary file is gone.
std::uint32_t ReplaceFileAtomically(const std::wstring& path, const std::vector<std::uint8_t>& bytes);

}  // namespace platform
