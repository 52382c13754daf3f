// Everything in the collection may have been written by anyone: names and reasons are neutralised where
// a spreadsheet or a terminal would act on them.
#include "result/report_output.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/utf8.h"
#include "result/outcome_file.h"

namespace result {
namespace {

constexpr wchar_t kUnexpectedLine[] = L"not on the expected list: ";
constexpr wchar_t kUnexpectedTail[] = L" of the machines above\n";
constexpr wchar_t kUnexpectedList[] = L"not expected";
constexpr wchar_t kNotReadLine[] = L"not read: ";
constexpr wchar_t kNotReadTail[] = L" folders or files (rows in the CSV); the report is incomplete\n";
constexpr char kCsvColumns[] =
    "\xEF\xBB\xBF\"machine\",\"outcome\",\"code\",\"reason\",\"time\",\"file\",\"counted\",\"earlier_outcome\"\r\n";

// Characters that are no text to read but act on how text shows or where it goes: C0 and C1 controls and
// DEL (terminal escapes, bells, line breaks), bidirectional marks, embeddings, overrides and isolates
// (text shown reversed), zero-width and other invisible characters, variation selectors, line and
// paragraph separators, tags.
bool IsHiddenOrControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || c == 0x34F || c == 0x61C || c == 0x115F || c == 0x1160 ||
         c == 0x17B4 || c == 0x17B5 || (c >= 0x180B && c <= 0x180F) || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0x3164 || (c >= 0xFE00 && c <= 0xFE0F) ||
         c == 0xFEFF || c == 0xFFA0 || (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0x1D173 && c <= 0x1D17A) ||
         (c >= 0xE0000 && c <= 0xE007F) || (c >= 0xE0100 && c <= 0xE01EF);
}

// Spreadsheets take a field that begins with these as a formula, the full-width and small forms included.
bool IsFormulaCharacter(wchar_t c) {
  return c == L'=' || c == L'+' || c == L'-' || c == L'@' || c == 0xFF1D || c == 0xFF0B || c == 0xFF0D || c == 0xFF20 ||
         c == 0xFE66 || c == 0xFE62 || c == 0xFE63 || c == 0xFE6B || c == 0x2212;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == 0xA0 || c == 0x3000; }

// A field can begin at the cell's start, and after a ';' or ',' in it for a spreadsheet that splits the
// line there whatever the quotes say. Where one could begin, after any blanks, with a formula character
// or a quote (which would open a quoted formula), a "'" goes first, so every field a spreadsheet can cut
// from the cell is text.
std::wstring Neutralised(std::wstring_view field) {
  const std::wstring visible = ForConsole(field);
  std::wstring cell;
  cell.reserve(visible.size() + 2);
  for (std::size_t i = 0; i < visible.size(); ++i) {
    if (i == 0 || visible[i - 1] == L',' || visible[i - 1] == L';') {
      std::size_t first = i;
      while (first < visible.size() && IsBlank(visible[first])) ++first;
      if (first < visible.size() && (IsFormulaCharacter(visible[first]) || visible[first] == L'"')) cell += L'\'';
    }
    cell += visible[i];
  }
  return cell;
}

// Every field quoted: what a spreadsheet splitting at ',' reads is the whole cell, as text.
void AppendCsvField(std::string& out, std::wstring_view field) {
  const std::string utf8 = platform::ToUtf8(Neutralised(field));
  out += '"';
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// Separate a machine's name from the next on the console.
bool IsSpaceLike(wchar_t c) {
  return c == L' ' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::wstring Padded(std::wstring text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), L' ');
  return text;
}

}  // namespace

std::wstring ForConsole(std::wstring_view text) {
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

std::wstring ConsoleName(std::wstring_view machine) {
  std::wstring shown = ForConsole(machine);
  if (!shown.empty() &&
      std::none_of(shown.begin(), shown.end(), [](wchar_t c) { return IsSpaceLike(c) || c == L'"'; })) {
    return shown;
  }
  std::wstring quoted = L"\"";
  for (const wchar_t c : shown) {
    if (c == L'"') quoted += L'"';
    quoted += c;
  }
  return quoted + L"\"";
}

std::wstring WithCode(std::wstring_view what, std::uint32_t error) {
  std::wstring text(what);
  const std::wstring words = platform::SystemErrorText(error);
  text += words.empty() ? L"error " + std::to_wstring(error) : words + L" (error " + std::to_wstring(error) + L")";
  return text;
}

std::size_t CountOf(const ReportTotals& totals, Outcome outcome) {
  const auto it = totals.machines.find(outcome);
  return it == totals.machines.end() ? 0 : it->second.size();
}

std::vector<Outcome> ShownOutcomes(const ReportTotals& totals) {
  std::vector<Outcome> shown;
  for (const Outcome outcome : kAllOutcomes) {
    if (outcome == Outcome::kMissing && totals.expectedCount == 0) continue;  // no list, nothing missed
    shown.push_back(outcome);
  }
  return shown;
}

std::wstring FormatReportTable(const ReportTotals& totals) {
  std::wstring out = Padded(L"Outcome", 20) + Padded(L"Code", 6) + L"Machines\n";
  for (const Outcome outcome : ShownOutcomes(totals)) {
    const std::wstring code = outcome == Outcome::kMissing ? L"-" : std::to_wstring(ExitCodeOf(outcome));
    out += Padded(std::wstring(OutcomeName(outcome)), 20) + Padded(code, 6) +
           std::to_wstring(CountOf(totals, outcome)) + L"\n";
  }
  out += Padded(L"total", 26) + std::to_wstring(totals.machineCount) + L" machines, " +
         std::to_wstring(totals.fileCount) + L" files\n";
  if (totals.notRead > 0) out += kNotReadLine + std::to_wstring(totals.notRead) + kNotReadTail;
  if (totals.expectedCount > 0) out += kUnexpectedLine + std::to_wstring(totals.unexpected.size()) + kUnexpectedTail;
  for (const auto& [outcome, machines] : totals.machines) {
    out += L"\n" + std::wstring(OutcomeName(outcome)) + L" (" + std::to_wstring(machines.size()) + L"):";
    for (const auto& machine : machines) out += L" " + ForConsole(machine);
    out += L"\n";
  }
  if (!totals.unexpected.empty()) {
    out += L"\n" + std::wstring(kUnexpectedList) + L" (" + std::to_wstring(totals.unexpected.size()) + L"):";
    for (const auto& machine : totals.unexpected) out += L" " + ForConsole(machine);
    out += L"\n";
  }
  return out;
}

std::string CsvHeader() { return kCsvColumns; }

void AppendCsvRow(std::string& out, const ReportRow& row) {
  AppendCsvField(out, row.machine);
  out += ',';
  AppendCsvField(out, OutcomeName(row.outcome));
  out += ",\"" + (row.outcome == Outcome::kMissing ? std::string() : std::to_string(row.code)) + "\",";
  AppendCsvField(out, row.reason);
  out += ',';
  AppendCsvField(out, row.time);
  out += ',';
  AppendCsvField(out, row.file);
  out += row.counted ? ",\"yes\"," : ",\"no\",";
  AppendCsvField(out, row.earlier ? OutcomeName(*row.earlier) : std::wstring_view());
  out += "\r\n";
}

}  // namespace result
