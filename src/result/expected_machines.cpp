// An export is read as the programs that make it write it: a byte-order mark, Excel's "sep=" line and its
// `;` where the decimal separator is a comma, Windows PowerShell's "#TYPE" line, quoted cells with line
// breaks in them, UTF-16 from a PowerShell redirection. Machines compare as Windows names them: case-blind, by their
// NetBIOS part.
#include "result/expected_machines.h"

#include <algorithm>
#include <array>

#include "platform/folder_listing.h"
#include "platform/utf8.h"
#include "result/report_output.h"

namespace result {
namespace {

using platform::AppendUtf8;
using platform::FromUtf8;
using platform::ToUtf8;

constexpr wchar_t kListNotRead[] = L"it could not be read: ";
constexpr wchar_t kListTooLarge[] = L"it is over 64 MiB (export the name column only)";
constexpr wchar_t kListNotText[] = L"it is not text (UTF-8, or UTF-16 with a byte-order mark)";
constexpr wchar_t kNoKnownColumn[] =
    L"its first line names none of the columns \"Device name\", \"DeviceName\", \"Name\", \"ComputerName\", "
    L"\"DNSHostName\": ";
constexpr wchar_t kNoMachines[] = L"it names no machine";
constexpr wchar_t kExpectedFrom[] = L"Expected: ";
constexpr wchar_t kMachinesIn[] = L" machines listed in ";
constexpr wchar_t kColumn[] = L" (column \"";
constexpr wchar_t kDuplicates[] = L" names listed more than once, each machine counted once\n";
constexpr wchar_t kPassedOver[] = L" lines passed over, the first on line ";
constexpr wchar_t kPassedOverWhy[] =
    L": no machine name in them (empty, over 255 characters, or with characters no machine name has)\n";

// Of a cell only this much is kept: more than any name of kMaxExpectedNameChars characters.
constexpr std::size_t kMaxCellBytes = 4 * kMaxExpectedNameChars + 4;
// Of the header only this many cells are looked at; exports have a few dozen.
constexpr std::size_t kMaxHeaderCells = 256;
constexpr std::size_t kFirstLineShown = 120;

char LowerByte(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// On UTF-8, letters of one case as Windows names compare (ASCII, as the report groups its machines).
bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(LowerByte(x)) < static_cast<unsigned char>(LowerByte(y));
  });
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerByte(x) == LowerByte(y); });
}

// "pc01.corp.example.com" is the machine PC01.
std::wstring_view FirstLabel(std::wstring_view name) { return name.substr(0, name.find(L'.')); }

std::string_view Trimmed(std::string_view cell) {
  const auto first = cell.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return cell.substr(first, cell.find_last_not_of(" \t") - first + 1);
}

// UTF-16 after its byte-order mark, as UTF-8; a lone surrogate becomes U+FFFD and so no name.
std::string Utf8OfUtf16(std::span<const std::uint8_t> bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size() / 2);
  const auto unit = [&](std::size_t i) -> char32_t {
    return bigEndian ? static_cast<char32_t>(bytes[i] << 8 | bytes[i + 1])
                     : static_cast<char32_t>(bytes[i + 1] << 8 | bytes[i]);
  };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

// The records of a CSV one at a time (or, without a separator, the lines of a list). Only the cells and
// the bytes of a cell that can matter are kept, so a line of any length costs no memory.
class Records {
 public:
  Records(std::string_view text, char separator) : text_(text), separator_(separator) {}

