#include "result/flat_json.h"

#include <cstddef>
#include <optional>

#include "platform/utf8.h"

namespace result {

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool ReadObject(const std::function<void(std::string_view, std::string_view, bool)>& member) {
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
      const bool isString = at_ < text_.size() && text_[at_] == '"';
      if (!(isString ? ReadString(value_) : ReadNumber(value_))) return false;
      member(key_, value_, isString);
      SkipSpace();
      if (Eat('}')) return Finish();
      if (!Eat(',')) return false;
    }
  }

 private:
  bool Finish() {
    SkipSpace();
    return at_ == text_.size();
  }

  bool Eat(char c) {
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n')) {
      ++at_;
    }
  }

  std::optional<unsigned> ReadHex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      value <<= 4;
      if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
      else return std::nullopt;
    }
    return value;
  }

  bool ReadString(std::string& out) {
    out.clear();
    if (!Eat('"')) return false;
    while (at_ < text_.size()) {
      // Plain runs are copied whole.
      std::size_t run = at_;
      while (run < text_.size() && text_[run] != '"' && text_[run] != '\\' &&
             static_cast<unsigned char>(text_[run]) >= 0x20) {
        ++run;
      }
      out.append(text_.substr(at_, run - at_));
      at_ = run;
      if (at_ >= text_.size()) return false;
      const char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\' || at_ >= text_.size()) return false;  // a control character, or an escape cut off
      const char e = text_[at_++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          auto unit = ReadHex4();
          if (!unit) return false;
          char32_t c32 = *unit;
          if (c32 >= 0xD800 && c32 <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            auto low = ReadHex4();
            if (!low) return false;
            c32 = (*low >= 0xDC00 && *low <= 0xDFFF) ? 0x10000 + ((c32 - 0xD800) << 10) + (*low - 0xDC00)
                                                     : platform::kReplacementCharacter;
          } else if (platform::IsSurrogate(c32)) {
            c32 = platform::kReplacementCharacter;
          }
          platform::AppendUtf8(out, c32);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  bool ReadNumber(std::string& out) {
    const std::size_t start = at_;
    while (at_ < text_.size() && ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '-')) ++at_;
    out.assign(text_.substr(start, at_ - start));
    return at_ != start;
  }

  std::string_view text_;
  std::size_t at_ = 0;
  // Reused from member to member.
  std::string key_;
  std::string value_;
};

}  // namespace

void AppendJsonString(std::string& out, std::wstring_view text) {
  out.push_back('"');
  for (const char ch : platform::ToUtf8(text)) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
}

bool ReadFlatObject(std::string_view text,
                    const std::function<void(std::string_view key, std::string_view value, bool isString)>& member) {
  return Reader(text).ReadObject(member);
}

}  // namespace result
