// Wide text as Linux file names: UTF-8, and a name that is not valid UTF-8 keeps its bytes, each invalid
// byte 0x80..0xFF standing as U+DC80..U+DCFF (a lone low surrogate, which no valid text holds), so every
// name listed opens again as the same bytes. Private to the Linux layer; header-only, so a unit test can
// include it without the rest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/utf8.h"

namespace platform::posix {

static_assert(sizeof(wchar_t) == 4, "wide text is UTF-32 on this side");

inline constexpr std::uint32_t kEscapeBase = 0xDC00;  // U+DC80..U+DCFF carry the bytes 0x80..0xFF

// The bytes for `text` into `bytes`; false (and `bytes` cleared) when it holds a NUL, a surrogate other
// than an escaped byte, or no character at all.
inline bool ToNativePath(std::wstring_view text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size());
  for (const wchar_t wide : text) {
    const auto c = static_cast<std::uint32_t>(static_cast<std::int32_t>(wide));
    if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
      bytes.push_back(static_cast<char>(static_cast<unsigned char>(c - kEscapeBase)));
    } else if (c == 0 || IsSurrogate(c) || c > 0x10FFFF) {
      bytes.clear();
      return false;
    } else {
      AppendUtf8(bytes, c);
    }
  }
  return true;
}

// The wide text for a name's bytes: each valid UTF-8 sequence (shortest form, no surrogate) as its
// character, each other byte escaped.
inline std::wstring FromNativeName(std::string_view bytes) {
  return FromUtf8(bytes, [](unsigned char byte) { return static_cast<char32_t>(kEscapeBase + byte); });
}

}  // namespace platform::posix
