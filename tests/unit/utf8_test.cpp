// UTF-8 both ways, and Linux file names, whose bytes that are no character are kept as escapes.
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/native_path.h"
#include "platform/utf8.h"

namespace {

TEST(Utf8Test, FromUtf8_EachKindOfSequence_TheCharacterOrAReplacementPerByte) {
  const struct {
    const char* name;
    std::string bytes;
    std::wstring text;
  } kCases[] = {
      {"ASCII", "PC01", L"PC01"},
      {"two, three and four bytes", "Mu\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80", L"Mu\u00dfe \u20ac \U0001F600"},
      {"an overlong slash", "a\xC0\xAF", L"a\uFFFD\uFFFD"},
      {"a surrogate's bytes", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"cut short", "x\xE2\x82", L"x\uFFFD\uFFFD"},
      {"a stray continuation byte", "\x80x", L"\uFFFDx"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(platform::FromUtf8(row.bytes), row.text);
    if (row.text.find(L'\uFFFD') == std::wstring::npos) {
      EXPECT_EQ(platform::ToUtf8(row.text), row.bytes);
    }
    // A file name listed opens again as the same bytes.
    std::string again;
    EXPECT_TRUE(platform::posix::ToNativePath(platform::posix::FromNativeName(row.bytes), again));
    EXPECT_EQ(again, row.bytes);
  }
  EXPECT_EQ(platform::ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
