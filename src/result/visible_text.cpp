#include "result/visible_text.h"

#include "platform/utf8.h"

namespace result {

namespace {

// Characters that are no text to read but act on how text shows or where it goes: C0 and C1 controls and
// DEL (terminal escapes, bells, line breaks), bidirectional marks, embeddings, overrides and isolates
// (text shown reversed), zero-width and other invisible characters, variation selectors, line and
// paragraph separators, tags.
bool IsHiddenOrControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || c == 0x34F || c == 0x61C || c == 0x115F ||
         c == 0x1160 || c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F) ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) ||
         c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) || c == 0xFEFF || c == 0xFFA0 || (c >= 0xFFF9 && c <= 0xFFFB) ||
         (c >= 0x1D173 && c <= 0x1D17A) || (c >= 0xE0000 && c <= 0xE007F) || (c >= 0xE0100 && c <= 0xE01EF);
}

}  // namespace

std::wstring Visible(std::wstring_view text) {
  std::wstring safe;
  safe.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const platform::TextChar one = platform::WideCharAt(text, i);
    if (IsHiddenOrControl(one.c)) {
      safe += L'?';
    } else {
      safe.append(text.substr(i, one.length));
    }
    i += one.length;
  }
  return safe;
}

}  // namespace result
