// One flat JSON object on one line, the form of the outcome file: strings written escaped, and members
// read one by one into whatever the caller keeps, with no map in between.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace result {

// `text` as a JSON string, quotes included, in UTF-8, after what `out` holds. Control characters are
// escaped, so the string never breaks its line.
void AppendJsonString(std::string& out, std::wstring_view text);

class FlatJsonReader {
 public:
  explicit FlatJsonReader(std::string_view text) : text_(text) {}

  // Calls `member(key, value, isString)` for each member of the one object the text holds: strings as
  // UTF-8 with their escapes resolved, numbers as their characters. False for anything else (a nested
  // value, a second object, text cut short); the members seen until then were given already.
  template <typename Member>
  bool ReadObject(Member member) {
    SkipSpace();
    if (!Eat('{')) return false;
    SkipSpace();
    if (Eat('}')) return Finish();
    for (;;) {
      SkipSpace();
      if (!ReadString(key_)) return false;
      SkipSpace();
      if (!Eat(':')) return false;
      SkipSpace();
      const bool isString = Peek() == '"';
      if (!(isString ? ReadString(value_) : ReadNumber(value_))) return false;
      member(std::string_view(key_), std::string_view(value_), isString);
      SkipSpace();
      if (Eat('}')) return Finish();
      if (!Eat(',')) return false;
    }
  }

 private:
  bool Finish();
  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  bool Eat(char c);
  void SkipSpace();
  std::optional<unsigned> ReadHex4();
  bool ReadString(std::string& out);
  bool ReadNumber(std::string& out);

  std::string_view text_;
  std::size_t at_ = 0;
  // Reused from member to member.
  std::string key_;
  std::string value_;
};

}  // namespace result
