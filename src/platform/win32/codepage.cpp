#include <windows.h>

#include <algorithm>
#include <climits>
#include <iterator>

#include "platform/codepage.h"

namespace platform {
namespace {

// The conversion calls count in int; longer text goes in pieces (never split inside a surrogate pair).
constexpr std::size_t kMaxPiece = INT_MAX / 4;

std::size_t WidePieceLength(std::wstring_view text) {
  std::size_t length = std::min(text.size(), kMaxPiece);
  if (length < text.size() && IS_HIGH_SURROGATE(text[length - 1])) --length;
  return length;
}

// When the system refuses the conversion: ASCII passes, everything else becomes '?'.
void AppendAsciiOnly(std::wstring_view text, std::vector<std::uint8_t>& bytes) {
  std::transform(text.begin(), text.end(), std::back_inserter(bytes),
                 [](wchar_t c) { return c < 0x80 ? static_cast<std::uint8_t>(c) : std::uint8_t{'?'}; });
}

void AppendNarrowed(std::wstring_view piece, std::vector<std::uint8_t>& bytes) {
  // A UTF-8 ANSI code page (the system-wide UTF-8 option) takes neither flags nor a default character.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* defaultChar = utf8 ? nullptr : "?";
  const int wideLength = static_cast<int>(piece.size());
  const int needed = ::WideCharToMultiByte(CP_ACP, flags, piece.data(), wideLength, nullptr, 0, defaultChar, nullptr);
  if (needed <= 0) {
    AppendAsciiOnly(piece, bytes);
    return;
  }
  const std::size_t start = bytes.size();
  bytes.resize(start + static_cast<std::size_t>(needed));
  auto* out = reinterpret_cast<char*>(bytes.data() + start);
  const int written = ::WideCharToMultiByte(CP_ACP, flags, piece.data(), wideLength, out, needed, defaultChar, nullptr);
  if (written <= 0) {
    bytes.resize(start);
    AppendAsciiOnly(piece, bytes);
    return;
  }
  bytes.resize(start + static_cast<std::size_t>(written));
}

void AppendWidened(const std::uint8_t* bytes, std::size_t count, std::wstring& text) {
  const auto* narrow = reinterpret_cast<const char*>(bytes);
  const int narrowLength = static_cast<int>(count);
  const int needed = ::MultiByteToWideChar(CP_ACP, 0, narrow, narrowLength, nullptr, 0);
  const std::size_t start = text.size();
  if (needed > 0) {
    text.resize(start + static_cast<std::size_t>(needed));
    const int written = ::MultiByteToWideChar(CP_ACP, 0, narrow, narrowLength, text.data() + start, needed);
    if (written > 0) {
      text.resize(start + static_cast<std::size_t>(written));
      return;
    }
    text.resize(start);
  }
  // The system refused: keep every byte, each as the character of the same number.
  for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<wchar_t>(bytes[i]));
}

}  // namespace

std::vector<std::uint8_t> WideToAnsi(std::wstring_view text) {
  std::vector<std::uint8_t> bytes;
  while (!text.empty()) {
    const std::size_t length = WidePieceLength(text);
    AppendNarrowed(text.substr(0, length), bytes);
    text.remove_prefix(length);
  }
  return bytes;
}

std::wstring AnsiToWide(const std::uint8_t* bytes, std::size_t count) {
  std::wstring text;
  // Pieces only for input beyond 512 MiB, which nothing here reads; a double-byte pair could be split there.
  while (count > 0) {
    const std::size_t length = std::min(count, kMaxPiece);
    AppendWidened(bytes, length, text);
    bytes += length;
    count -= length;
  }
  return text;
}

}  // namespace platform
