#include "result/outcome_file.h"

#include <cstddef>
#include <map>

namespace result {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
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

void AppendJsonString(std::string& out, std::wstring_view text) {
  out.push_back('"');
  std::string utf8 = ToUtf8(text);
  for (const char ch : utf8) {
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

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  // The flat object's members: strings as text, numbers as their digits; nullopt on any error.
  std::optional<std::map<std::string, std::wstring>> ReadObject() {
    std::map<std::string, std::wstring> members;
    SkipSpace();
    if (!Eat('{')) return std::nullopt;
    SkipSpace();
    if (Eat('}')) return Finish(members);
    for (;;) {
      SkipSpace();
      auto key = ReadString();
      SkipSpace();
      if (!key || !Eat(':')) return std::nullopt;
      SkipSpace();
      auto value = Peek() == '"' ? ReadString() : ReadNumber();
      if (!value) return std::nullopt;
      members[ToUtf8(*key)] = std::move(*value);
      SkipSpace();
      if (Eat('}')) return Finish(members);
      if (!Eat(',')) return std::nullopt;
    }
  }

 private:
  std::optional<std::map<std::string, std::wstring>> Finish(std::map<std::string, std::wstring>& members) {
    SkipSpace();
    if (at_ != text_.size()) return std::nullopt;
    return std::move(members);
  }
  char Peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  bool Eat(char c) {
    if (Peek() != c || at_ >= text_.size()) return false;
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
  std::optional<std::wstring> ReadString() {
    if (!Eat('"')) return std::nullopt;
    std::string raw;
    std::wstring out;
    auto flush = [&] {
      out += FromUtf8(raw);
      raw.clear();
    };
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') {
        flush();
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        raw.push_back(c);
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      const char e = text_[at_++];
      switch (e) {
        case '"': raw.push_back('"'); break;
        case '\\': raw.push_back('\\'); break;
        case '/': raw.push_back('/'); break;
        case 'b': raw.push_back('\b'); break;
        case 'f': raw.push_back('\f'); break;
        case 'n': raw.push_back('\n'); break;
        case 'r': raw.push_back('\r'); break;
        case 't': raw.push_back('\t'); break;
        case 'u': {
          auto unit = ReadHex4();
          if (!unit) return std::nullopt;
          char32_t c32 = *unit;
          if (c32 >= 0xD800 && c32 <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
            at_ += 2;
            auto low = ReadHex4();
            if (!low) return std::nullopt;
            c32 = (*low >= 0xDC00 && *low <= 0xDFFF) ? 0x10000 + ((c32 - 0xD800) << 10) + (*low - 0xDC00)
                                                     : kReplacement;
          } else if (c32 >= 0xD800 && c32 <= 0xDFFF) {
            c32 = kReplacement;
          }
          AppendUtf8(raw, c32);
          break;
        }
        default: return std::nullopt;
      }
    }
    return std::nullopt;
  }
  std::optional<std::wstring> ReadNumber() {
    const std::size_t start = at_;
    while (at_ < text_.size() && ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '-')) ++at_;
    if (at_ == start) return std::nullopt;
    std::wstring digits;
    for (std::size_t i = start; i < at_; ++i) digits.push_back(static_cast<wchar_t>(text_[i]));
    return digits;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

std::optional<std::uint32_t> ReadCode(const std::wstring& digits) {
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[++i]) - 0xDC00);
      }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = kReplacement;
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not characters.
    constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || c < kMinimum[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      AppendWide(out, kReplacement);
      ++i;
      continue;
    }
    AppendWide(out, c);
    i += length;
  }
  return out;
}

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
  const auto members = JsonReader(text).ReadObject();
  if (!members) return std::nullopt;
  auto get = [&members](const char* key) {
    const auto it = members->find(key);
    return it == members->end() ? std::wstring() : it->second;
  };
  const auto outcome = OutcomeFromName(get("outcome"));
  if (!outcome) return std::nullopt;
  OutcomeRecord record;
  record.machine = get("machine");
  record.time = get("time");
  record.outcome = *outcome;
  record.code = ReadCode(get("code")).value_or(ExitCodeOf(*outcome));
  record.reason = get("reason");
  record.patch = get("patch");
  record.patchVersion = get("patch_version");
  record.versionBefore = get("version_before");
  record.versionAfter = get("version_after");
  return record;
}

}  // namespace result
