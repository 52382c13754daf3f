// What the report writes: the table for a terminal and the CSV for a spreadsheet, both neutralised
// against whatever the machines' files hold.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "result/fleet_walk.h"

namespace result {

// Text for a terminal, a spreadsheet cell or a page: each character that is no text to read (controls,
// bidi marks, zero-width and other invisible characters, line separators; a surrogate pair as one)
// replaced by '?'.
std::wstring ForConsole(std::wstring_view text);

// A machine's name in the console's list of names: in quotes (doubled inside) when it holds a space or a
// quote, so "PC0007 PC0142" reads as one machine, not two.
std::wstring ConsoleName(std::wstring_view machine);

// `what` followed by the system's words for `error` and its number.
std::wstring WithCode(std::wstring_view what, std::uint32_t error);

// The machines counted with this outcome.
std::size_t CountOf(const ReportTotals& totals, Outcome outcome);
// The outcomes the table and the page show, in order: "missing" only with an expected list.
std::vector<Outcome> ShownOutcomes(const ReportTotals& totals);

// The table of outcomes with their codes and counts, then the machines of each outcome; no control
// characters, whatever the machines are called.
std::wstring FormatReportTable(const ReportTotals& totals);

// The CSV's first line (UTF-8 byte-order mark and column names) and one row's line.
std::string CsvHeader();
void AppendCsvRow(std::string& out, const ReportRow& row);

}  // namespace result
