// UTF-8 and wide text, one character at a time and whole. No call into the system, so every layer may
// use it. Wide text is UTF-16 on Windows and UTF-32 on Linux: a surrogate pair counts as one character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

inline constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The character's UTF-8 bytes, after what `out` holds: a lead byte marking how many follow, then six bits each.
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
    return;
  }
  const int following = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  constexpr unsigned kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out.push_back(static_cast<char>(kLead[following] | (c >> (6 * following))));
  for (int k = following - 1; k >= 0; --k) out.push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
}

// The character's wide units, after what `out` holds.
inline void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
      return;
    }
  }
  out.push_back(static_cast<wchar_t>(c));
}

struct TextChar {
  char32_t c = 0;
  std::size_t length = 0;  // the units or bytes it takes; 0 when none starts there
};

// The character at `at` of wide text: a surrogate pair as one (2 units), an unpaired surrogate as itself.
inline TextChar WideCharAt(std::wstring_view text, std::size_t at) {
  const auto c = static_cast<char32_t>(text[at]);
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0xD800 && c <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
      return {0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[at + 1]) - 0xDC00), 2};
    }
  }
  return {c, 1};
}

// The character whose UTF-8 bytes start at `at`; length 0 when they are no character (a stray or cut-off
// byte, an overlong form, a surrogate, a value past U+10FFFF).
inline TextChar Utf8CharAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80             ? 1
                             : (lead & 0xE0) == 0xC0 ? 2
                             : (lead & 0xF0) == 0xE0 ? 3
                             : (lead & 0xF8) == 0xF0 ? 4
                                                     : 0;
  if (length == 0 || length > text.size() - at) return {};
  char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if ((next & 0xC0) != 0x80) return {};
    c = (c << 6) | (next & 0x3Fu);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[length] || IsSurrogate(c) || c > 0x10FFFF) return {};
  return {c, length};
}

// UTF-8 from wide text; unpaired surrogates become U+FFFD.
inline std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const TextChar one = WideCharAt(text, i);
    AppendUtf8(out, IsSurrogate(one.c) || one.c > 0x10FFFF ? kReplacementCharacter : one.c);
    i += one.length;
  }
  return out;
}

// Wide text from UTF-8, each byte that starts no character standing as `standIn(byte)`.
template <typename StandIn>
std::wstring FromUtf8(std::string_view text, StandIn standIn) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const TextChar one = Utf8CharAt(text, i);
    AppendWide(out, one.length == 0 ? standIn(static_cast<unsigned char>(text[i])) : one.c);
    i += one.length == 0 ? 1 : one.length;
  }
  return out;
}

// Wide text from UTF-8; each byte that starts no character becomes U+FFFD.
inline std::wstring FromUtf8(std::string_view text) {
  return FromUtf8(text, [](unsigned char) { return kReplacementCharacter; });
}

}  // namespace platform
