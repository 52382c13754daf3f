// Text that came from a machine, made safe to show on a terminal, in a spreadsheet cell or on a page.
#pragma once

#include <string>
#include <string_view>

namespace result {

// `text` with each character that is no text to read (controls, bidi marks, zero-width and other invisible
// characters, line separators; a surrogate pair as one) replaced by '?'.
std::wstring Visible(std::wstring_view text);

}  // namespace result