  // The next record's first `maxCells` cells; false at the end.
  bool Next(std::vector<std::string>& cells, std::size_t maxCells) {
    if (at_ >= text_.size()) return false;
    line_ = nextLine_;
    blank_ = true;
    cells.assign(std::min<std::size_t>(maxCells, 1), std::string());
    std::size_t index = 0;
    bool quoted = false;
    bool cellStart = true;
    const auto append = [&](char c) {
      blank_ = blank_ && (c == ' ' || c == '\t');
      if (index < cells.size() && cells[index].size() <= kMaxCellBytes) cells[index] += c;
      cellStart = false;
    };
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '\n') ++nextLine_;
      if (quoted) {
        if (c != '"') {
          append(c);
        } else if (at_ < text_.size() && text_[at_] == '"') {
          append('"');
          ++at_;
        } else {
          quoted = false;
        }
      } else if (c == '\n') {
        break;
      } else if (c == '\r') {
        // Windows line ends; a lone one is nothing a name holds.
      } else if (separator_ != '\0' && c == '"' && cellStart) {
        quoted = true;
        cellStart = false;
        blank_ = false;
      } else if (separator_ != '\0' && c == separator_) {
        ++index;
        if (index < maxCells) cells.emplace_back();
        blank_ = false;
        cellStart = true;
      } else {
        append(c);
      }
    }
    return true;
  }

  std::size_t Line() const { return line_; }
  // The last record held nothing but spaces: an empty line, passed over unsaid.
  bool Blank() const { return blank_; }

 private:
  std::string_view text_;
  char separator_;
  std::size_t at_ = 0;
  std::size_t line_ = 1;
  std::size_t nextLine_ = 1;
  bool blank_ = true;
};

// A name a folder could bear, of at most kMaxExpectedNameChars characters, as UTF-8 (most names fit in
// a string's own bytes); empty when the cell holds none.
std::string MachineName(std::string_view cell) {
  if (cell.size() > kMaxCellBytes) return {};
  const std::wstring name = FromUtf8(cell);
  if (name.size() > kMaxExpectedNameChars) return {};
  const std::wstring_view label = FirstLabel(name);
  const bool bad = std::any_of(label.begin(), label.end(), [](wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xFFFD ||
           std::wstring_view(L"\\/:*?\"<>|,;").find(c) != std::wstring_view::npos;
  });
  return bad ? std::string() : ToUtf8(label);
}

void SortAndMerge(ExpectedList& list) {
  auto& machines = list.machines;
  std::stable_sort(
      machines.begin(), machines.end(),
      [](const ExpectedList::Machine& a, const ExpectedList::Machine& b) { return LessNoCase(a.name, b.name); });
  const auto end = std::unique(machines.begin(), machines.end(),
                               [](const auto& a, const auto& b) { return EqualsNoCase(a.name, b.name); });
  list.duplicates += static_cast<std::size_t>(machines.end() - end);
  machines.erase(end, machines.end());
}

std::wstring ShownLine(std::string_view text) {
  return ForConsole(FromUtf8(text.substr(0, std::min(text.find('\n'), kFirstLineShown))));
}

}  // namespace

bool ExpectedList::See(std::wstring_view machine) {
  const std::string label = ToUtf8(FirstLabel(machine));
  const auto it = std::lower_bound(machines.begin(), machines.end(), label,
                                   [](const Machine& m, std::string_view name) { return LessNoCase(m.name, name); });
  if (it == machines.end() || LessNoCase(label, it->name)) return false;
  it->seen = true;
  return true;
}

std::vector<std::wstring> ExpectedList::Unseen() const {
  std::vector<std::wstring> unseen;
  for (const Machine& machine : machines) {
    if (!machine.seen) unseen.push_back(FromUtf8(machine.name));
  }
  return unseen;
}

