// Wide text as Linux file names: UTF-8, and a name that is not valid UTF-8 keeps its bytes, each invalid
// byte 0x80..0xFF standing as U+DC80..U+DCFF (a lone low surrogate, which no valid text holds), so every
// name listed opens again as the same bytes. Private to the Linux layer; header-only, so a unit test can
// include it without the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::posix {

static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on this side");

inline constexpr std::uint32_t kEscapeBase = 0xDC00;  // U+DC80..U+DCFF carry the bytes 0x80..0xFF

// The bytes for `text` into `bytes`; false (and `bytes` cleared) when it holds a NUL, a surrogate other
// than an escaped byte, or no character at all.
inline bool ToNativePath(std::wstring_view text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size());
  const auto put = [&bytes](std::uint32_t byte) { bytes.push_back(static_cast<char>(static_cast<unsigned char>(byte))); };
  for (const wchar_t wide : text) {
    const auto c = static_cast<std::uint32_t>(static_cast<std::int32_t>(wide));
    if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
      put(c - kEscapeBase);
    } else if (c == 0 || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      bytes.clear();
      return false;
    } else if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | (c >> 6));
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | (c >> 12));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | (c >> 18));
      put(0x80 | ((c >> 12) & 0x3F));
      put(0x80 | ((c >> 6) & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return true;
}

// The wide text for a name's bytes: each valid UTF-8 sequence (shortest form, no surrogate) as its
// character, each other byte escaped.
inline std::wstring FromNativeName(std::string_view bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]));
    std::size_t length = 0;
    std::uint32_t c = 0;
    std::uint32_t least = 0;
    if (lead < 0x80) {
      length = 1;
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      c = lead & 0x1F;
      least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      c = lead & 0x0F;
      least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      c = lead & 0x07;
      least = 0x10000;
    }
    bool valid = length != 0 && length <= bytes.size() - i;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + k]));
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    valid = valid && c >= least && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    if (!valid) {
      text.push_back(static_cast<wchar_t>(kEscapeBase + lead));
      ++i;
      continue;
    }
    text.push_back(static_cast<wchar_t>(c));
    i += length;
  }
  return text;
}

}  // namespace platform::posix
