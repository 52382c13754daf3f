#include "result/outcome_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/utf8.h"

namespace result {
namespace {

// One flat JSON object, its members read one by one: strings as UTF-8 with their escapes resolved,
// numbers as their characters. Anything else (a nested value, a second object, text cut short) fails
// the object; the members seen until then were given already.
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
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n')) {
      ++at_;
    }
  }

  std::optional<unsigned> ReadHex4() {
    if (text_.size() - at_ < 4) return std::nullopt;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      value <<= 4;
      if (c >= '0' && c <= '9')
        value |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= static_cast<unsigned>(c - 'A' + 10);
      else
        return std::nullopt;
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

// `text` as a JSON string, quotes included, in UTF-8. Control characters are escaped, so the string
// never breaks its line.
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

std::optional<std::uint32_t> ReadCode(std::string_view digits) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::string FormatOutcomeRecord(const OutcomeRecord& record) {
  std::string out = "{";
  auto member = [&out](const char* key, std::wstring_view value) {
    if (out.size() > 1) out += ", ";
    out += '"';
    out += key;
    out += "\": ";
    AppendJsonString(out, value);
  };
  member("machine", record.machine);
  member("time", record.time);
  member("outcome", OutcomeName(record.outcome));
  out += ", \"code\": " + std::to_string(record.code);
  member("reason", record.reason);
  member("patch", record.patch);
  member("patch_version", record.patchVersion);
  member("version_before", record.versionBefore);
  member("version_after", record.versionAfter);
  out += "}";
  return out;
}

std::optional<OutcomeRecord> ParseOutcomeRecord(std::string_view text) {
  // A UTF-8 byte-order mark, as an editor may add one.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  OutcomeRecord record;
  std::optional<Outcome> outcome;
  std::optional<std::uint32_t> code;
  // A member given twice counts by its last value, as JSON readers commonly take it.
  const bool read = Reader(text).ReadObject([&](std::string_view key, std::string_view value, bool isString) {
    std::wstring* field = key == "machine"          ? &record.machine
                          : key == "time"           ? &record.time
                          : key == "reason"         ? &record.reason
                          : key == "patch"          ? &record.patch
                          : key == "patch_version"  ? &record.patchVersion
                          : key == "version_before" ? &record.versionBefore
                          : key == "version_after"  ? &record.versionAfter
                                                    : nullptr;
    if (field != nullptr) {
      *field = isString ? platform::FromUtf8(value) : std::wstring(value.begin(), value.end());
    } else if (key == "outcome") {
      outcome = OutcomeFromName(isString ? platform::FromUtf8(value) : std::wstring());
    } else if (key == "code") {
      code = ReadCode(value);
    }
  });
  if (!read || !outcome) return std::nullopt;
  record.outcome = *outcome;
  record.code = code.value_or(ExitCodeOf(*outcome));
  return record;
}

}  // namespace result
