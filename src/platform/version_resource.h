// The file version words of an executable's version resource.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

struct FileVersionWords {
  std::uint32_t ms = 0;  // dwFileVersionMS: major << 16 | minor
  std::uint32_t ls = 0;  // dwFileVersionLS: build << 16 | revision
};

// The file version words of the root block's fixed file information; nullopt when the file has
// no usable version information (none, unreadable, or no fixed record).
std::optional<FileVersionWords> ReadFileVersionWords(const std::wstring& path);

}  // namespace platform