ExpectedList ParseExpectedList(std::span<const std::uint8_t> bytes) {
  ExpectedList list;
  std::string converted;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  } else if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    converted = Utf8OfUtf16(bytes.subspan(2), text[0] == '\xFE');
    text = converted;
  }
  if (text.find('\0') != std::string_view::npos) {
    list.problem = kListNotText;
    return list;
  }
  // Excel's own first line, "sep=;", says the separator.
  std::size_t skippedLines = 0;
  std::array<char, 3> separators = {',', ';', '\t'};
  std::size_t separatorCount = separators.size();
  if (text.size() >= 5 && EqualsNoCase(text.substr(0, 4), "sep=") &&
      (text.size() == 5 || text[5] == '\r' || text[5] == '\n')) {
    separators[0] = text[4];
    separatorCount = 1;
    text.remove_prefix(std::min(text.size(), text.find('\n') + 1));
    skippedLines = 1;
  }
  // Export-Csv in Windows PowerShell starts with the objects' type unless told not to.
  if (text.starts_with("#TYPE ")) {
    text.remove_prefix(std::min(text.size(), text.find('\n') + 1));
    ++skippedLines;
  }

  // A first line naming a known column makes a CSV; a first line with no separator in it, a plain list.
  std::vector<std::string> cells;
  char separator = '\0';
  std::size_t column = 0;
  for (std::size_t known = 0; known < std::size(kExpectedColumns) && separator == '\0'; ++known) {
    const std::string wanted = ToUtf8(kExpectedColumns[known]);
    for (std::size_t s = 0; s < separatorCount && separator == '\0'; ++s) {
      Records header(text, separators[s]);
      if (!header.Next(cells, kMaxHeaderCells)) break;
      for (std::size_t i = 0; i < cells.size(); ++i) {
        if (!EqualsNoCase(Trimmed(cells[i]), wanted)) continue;
        separator = separators[s];
        column = i;
        list.column = kExpectedColumns[known];
        break;
      }
    }
  }
  const std::string_view firstLine = Trimmed(text.substr(0, text.find_first_of("\r\n")));
  if (separator == '\0' && (separatorCount == 1 || firstLine.find_first_of(",;\t") != std::string_view::npos)) {
    list.problem = kNoKnownColumn + ShownLine(firstLine);
    return list;
  }

  Records records(text, separator);
  if (separator != '\0') records.Next(cells, 0);  // the header
  std::size_t merged = 0;
  while (records.Next(cells, column + 1)) {
    std::string_view cell = column < cells.size() ? Trimmed(cells[column]) : std::string_view();
    if (separator == '\0' && cell.size() >= 2 && cell.front() == '"' && cell.back() == '"') {
      cell = Trimmed(cell.substr(1, cell.size() - 2));
    }
    std::string name = MachineName(cell);
    if (name.empty()) {
      if (!records.Blank() && list.passedOver++ == 0) list.firstPassedOver = records.Line() + skippedLines;
      continue;
    }
    list.machines.push_back({std::move(name), false});
    // A list that names its machines many times over holds each once, not every line.
    if (list.machines.size() >= 2 * merged + 4096) {
      SortAndMerge(list);
      merged = list.machines.size();
    }
  }
  SortAndMerge(list);
  list.machines.shrink_to_fit();  // held for the whole walk
  if (list.machines.empty()) list.problem = kNoMachines;
  return list;
}

ExpectedList ReadExpectedList(const std::wstring& path) {
  std::vector<std::uint8_t> bytes;
  std::uint32_t error = 0;
  const auto status = platform::ReadRegularFile(path, kMaxExpectedListBytes, bytes, error);
  if (status == platform::BoundedReadStatus::kOk) return ParseExpectedList(bytes);
  ExpectedList list;
  if (status == platform::BoundedReadStatus::kTooLarge) {
    list.problem = kListTooLarge;
  } else {
    list.problem = WithCode(kListNotRead, error);
  }
  return list;
}

std::wstring DescribeExpectedList(const ExpectedList& list, const std::wstring& path) {
  std::wstring out = kExpectedFrom + std::to_wstring(list.size()) + kMachinesIn + ForConsole(path);
  out += list.column.empty() ? L"\n" : kColumn + list.column + L"\")\n";
  if (list.duplicates > 0) out += L"  " + std::to_wstring(list.duplicates) + kDuplicates;
  if (list.passedOver > 0) {
    out +=
        L"  " + std::to_wstring(list.passedOver) + kPassedOver + std::to_wstring(list.firstPassedOver) + kPassedOverWhy;
  }
  return out;
}

}  // namespace result
