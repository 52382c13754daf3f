// The fleet report: the run logs and outcome files collected from many machines, each machine counted
// once by its newest run.
//
// A machine is a folder directly under the collection (its files anywhere below it), or a file directly
// under it named after the machine ("PC01.txt", "PC01_Log_VDT_14_PatchUpdate.txt"); both kinds of one name
// are one machine, and then only the folder is read (the file is a row of what was not read). Machines
// are read one at a time, their folders as they are listed, and their rows handed on as soon as they are
// known, so memory stays flat however many runs or folders each machine holds. Nothing is followed
// through a link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result/expected_machines.h"
#include "result/outcome.h"

namespace result {

// The name of the CSV file the report writes into the current folder unless told another.
inline constexpr wchar_t kReportCsvName[] = L"PatchUpdateReport.csv";

// Exit codes of `report`.
inline constexpr int kReportComplete = 0;
inline constexpr int kReportFailed = 1;      // the folder can't be read, or the CSV can't be written
inline constexpr int kReportIncomplete = 3;  // some folder or file could not be read: see the CSV
inline constexpr int kReportMissing = 4;     // all read, but machines on the expected list have no run

struct ReportRow {
  std::wstring machine;
  std::wstring time;  // "YYYY-MM-DDTHH:MM[:SS]"; empty when the file gives none
  Outcome outcome = Outcome::kUnreadable;
  std::uint32_t code = 0;
  std::wstring reason;
  std::wstring file;     // relative to the folder, "/" between names
  bool counted = false;  // the machine is counted by this row
  // On a counted unreadable row: the newest readable outcome found further back, shown beside it.
  std::optional<Outcome> earlier;
};

struct ReportTotals {
  // Counted machines per outcome, in name order, as the table shows them: in quotes when the name holds a
  // space or a quote, an unreadable one with its earlier outcome beside it.
  std::map<Outcome, std::vector<std::wstring>> machines;
  std::size_t machineCount = 0;
  std::size_t fileCount = 0;  // files read
  std::size_t notRead = 0;    // folders and files that could not be read (each a row)
  // With an expected list: how many it names, and the machines that reported but aren't on it.
  std::size_t expectedCount = 0;
  std::size_t expectedAtPatch = 0;  // of the listed machines, those at or above the patch's version
  std::vector<std::wstring> unexpected;
};

// Walks `folder` and hands every row to `row` as soon as its machine is known: per machine the newest
// run's outcome file (else its log), then, while what was read is unreadable, older runs until one reads.
// A folder or file that can't be read is a row of its own. With `expected`, each machine it names that
// has no run is a `missing` row, after the others. nullopt, with the system's code in `error`, when
// `folder` itself can't be listed.
// `progress`, when given, hears the machines and files read so far after each machine.
std::optional<ReportTotals> BuildFleetReport(const std::wstring& folder,
                                             const std::function<void(const ReportRow&)>& row,
                                             std::uint32_t& error, ExpectedList* expected = nullptr,
                                             const std::function<void(std::size_t, std::size_t)>& progress = {});

// Text for a terminal or a page: each control, bidi or invisible character replaced by '?'.
std::wstring ForConsole(std::wstring_view text);

// The table of outcomes with their codes and counts, then the machines of each outcome; no control
// characters, whatever the machines are called.
std::wstring FormatReportTable(const ReportTotals& totals);

// The CSV's first line (UTF-8 byte-order mark and column names) and one row's line.
std::string CsvHeader();
void AppendCsvRow(std::string& out, const ReportRow& row);

// Where the CSV goes when not named: kReportCsvName in the current folder; nullopt when that folder is the
// collection or lies inside it, or can't be resolved.
std::optional<std::wstring> DefaultCsvPath(const std::wstring& folder);

// `report FOLDER [CSV] [--expected LIST] [--html PAGE]`: streams the rows into the CSV (DefaultCsvPath
// when `csv` is empty; refused, with kReportFailed, when that lies in the collection), writes the page
// (beside the CSV when `page` is empty), appends the table to `out`; on a terminal a progress line
// while it reads. Returns one of the kReport* exit codes; a LIST that can't be used fails before
// anything is written.
int RunReportCommand(const std::wstring& folder, const std::wstring& csv, std::wstring& out,
                     const std::wstring& expectedList = {}, const std::wstring& page = {});

struct ReportArguments {
  std::wstring folder;
  std::wstring csv;       // empty: DefaultCsvPath
  std::wstring expected;  // empty: no list
  std::wstring page;      // empty: beside the CSV
};

// The arguments after `report`: FOLDER [CSV], and `--expected LIST` and `--html PAGE` before, between or
// after them; nullopt when they are anything else.
std::optional<ReportArguments> ParseReportArguments(const std::vector<std::wstring>& arguments);

}  // namespace result
