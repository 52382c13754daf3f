// Reading a small text file whole: the patch descriptor and the installed-update record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Room for a file error's description, terminating zero included.
inline constexpr std::size_t kFileErrorTextChars = 512;

// One log entry telling why a file couldn't be opened, read or written: the system's own words and the
// file's name, at most kFileErrorTextChars - 1 characters.
std::wstring DescribeFileError(std::uint32_t code, const std::wstring& path);

struct WholeFile {
  std::wstring text;  // empty when it couldn't be read
  bool read = false;
};

// The file's text; logs completed, or the system's reason and failed, in the record's or the
// descriptor's wording.
WholeFile ReadWholeFile(const std::wstring& path, bool forRecord, std::wstring& log);
