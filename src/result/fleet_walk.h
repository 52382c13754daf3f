// The walk over a collection of run logs and outcome files from many machines, each machine counted once
// by its newest run.
//
// A machine is a folder directly under the collection (its files anywhere below it), or a file directly
// under it named after the machine ("PC01.txt", "PC01_Log_VDT_14_PatchUpdate.txt"); both kinds of one name
// are one machine, and then only the folder is read (the file is a row of what was not read). Over a share
// every listing and every read is a round trip, so several machines are listed and read at once, while
// their rows are handed on one machine after another in name order, exactly as one reader would hand
// them. What waits to be handed on is bounded (a window of machines, a bound of rows each), so memory
// stays flat however many machines, runs or folders there are. Nothing is followed through a link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "result/expected_machines.h"
#include "result/outcome.h"

namespace result {

// The name of the CSV file the report writes into the current folder unless told another.
inline constexpr wchar_t kReportCsvName[] = L"PatchUpdateReport.csv";

// Machines listed and read at once unless told otherwise: enough to hide a VPN's round trips, few
// enough for any file server; and the most the report takes.
inline constexpr std::size_t kDefaultMachinesInFlight = 16;
inline constexpr std::size_t kMaxMachinesInFlight = 128;

// Every member has an initializer, so a row names only what it sets.
struct ReportRow {
  std::wstring machine{};
  std::wstring time{};  // "YYYY-MM-DDTHH:MM[:SS]"; empty when the file gives none
  Outcome outcome = Outcome::kUnreadable;
  std::uint32_t code = 0;
  std::wstring reason{};
  std::wstring file{};   // relative to the folder, "/" between names
  bool counted = false;  // the machine is counted by this row
  // On a counted unreadable row: the newest readable outcome found further back, shown beside it.
  std::optional<Outcome> earlier{};
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

// Walks `folder` and hands every row to `row` as soon as its machine's turn comes: per machine the newest
// run's outcome file (else its log), then, while what was read is unreadable, older runs until one reads.
// A folder or file that can't be read is a row of its own. With `expected`, each machine it names that
// has no run is a `missing` row, after the others. nullopt, with the system's code in `error`, when
// `folder` itself can't be listed.
// `progress`, when given, hears the machines and files read so far after each machine. `inFlight`
// machines are read at once (1: one after another on the calling thread); `row` and `progress` are only
// ever called on the calling thread.
std::optional<ReportTotals> BuildFleetReport(const std::wstring& folder,
                                             const std::function<void(const ReportRow&)>& row, std::uint32_t& error,
                                             ExpectedList* expected = nullptr,
                                             const std::function<void(std::size_t, std::size_t)>& progress = {},
                                             std::size_t inFlight = kDefaultMachinesInFlight);

}  // namespace result
