// The fleet report: every run log and outcome file under a folder collected from many machines,
// the newest run of each machine counted once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "result/outcome.h"

namespace result {

// The name of the CSV file the report writes into the folder unless told another.
inline constexpr wchar_t kReportCsvName[] = L"PatchUpdateReport.csv";

struct ReportRow {
  std::wstring machine;
  std::wstring time;  // "YYYY-MM-DDTHH:MM[:SS]"; empty when the file gives none
  Outcome outcome = Outcome::kUnreadable;
  std::uint32_t code = 0;
  std::wstring reason;
  std::wstring file;     // relative to the folder, "/" between names
  bool counted = false;  // the newest run of its machine
};

struct FleetReport {
  std::vector<ReportRow> rows;                                // every file read, in path order
  std::map<Outcome, std::vector<std::wstring>> machines;      // counted machines, sorted, per outcome
  std::size_t machineCount = 0;
};

// Reads every *.txt and *.log (run logs) and *.json (outcome files) below `folder`. A log's machine is
// the prefix before the log's own name ("PC01_Log_VDT_14_PatchUpdate.txt"), else the first sub-folder
// below `folder`, else its file name; an outcome file names its machine itself. Unreadable files are
// rows too; a missing folder gives an empty report.
FleetReport BuildFleetReport(const std::filesystem::path& folder);

// The table of outcomes with their codes and counts, then the machines of each outcome.
std::wstring FormatReportTable(const FleetReport& report);

// One row per file read, UTF-8 with a byte-order mark so that spreadsheets take it as such.
std::string FormatReportCsv(const FleetReport& report);

// `report FOLDER [CSV]`: builds the report, appends the table to `out` and writes the CSV. Returns the
// program's exit code: 0, or 1 when the folder is missing or the CSV can't be written (said in `out`).
int RunReportCommand(const std::filesystem::path& folder, const std::filesystem::path& csv, std::wstring& out);

}  // namespace result
