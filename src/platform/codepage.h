// Conversions between wide text and the system's ANSI code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Narrows through the ANSI code page; a character it cannot hold becomes '?'.
std::vector<std::uint8_t> WideToAnsi(std::wstring_view text);

// Widens bytes of the ANSI code page; no byte is dropped (a zero byte gives a NUL character).
std::wstring AnsiToWide(const std::uint8_t* bytes, std::size_t count);

}  // namespace platform
