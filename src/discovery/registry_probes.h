// Finding the installed product in the registry: the view flag and the three probes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A registry or Windows error code as signed decimal text ("%ld").
std::wstring FormatErrorCode(std::int32_t code);

// A registry value's bytes as UTF-16 text up to the first NUL, never beyond the byte count
// (an odd last byte is dropped); nothing trimmed or expanded.
std::wstring DecodeRegistryString(const std::vector<std::uint8_t>& bytes);
