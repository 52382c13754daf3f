// Reading a small text file whole: the patch descriptor and the installed-update record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The ANSI bytes up to the first zero byte, as wide text.
std::wstring AnsiBytesToText(const std::vector<std::uint8_t>& bytes);

// One log entry telling why a file couldn't be opened, read or written: the system's own words and the file's name.
std::wstring DescribeFileError(std::uint32_t code, const std::wstring& path);
