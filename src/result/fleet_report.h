// The fleet report: the run logs and outcome files collected from many machines, each machine counted
// once by its newest run, as a table on the console, a CSV and a page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "result/fleet_walk.h"
#include "result/report_output.h"

namespace result {

// Exit codes of `report`.
inline constexpr int kReportComplete = 0;
inline constexpr int kReportFailed = 1;      // the folder can't be read, or the CSV can't be written
inline constexpr int kReportIncomplete = 3;  // some folder or file could not be read: see the CSV
inline constexpr int kReportMissing = 4;     // all read, but machines on the expected list have no run

// Where the CSV goes when not named: kReportCsvName in the current folder; nullopt when that folder is the
// collection or lies inside it, or can't be resolved.
std::optional<std::wstring> DefaultCsvPath(const std::wstring& folder);

// `report FOLDER [CSV] [--expected LIST] [--html PAGE] [--parallel N]`: streams the rows into the CSV
// (DefaultCsvPath when `csv` is empty; refused, with kReportFailed, when that lies in the collection),
// writes the page (beside the CSV when `page` is empty), appends the table to `out`; on a terminal a
// progress line while it reads; `inFlight` machines read at once. Returns one of the kReport* exit
// codes; a LIST that can't be used fails before anything is written.
int RunReportCommand(const std::wstring& folder, const std::wstring& csv, std::wstring& out,
                     const std::wstring& expectedList = {}, const std::wstring& page = {},
                     std::size_t inFlight = kDefaultMachinesInFlight);

struct ReportArguments {
  std::wstring folder;
  std::wstring csv;       // empty: DefaultCsvPath
  std::wstring expected;  // empty: no list
  std::wstring page;      // empty: beside the CSV
  std::size_t inFlight = kDefaultMachinesInFlight;
};

// The arguments after `report`: FOLDER [CSV], and `--expected LIST`, `--html PAGE` and `--parallel N`
// (1 to kMaxMachinesInFlight) before, between or after them; nullopt when they are anything else.
std::optional<ReportArguments> ParseReportArguments(const std::vector<std::wstring>& arguments);

}  // namespace result
