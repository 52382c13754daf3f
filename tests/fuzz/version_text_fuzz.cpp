// Feeds arbitrary file version words to the version text and checks it reads back to the same words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "discovery/exe_version.h"

namespace {

std::uint32_t Word(const std::uint8_t* data, std::size_t size, std::size_t at) {
  std::uint32_t word = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    word = word << 8 | (at + i < size ? data[at + i] : 0u);
  }
  return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const platform::FileVersionWords words{Word(data, size, 0), Word(data, size, 4)};
  const std::wstring text = FormatVersionText(words);

  std::uint32_t parts[4] = {};
  std::size_t part = 0;
  std::size_t digits = 0;
  for (const wchar_t c : text) {
    if (c == L'.') {
      if (digits == 0 || ++part > 3) std::abort();
      digits = 0;
    } else if (c >= L'0' && c <= L'9') {
      if (digits == 1 && parts[part] == 0) std::abort();  // no leading zeros
      parts[part] = parts[part] * 10 + static_cast<std::uint32_t>(c - L'0');
      if (++digits > 5) std::abort();
    } else {
      std::abort();
    }
  }
  if (part != 3 || digits == 0) std::abort();
  if ((parts[0] << 16 | parts[1]) != words.ms || (parts[2] << 16 | parts[3]) != words.ls) std::abort();
  if (FormatRevisionText(words) != text.substr(text.rfind(L'.') + 1)) std::abort();
  return 0;
}
