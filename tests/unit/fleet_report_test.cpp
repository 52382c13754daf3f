// The fleet report over collections on the fake machine: which run counts each machine, what can't be
// read, what the CSV, the table and the page say, and the walk that reads many machines at once.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "fake/fake_machine.h"
#include "fake/fleet_sample.h"
#include "platform/utf8.h"
#include "result/fleet_page.h"
#include "result/fleet_report.h"
#include "result/outcome.h"
#include "result/outcome_file.h"
#include "expected_texts.h"

namespace {

using result::Outcome;

std::string Name(Outcome outcome) { return platform::ToUtf8(result::OutcomeName(outcome)); }

constexpr wchar_t kFleet[] = L"C:\\Fleet";
constexpr std::uint64_t kCollected = 134'412'912'000'000'000ULL;  // 2026-12-09 12:00 UTC: after every run the tests stamp, within two days of the fake clock

// Rows of the CSV after its header, each split into its cells, quotes taken off as a spreadsheet reads them.
std::vector<std::vector<std::string>> CsvRows(const std::string& csv) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (std::size_t i = csv.find("\r\n") + 2; i < csv.size(); ++i) {
    const char c = csv[i];
    if (quoted) {
      if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
        cells.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cells.back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      cells.emplace_back();
    } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
      rows.push_back(std::exchange(cells, std::vector<std::string>(1)));
      ++i;
    } else {
      cells.back() += c;
    }
  }
  return rows;
}

// Whether the table lists `machine` among the machines of `outcome`.
bool Lists(const std::wstring& table, const std::wstring& outcome, const std::wstring& machine) {
  const auto line = table.find(L"\n" + outcome + L" (");
  if (line == std::wstring::npos) return false;
  const std::wstring names = table.substr(line, table.find(L'\n', line + 1) - line) + L" ";
  return names.find(L" " + machine + L" ") != std::wstring::npos;
}

// The elements of a page (its text escaped, every '<' in it opens or closes one) that it doesn't make itself.
std::set<std::string> ForeignElements(const std::string& page) {
  static const std::set<std::string> kOwn = {
      "!doctype", "html", "head", "meta", "title", "style", "body", "h1", "h2", "p", "span", "strong", "section", "svg",
      "text", "rect", "line", "polyline", "table", "tr", "th", "td", "details", "summary", "ul", "li"};
  std::set<std::string> foreign;
  for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    std::size_t end = at + 1 + (page.compare(at + 1, 1, "/") == 0 ? 1 : 0);
    std::string name;
    for (; end < page.size() && (std::isalnum(static_cast<unsigned char>(page[end])) != 0 || page[end] == '!'); ++end) {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(page[end])));
    }
    if (kOwn.count(name) == 0) foreign.insert(name);
  }
  return foreign;
}

// The number a page shows in the element of that id, "" when it shows none.
std::string PageFigure(const std::string& page, const std::string& id) {
  const auto at = page.find("id=\"" + id + "\">");
  if (at == std::string::npos) return "";
  const auto start = at + id.size() + 6;
  return page.substr(start, page.find('<', start) - start);
}

class FleetReportTest : public fake::FakeMachineTest {
 protected:
  // Puts a collected file on the fake machine under the collection folder ("/" between names), written
  // (by default) after every run the tests stamp.
  void Collect(const std::string& path, const std::string& bytes, std::uint64_t writeTime = kCollected) {
    std::wstring windowsPath = kFleet + (L"\\" + platform::FromUtf8(path));
    std::replace(windowsPath.begin(), windowsPath.end(), L'/', L'\\');
    machine().AddFile(windowsPath, bytes);
    machine().files[windowsPath].writeTime = writeTime;
  }

  // `report` over the collection: its exit code; the printed table and the CSV kept for the checks.
  // Read one machine at a time first: read several at once, as by default, it must write the same bytes.
  int Report(const std::wstring& expected = {}) {
    const std::wstring csv = std::wstring(kFleet) + L"\\PatchUpdateReport.csv";
    const std::wstring page = std::wstring(kFleet) + L"\\PatchUpdateReport.html";
    std::wstring aloneOut;
    const int alone = result::RunReportCommand(kFleet, csv, aloneOut, expected, {}, 1);
    const std::string aloneCsv = machine().FileText(csv);
    const std::string alonePage = machine().FileText(page);
    out_.clear();
    const int code = result::RunReportCommand(kFleet, csv, out_, expected);
    csv_ = machine().FileText(csv);
    page_ = machine().FileText(page);
    EXPECT_EQ(code, alone);
    EXPECT_EQ(out_, aloneOut);
    EXPECT_EQ(csv_, aloneCsv);
    EXPECT_EQ(page_, alonePage);
    return code;
  }

  std::wstring out_;
  std::string csv_;
  std::string page_;  // written beside the CSV
};

TEST_F(FleetReportTest, BuildFleetReport_ThousandCollectedMachines_TotalsMatchWhatWasWritten) {
  const struct {
    const char* name;
    std::size_t inFlight;
    std::uint32_t firstMachineDelayMs;  // PC10000's folder is this slow to list
  } kCases[] = {
      {"one machine at a time", 1, 0},
      {"sixteen at once: the same rows in the same order, each folder listed once", 16, 0},
      {"four at once behind a machine a share is slow to list: the others read ahead only as far as the window",
       4, 300},
  };
  std::string sequentialCsv;
  std::wstring sequentialTable;
  for (const auto& way : kCases) {
    SCOPED_TRACE(way.name);
    fake::ResetMachine();
    std::set<std::wstring> folders = {kFleet};
    std::size_t undated = 0;  // files whose name gives no stamp: their write time orders them
    const auto expected = fake::fleet::WriteFleet(1000, [&](const std::string& path, const std::string& bytes) {
      Collect(path, bytes);
      for (std::size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
        std::wstring folder = kFleet + (L"\\" + platform::FromUtf8(path.substr(0, at)));
        std::replace(folder.begin(), folder.end(), L'/', L'\\');
        folders.insert(folder);
      }
      undated += result::ParseKeptName(platform::FromUtf8(path.substr(path.rfind('/') + 1))) ? 0U : 1U;
    });
    machine().requestDelays[std::wstring(kFleet) + L"\\PC10000"] = way.firstMachineDelayMs;

    std::size_t rows = 0;
    std::size_t mostListedAhead = 0;  // folders listed beyond the two each machine written so far has
    std::string csv;
    result::PageFigures figures;
    std::uint32_t error = 0;
    const auto totals = result::BuildFleetReport(
        kFleet, [&](const result::ReportRow& row) {
          ++rows;
          figures.Add(row);
          result::AppendCsvRow(csv, row);
          const std::size_t listed = fake::FoldersListedSoFar();
          mostListedAhead = std::max(mostListedAhead, listed > 1 + 2 * rows ? listed - 1 - 2 * rows : 0);
        }, error, nullptr, {}, way.inFlight);

    ASSERT_TRUE(totals.has_value());
    EXPECT_EQ(rows, 1000u);
    EXPECT_EQ(totals->machineCount, 1000u);
    EXPECT_EQ(totals->notRead, 0u);
    for (const Outcome outcome : result::kAllOutcomes) {
      SCOPED_TRACE(Name(outcome));
      const auto it = totals->machines.find(outcome);
      EXPECT_EQ(it == totals->machines.end() ? 0 : it->second.size(), expected.count(outcome) ? expected.at(outcome) : 0);
    }
    // The page's table and headline say the same.
    const std::string page = result::FleetPage(*totals, figures, kFleet);
    std::size_t atPatch = 0;
    for (const Outcome outcome : result::kAllOutcomes) {
      if (outcome == Outcome::kMissing) continue;
      const std::string name = Name(outcome);
      const std::size_t count = expected.count(outcome) ? expected.at(outcome) : 0;
      atPatch += result::AtPatch(outcome) ? count : 0;
      EXPECT_NE(page.find("<tr data-outcome=\"" + name + "\"><td>" + name + "</td><td class=\"n\">" +
                          std::to_string(result::ExitCodeOf(outcome)) + "</td><td class=\"n count\">" +
                          std::to_string(count) + "</td>"),
                std::string::npos)
          << name;
    }
    EXPECT_EQ(PageFigure(page, "at-patch"), std::to_string(atPatch));
    EXPECT_EQ(PageFigure(page, "seen"), "1000");
    EXPECT_EQ(PageFigure(page, "total"), "1000");
    EXPECT_EQ(page.find("data-outcome=\"missing\""), std::string::npos) << "no list, nothing missed";
    // Machine names come from the folder, the renamed file and the prefixed file alike.
    const auto& applied = totals->machines.at(Outcome::kApplied);
    for (const wchar_t* machine : {L"PC10000", L"PC10013", L"PC10026"}) {
      EXPECT_NE(std::find(applied.begin(), applied.end(), machine), applied.end()) << platform::ToUtf8(machine);
    }
    // Byte for byte what one reader writes, whatever the order machines were read in.
    if (way.inFlight == 1) {
      sequentialCsv = csv;
      sequentialTable = result::FormatReportTable(*totals);
    }
    EXPECT_EQ(csv, sequentialCsv);
    EXPECT_EQ(result::FormatReportTable(*totals), sequentialTable);
    // Asked only what the answer needs: each folder listed once, one file read per machine (one run each),
    // a file's write time only where its name gives no stamp.
    const auto& asked = machine().requests;
    EXPECT_EQ(std::set<std::wstring>(asked.listed.begin(), asked.listed.end()), folders);
    EXPECT_EQ(asked.listed.size(), folders.size());
    EXPECT_EQ(asked.fileReads, 1000u);
    EXPECT_EQ(asked.detailLookups, undated);
    EXPECT_LE(asked.mostInFlight, way.inFlight);
    // Machines waiting to be written stay within the window (four per machine in flight), two folders each.
    EXPECT_LE(mostListedAhead, 2 * 4 * way.inFlight);
  }
}

// One machine's collected files, and what the report makes of it.
TEST_F(FleetReportTest, RunReportCommand_OneMachinesFiles_CountedByItsNewestRun) {
  const std::string applied = fake::fleet::Logs()[0];
  const std::string blocked = fake::fleet::Logs()[2];
  const std::string cutShort = fake::fleet::Logs()[8];
  auto outcome = [](Outcome o, const std::string& machine = "PC01") { return fake::fleet::OutcomeLine(machine, o); };
  const std::string hugeDate = expect::RunLogFile(expect::Entries({"Update details found: Exit code 1."}),
                                                  std::string(15U << 20, '7'));
  const struct {
    const char* name;
    std::vector<std::tuple<std::string, std::string, std::uint64_t>> files;  // path, bytes, write time
    std::string counted;   // the counted row's outcome
    std::string file;      // and its file
    std::string earlier;   // the outcome shown beside an unreadable one
    int exitCode = 0;
    std::size_t rows = 1;  // rows of this machine in the CSV
    std::string reasonHas = "";
    std::uint64_t now = 0;  // the report's clock, when not the fake machine's
  } kCases[] = {
      // --- the companion's kept runs ---
      {"newest kept run read, the older never",
       {{"PC01/Results/outcome.20261208-090000.json", outcome(Outcome::kBlocked), kCollected},
        {"PC01/Results/Log_VDT_14_PatchUpdate.20261208-090000.txt", blocked, kCollected},
        {"PC01/Results/outcome.20261209-033005.json", outcome(Outcome::kApplied), kCollected},
        {"PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", applied, kCollected}},
       "applied", "PC01/Results/outcome.20261209-033005.json", ""},
      {"newest run cut short: unreadable, the earlier outcome beside it",
       {{"PC01/Results/outcome.20261208-090000.json", outcome(Outcome::kApplied), kCollected},
        {"PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", cutShort, kCollected}},
       "unreadable", "PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", "applied", 0, 2},
      {"newest run cut short, nothing readable before it",
       {{"PC01/Results/Log_VDT_14_PatchUpdate.20261208-090000.txt", cutShort, kCollected},
        {"PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", cutShort, kCollected}},
       "unreadable", "PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", "", 0, 2},
      {"newest run's outcome file damaged, its log reads",
       {{"PC01/Results/outcome.20261209-033005.json", "{\"outcome\": \"appl", kCollected},
        {"PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", applied, kCollected}},
       "applied", "PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", "", 0, 2},
      {"newest run an outcome file, its log missing",
       {{"PC01/Results/Log_VDT_14_PatchUpdate.20261208-090000.txt", applied, kCollected},
        {"PC01/Results/outcome.20261209-033005.json", outcome(Outcome::kNoLog), kCollected}},
       "no-log", "PC01/Results/outcome.20261209-033005.json", ""},
      {"two runs in the same second: the second one counts",
       {{"PC01/Results/outcome.20261209-033005.json", outcome(Outcome::kBlocked), kCollected},
        {"PC01/Results/outcome.20261209-033005-2.json", outcome(Outcome::kApplied), kCollected}},
       "applied", "PC01/Results/outcome.20261209-033005-2.json", ""},
      {"the tenth run of a second after the ninth",
       {{"PC01/Results/outcome.20261209-033005-10.json", outcome(Outcome::kApplied), kCollected},
        {"PC01/Results/outcome.20261209-033005-9.json", outcome(Outcome::kBlocked), kCollected}},
       "applied", "PC01/Results/outcome.20261209-033005-10.json", ""},
      {"the newest copies stand aside for the kept runs",
       {{"PC01/Results/outcome.20261209-033005.json", outcome(Outcome::kApplied), kCollected},
        {"PC01/Results/PatchUpdate-newest-outcome.txt", outcome(Outcome::kBlocked), 9'000'000'000'000'000'000ULL}},
       "applied", "PC01/Results/outcome.20261209-033005.json", ""},
      {"only the newest copies collected",
       {{"PC01/PatchUpdate-newest-outcome.txt", outcome(Outcome::kBlocked), kCollected},
        {"PC01/PatchUpdate-newest.log", blocked, kCollected}},
       "blocked", "PC01/PatchUpdate-newest-outcome.txt", ""},
      // --- logs collected under other names: their write times order them ---
      {"logs under the machine's name, no stamps",
       {{"PC01.txt", blocked, 134'000'000'000'000'000ULL},
        {"PC01_Log_VDT_14_PatchUpdate.txt", applied, 134'000'000'100'000'000ULL}},
       "applied", "PC01_Log_VDT_14_PatchUpdate.txt", ""},
      {"a machine's folder wins over a newer file of its name beside it, which is said",
       {{"PC01/Log_VDT_14_PatchUpdate.txt", applied, 134'000'000'000'000'000ULL}, {"PC01.txt", blocked, 134'000'000'100'000'000ULL}},
       "applied", "PC01/Log_VDT_14_PatchUpdate.txt", "", 3, 2},
      // --- what a file says of itself is never believed ---
      {"an outcome file naming another machine",
       {{"PC01/Results/outcome.20261209-033005.json", outcome(Outcome::kApplied, "PC99"), kCollected}},
       "applied", "PC01/Results/outcome.20261209-033005.json", "", 0, 1, "(the file names the machine \"PC99\")"},
      // --- what can't be read is said ---
      {"a file over 16 MiB",
       {{"PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", std::string((16U << 20) + 1, 'x'), kCollected}},
       "unreadable", "PC01/Results/Log_VDT_14_PatchUpdate.20261209-033005.txt", "", 3, 1, "too large"},
      {"a machine's folder with nothing of the utility's in it",
       {{"PC01/notes.txt", "copied half-way", kCollected}},
       "unreadable", "PC01", "", 0, 1, "no log or outcome file of the utility in this folder"},
      // --- only the utility's and the companion's files are runs, and only runs of a sane clock ---
      {"the newest copies are one run, whichever was written last",
       {{"PC01/PatchUpdate-newest-outcome.txt", outcome(Outcome::kRestartPending), kCollected},
        {"PC01/PatchUpdate-newest.log", blocked, kCollected + 10'000'000}},
       "restart-pending", "PC01/PatchUpdate-newest-outcome.txt", ""},
      {"another program's newer log in the machine's folder is no run",
       {{"PC01/Results/outcome.20261209-033005.json", outcome(Outcome::kApplied), kCollected},
        {"PC01/Results/IntuneManagementExtension.log", cutShort, kCollected + 10'000'000}},
       "applied", "PC01/Results/outcome.20261209-033005.json", ""},
      {"a run stamped years ahead by a wrong clock is not the newest",
       {{"PC01/Results/outcome.20991231-000000.json", outcome(Outcome::kBlocked), kCollected},
        {"PC01/Results/outcome.20261207-033005.json", outcome(Outcome::kApplied), kCollected}},
       "applied", "PC01/Results/outcome.20261207-033005.json", ""},
      // --- stamps compared as time: hours apart across a month's end, a year's end, a leap day ---
      {"a run after the month's end, hours after the report's now, is the newest",
       {{"PC01/Results/outcome.20261130-090000.json", outcome(Outcome::kBlocked), kCollected},
        {"PC01/Results/outcome.20261201-010000.json", outcome(Outcome::kApplied), kCollected}},
       "applied", "PC01/Results/outcome.20261201-010000.json", "", 0, 1, "", 134'405'424'000'000'000ULL},
      {"a run after the year's end, hours after the report's now, is the newest",
       {{"PC01/Results/outcome.20261231-090000.json", outcome(Outcome::kBlocked), kCollected},
        {"PC01/Results/outcome.20270101-010000.json", outcome(Outcome::kApplied), kCollected}},
       "applied", "PC01/Results/outcome.20270101-010000.json", "", 0, 1, "", 134'432'208'000'000'000ULL},
      {"a run after a leap day, hours after the report's now, is the newest",
       {{"PC01/Results/outcome.20280229-090000.json", outcome(Outcome::kBlocked), kCollected},
        {"PC01/Results/outcome.20280301-010000.json", outcome(Outcome::kApplied), kCollected}},
       "applied", "PC01/Results/outcome.20280301-010000.json", "", 0, 1, "", 134'799'408'000'000'000ULL},
      {"a run three days ahead across the month's end is not the newest",
       {{"PC01/Results/outcome.20261130-090000.json", outcome(Outcome::kApplied), kCollected},
        {"PC01/Results/outcome.20261203-210000.json", outcome(Outcome::kBlocked), kCollected}},
       "applied", "PC01/Results/outcome.20261130-090000.json", "", 0, 1, "", 134'405'424'000'000'000ULL},
      {"a leap day of a year that has none is no stamp: the file counts by its write time",
       {{"PC01/Results/outcome.20270229-090000.json", outcome(Outcome::kApplied), kCollected},
        {"PC01/Results/outcome.20261209-033005.json", outcome(Outcome::kBlocked), kCollected}},
       "applied", "PC01/Results/outcome.20270229-090000.json", ""},
      {"a folder and a file whose names differ in case are one machine: the folder wins",
       {{"PC01.txt", blocked, kCollected + 10'000'000}, {"pc01/Log_VDT_14_PatchUpdate.txt", applied, kCollected}},
       "applied", "pc01/Log_VDT_14_PatchUpdate.txt", "", 3, 2},
      {"a date line of 15 MiB is no header",
       {{"PC01/Log_VDT_14_PatchUpdate.txt", hugeDate, kCollected}},
       "unreadable", "PC01/Log_VDT_14_PatchUpdate.txt", "", 0, 1, "log header damaged"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    if (row.now != 0) machine().systemTime = row.now;
    for (const auto& [path, bytes, time] : row.files) Collect(path, bytes, time);

    EXPECT_EQ(Report(), row.exitCode) << platform::ToUtf8(out_);

    const auto rows = CsvRows(csv_);
    EXPECT_EQ(rows.size(), row.rows) << csv_.substr(0, 2000);
    std::size_t countedRows = 0;
    for (const auto& cells : rows) {
      ASSERT_EQ(cells.size(), 8u);
      EXPECT_EQ(cells[0], "PC01");
      EXPECT_LT(cells[3].size() + cells[4].size(), 400u) << "no cell holds what the file holds";
      if (cells[6] != "yes") continue;
      ++countedRows;
      EXPECT_EQ(cells[1], row.counted);
      EXPECT_EQ(cells[5], row.file);
      EXPECT_EQ(cells[7], row.earlier);
      EXPECT_NE(cells[3].find(row.reasonHas), std::string::npos) << cells[3];
    }
    EXPECT_EQ(countedRows, 1u);
    const std::wstring listed = L"PC01" + (row.earlier.empty() ? L"" : L" (earlier: " + platform::FromUtf8(row.earlier) + L")");
    EXPECT_TRUE(Lists(out_, platform::FromUtf8(row.counted), listed)) << platform::ToUtf8(out_);
    EXPECT_NE(out_.find(L"total                     1 machines"), std::wstring::npos);
  }
}

TEST_F(FleetReportTest, RunReportCommand_WhatCantBeRead_ARowACountAndAnIncompleteReport) {
  const struct {
    const char* name;
    std::function<void(fake::Machine&)> setUp;
    std::string file;    // the row that says so
    std::string reason;  // part of its reason
    std::string counted;  // how PC01 counts
  } kCases[] = {
      {"a machine folder it may not list",
       [](fake::Machine& m) {
         m.AddFolder(L"C:\\Fleet\\PC01");
         m.listErrors[L"C:\\Fleet\\PC01"] = 5;
       },
       "PC01", "the folder could not be read: System error 5. (error 5)", "unreadable"},
      {"a subfolder it may not list, the machine counted by what it could read",
       [](fake::Machine& m) {
         m.AddFile(L"C:\\Fleet\\PC01\\Log_VDT_14_PatchUpdate.txt", fake::fleet::Logs()[0]);
         m.AddFolder(L"C:\\Fleet\\PC01\\Results");
         m.listErrors[L"C:\\Fleet\\PC01\\Results"] = 5;
       },
       "PC01/Results", "the folder could not be read", "applied"},
      {"a machine folder that is a link",
       [](fake::Machine& m) {
         m.AddFolder(L"C:\\Fleet\\PC01");
         m.files[L"C:\\Fleet\\PC01"].reparsePoint = true;
       },
       "PC01", "not followed", "unreadable"},
      {"a link inside a machine's folder (a loop back to the collection)",
       [](fake::Machine& m) {
         m.AddFile(L"C:\\Fleet\\PC01\\Log_VDT_14_PatchUpdate.txt", fake::fleet::Logs()[0]);
         m.AddFolder(L"C:\\Fleet\\PC01\\loop");
         m.files[L"C:\\Fleet\\PC01\\loop"].reparsePoint = true;
       },
       "PC01/loop", "not followed", "applied"},
      {"a file held open by another program",
       [](fake::Machine& m) {
         m.AddFile(L"C:\\Fleet\\PC01\\Log_VDT_14_PatchUpdate.txt", fake::fleet::Logs()[0]);
         m.files[L"C:\\Fleet\\PC01\\Log_VDT_14_PatchUpdate.txt"].locked = true;
       },
       "PC01/Log_VDT_14_PatchUpdate.txt", "the file could not be read: System error 32.", "unreadable"},
      {"a file beside the machine's folder of the same name, newer than its runs",
       [](fake::Machine& m) {
         m.AddFile(L"C:\\Fleet\\PC01\\Log_VDT_14_PatchUpdate.txt", fake::fleet::Logs()[0]);
         m.AddFile(L"C:\\Fleet\\PC01_Log_VDT_14_PatchUpdate.txt", fake::fleet::Logs()[2]);
         m.files[L"C:\\Fleet\\PC01_Log_VDT_14_PatchUpdate.txt"].writeTime = kCollected + 10'000'000;
       },
       "PC01_Log_VDT_14_PatchUpdate.txt", "beside the machine's folder of the same name: not read", "applied"},
      {"a machine folder that times out after a long wait",
       [](fake::Machine& m) {
         m.AddFolder(L"C:\\Fleet\\PC01");
         m.listErrors[L"C:\\Fleet\\PC01"] = 121;  // ERROR_SEM_TIMEOUT
         m.requestDelays[L"C:\\Fleet\\PC01"] = 100;
       },
       "PC01", "the folder could not be read: System error 121. (error 121)", "unreadable"},
      {"a log whose read fails half-way, as a share that drops",
       [](fake::Machine& m) {
         m.AddFile(L"C:\\Fleet\\PC01\\Log_VDT_14_PatchUpdate.txt", fake::fleet::Logs()[0]);
         m.files[L"C:\\Fleet\\PC01\\Log_VDT_14_PatchUpdate.txt"].readFails = true;
       },
       "PC01/Log_VDT_14_PatchUpdate.txt", "the file could not be read: System error 30.", "unreadable"},
      {"an empty machine folder beside a file of its name",
       [](fake::Machine& m) {
         m.AddFolder(L"C:\\Fleet\\PC01");
         m.AddFile(L"C:\\Fleet\\PC01.txt", fake::fleet::Logs()[0]);
       },
       "PC01.txt", "beside the machine's folder of the same name: not read", "unreadable"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    machine().AddFile(L"C:\\Fleet\\PC02\\Log_VDT_14_PatchUpdate.txt", fake::fleet::Logs()[0]);
    row.setUp(machine());

    const int code = Report();

    const auto rows = CsvRows(csv_);
    const auto said = std::find_if(rows.begin(), rows.end(), [&](const auto& cells) { return cells[5] == row.file; });
    ASSERT_NE(said, rows.end()) << csv_;
    EXPECT_NE((*said)[3].find(row.reason), std::string::npos) << (*said)[3];
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const auto& cells) { return cells[0] == "PC02"; }), 1);
    EXPECT_NE(out_.find(L"total                     2 machines"), std::wstring::npos) << platform::ToUtf8(out_);
    EXPECT_TRUE(Lists(out_, platform::FromUtf8(row.counted), L"PC01")) << platform::ToUtf8(out_);
    EXPECT_EQ(code, result::kReportIncomplete);
    EXPECT_NE(out_.find(L"not read: 1 "), std::wstring::npos) << platform::ToUtf8(out_);
  }
  // The collection itself missing is a failed report.
  fake::ResetMachine();
  EXPECT_EQ(Report(), result::kReportFailed);
}

TEST_F(FleetReportTest, RunReportCommand_NoCsvNamed_InTheCurrentFolderNeverInsideTheCollection) {
  const struct {
    const char* name;
    std::wstring currentFolder;
    std::wstring csv;  // where it is written; empty: refused
  } kCases[] = {
      {"elsewhere: written there", L"C:\\Users\\admin", L"C:\\Users\\admin\\PatchUpdateReport.csv"},
      {"a folder whose name begins like the collection's", L"C:\\Fleet2", L"C:\\Fleet2\\PatchUpdateReport.csv"},
      {"the collection itself: refused", L"C:\\Fleet", L""},
      {"a machine's folder in it: refused", L"C:\\Fleet\\PC01\\Results", L""},
      {"the collection in letters of the other case: refused", L"c:\\fleet\\PC01", L""},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    Collect("PC01/Results/outcome.20261209-033005.json", fake::fleet::OutcomeLine("PC01", Outcome::kApplied));
    machine().currentFolder = row.currentFolder;
    if (!row.csv.empty()) machine().AddFolder(row.currentFolder);
    out_.clear();

    const int code = result::RunReportCommand(kFleet, L"", out_);

    EXPECT_EQ(code, row.csv.empty() ? result::kReportFailed : result::kReportComplete) << platform::ToUtf8(out_);
    EXPECT_EQ(machine().outputPaths.empty(), row.csv.empty());
    if (!row.csv.empty()) {
      EXPECT_NE(machine().FileText(row.csv).find("\"PC01\",\"applied\",\"0\""), std::string::npos);
      // The page beside it, under the CSV's name.
      EXPECT_EQ(PageFigure(machine().FileText(result::PageBesideCsv(row.csv)), "at-patch"), "1");
      EXPECT_NE(out_.find(L"Page: " + row.csv.substr(0, row.csv.size() - 3) + L"html"), std::wstring::npos);
    }
    EXPECT_NE(out_.find(row.csv.empty() ? L"name the CSV" : L"CSV: " + row.csv), std::wstring::npos)
        << platform::ToUtf8(out_);
  }
}

TEST(ReportArgumentsTest, ParseReportArguments_OptionsAnywhere_OrNothing) {
  const struct {
    const char* name;
    std::vector<std::wstring> arguments;
    bool parsed;
    std::size_t inFlight = result::kDefaultMachinesInFlight;
  } kCases[] = {
      {"the folder alone: machines read sixteen at once", {L"C:\\Fleet"}, true},
      {"--parallel before the folder", {L"--parallel", L"4", L"C:\\Fleet", L"out.csv"}, true, 4},
      {"one at a time", {L"C:\\Fleet", L"--parallel", L"1"}, true, 1},
      {"the most", {L"C:\\Fleet", L"--parallel", L"128"}, true, 128},
      {"more than the most", {L"C:\\Fleet", L"--parallel", L"129"}, false},
      {"none at once", {L"C:\\Fleet", L"--parallel", L"0"}, false},
      {"not a number", {L"C:\\Fleet", L"--parallel", L"-8"}, false},
      {"given twice", {L"C:\\Fleet", L"--parallel", L"8", L"--parallel", L"8"}, false},
      {"no number after it", {L"C:\\Fleet", L"--parallel"}, false},
      {"no folder", {L"--html", L"page.html"}, false},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    const auto parsed = result::ParseReportArguments(row.arguments);
    ASSERT_EQ(parsed.has_value(), row.parsed);
    if (parsed) {
      EXPECT_EQ(parsed->folder, L"C:\\Fleet");
      EXPECT_EQ(parsed->inFlight, row.inFlight);
    }
  }
}

// While it reads, a line on a terminal with what was read so far, wiped at the end; nothing elsewhere.
TEST_F(FleetReportTest, RunReportCommand_ProgressLine_OnATerminalOnly) {
  const struct {
    const char* name;
    bool terminal;
    std::wstring page;  // --html
  } kCases[] = {
      {"on a terminal: the line, then wiped", true, L""},
      {"redirected or in CI: nothing", false, L"C:\\Reports\\rollout.html"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    for (const char* name : {"PC01", "PC02"}) {
      Collect(std::string(name) + "/Results/outcome.20261209-033005.json", fake::fleet::OutcomeLine(name, Outcome::kApplied));
    }
    machine().AddFolder(L"C:\\Reports");
    machine().errorIsTerminal = row.terminal;
    out_.clear();

    EXPECT_EQ(result::RunReportCommand(kFleet, L"C:\\Reports\\fleet.csv", out_, L"", row.page), result::kReportComplete);

    const std::wstring& shown = machine().errorStream;
    if (row.terminal) {
      // Shown at once after the first machine, at most four times a second after it; spaces over it at the end.
      const std::wstring first = L"\rread: 1 machines, 1 files, 0 s";
      EXPECT_EQ(shown.rfind(first, 0), 0u) << platform::ToUtf8(shown);
      EXPECT_TRUE(shown.ends_with(L"\r" + std::wstring(first.size() - 1, L' ') + L"\r")) << platform::ToUtf8(shown);
    } else {
      EXPECT_EQ(shown, L"");
    }
    const std::wstring page = row.page.empty() ? L"C:\\Reports\\fleet.html" : row.page;
    EXPECT_EQ(PageFigure(machine().FileText(page), "at-patch"), "2");
    EXPECT_NE(out_.find(L"Page: " + page), std::wstring::npos) << platform::ToUtf8(out_);
  }
}

TEST_F(FleetReportTest, RunReportCommand_HostileNamesAndFields_TextInTheCsvNothingOnTheConsole) {
  const struct {
    const char* name;
    std::string machine;  // the folder's name, as a collection tool created it
    std::string reason;   // what the machine's outcome file says
    std::string listed = "";  // how the console lists the machine, when checked
    std::string pageName = "";    // how the page lists it, when checked
    std::string pageReason = "";  // how the page gives the reason, when checked
  } kCases[] = {
      {"formula", "=HYPERLINK(\"http://x\")", "=1+1"},
      {"at-sign function", "@SUM(A1)", "@SUM(A1:A9)"},
      {"plus and minus", "+PC01", "-2+3"},
      {"tab and carriage return", "\tPC01", "\rreason"},
      {"terminal escape", "PC\x1b]0;owned\x07\x1b[2J", "\x1b[31mred", "PC?]0;owned??[2J"},
      {"formulas after ';' for a spreadsheet that splits there", "PC01;=1+2", "ok;=cmd|' /C calc'!A0;+2;-3;@x",
       "PC01;=1+2"},
      {"formulas after ',' and quotes and spaces before them", "PC01,=2+3", "a, =1+1,\"=2+2\",\t=3"},
      {"full-width and small formula characters", "\xef\xbc\x9d" "1+2", "x;\xef\xbc\x8b" "1;\xef\xb9\xa6" "2;\xef\xbc\xa0" "3"},
      {"bidi override, zero-width space, line and paragraph separators", "PC\xe2\x80\xaetxt.exe",
       "a\xe2\x80\x8b" "b\xe2\x80\xa8" "c\xe2\x80\xa9" "d\xe2\x81\xa6" "e", "PC?txt.exe", "<li>PC?txt.exe</li>",
       ">a?b?c?d?e</td>"},
      {"an element with a handler in the name, the chart's end and a script in the reason",
       "<img src=x onerror=alert(1)>", "</svg><script>alert(2)</script>", "",
       "<li>&quot;&lt;img src=x onerror=alert(1)&gt;&quot;</li>", ">&lt;/svg&gt;&lt;script&gt;alert(2)&lt;/script&gt;</td>"},
      {"quotes closing an attribute, then a tag", "\"'><", "\"'><b>x", "", "<li>&quot;&quot;&quot;&#39;&gt;&lt;&quot;</li>",
       ">&quot;&#39;&gt;&lt;b&gt;x</td>"},
      {"a 10,000-character name and reason", std::string(10000, 'N'), std::string(10000, 'r'), "",
       "<li>" + std::string(120, 'N') + "...</li>", ">" + std::string(300, 'r') + "</td>"},
      {"a spaced name is one machine on the console", "PC0007 PC0142 PC0150", "x", "\"PC0007 PC0142 PC0150\""},
      {"variation selectors and a Mongolian one, invisible", "PC\xef\xb8\x8f" "01\xe1\xa0\x8b", "a\xf3\xa0\x84\x80" "b",
       "PC?01?"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    result::OutcomeRecord record;
    record.outcome = Outcome::kInstallFailed;
    record.code = 1603;
    record.reason = platform::FromUtf8(row.reason);
    Collect(row.machine + "/Results/outcome.20261209-033005.json", result::FormatOutcomeRecord(record));

    Report();

    // Split as a spreadsheet may split it, at every ',' and ';', quotes or none: no field is a formula.
    const std::wstring csv = platform::FromUtf8(csv_.substr(csv_.find("\r\n") + 2));
    ASSERT_EQ(csv.find_first_of(L"\t\r"), csv.size() - 2) << "one line, tabs and breaks replaced";
    std::wstring field;
    for (const wchar_t c : csv + L",") {
      if (c != L',' && c != L';' && c != L'\r' && c != L'\n') {
        field += c;
        continue;
      }
      const auto start = field.find_first_not_of(L"\" ");
      EXPECT_TRUE(start == std::wstring::npos ||
                  std::wstring(L"=+-@\uFF1D\uFF0B\uFF0D\uFF20\uFE66\uFE62\uFE63\uFE6B").find(field[start]) ==
                      std::wstring::npos)
          << platform::ToUtf8(field);
      field.clear();
    }
    EXPECT_EQ(CsvRows(csv_).at(0).size(), 8u);
    // On the page the names and reasons are text: no element comes from them, and a name is a line long.
    EXPECT_EQ(ForeignElements(page_), std::set<std::string>{});
    EXPECT_NE(page_.find(row.pageName), std::string::npos) << row.pageName;
    EXPECT_NE(page_.find(row.pageReason), std::string::npos) << row.pageReason;
    EXPECT_LT(page_.size(), 16'000u);
    for (const std::wstring& text : {csv, out_, platform::FromUtf8(page_)}) {
      for (const wchar_t c : text) {
        const bool hidden = (c < 0x20 && c != L'\n' && c != L'\r') || (c >= 0x7F && c < 0xA0) ||
                            (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
                            (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFE00 && c <= 0xFE0F) ||
                            (c >= 0x180B && c <= 0x180F) ||
                            (static_cast<std::uint32_t>(c) >= 0xE0000 && static_cast<std::uint32_t>(c) <= 0xE01EF);
        EXPECT_FALSE(hidden) << "control, bidi or zero-width character " << static_cast<int>(c);
      }
    }
    EXPECT_EQ(out_.find(L'\r'), std::wstring::npos);
    if (!row.listed.empty()) {
      EXPECT_TRUE(Lists(out_, L"install-failed", platform::FromUtf8(row.listed))) << platform::ToUtf8(out_);
    }
  }
}

// The fleet as the administrator lists it, against the machines that reported (each one applied run).
TEST_F(FleetReportTest, RunReportCommand_ExpectedList_MissingAndUnexpectedEachCountedOnce) {
  const std::string huge(1U << 20, 'A');
  const struct {
    const char* name;
    std::string list;
    std::vector<std::string> reported;
    std::vector<std::string> missing;     // as the list names them
    std::vector<std::string> unexpected;  // as their folders name them
    int exitCode;
    std::string says;  // part of the console's text
  } kCases[] = {
      {"a listed machine with no run is missing", "PC01\r\nPC02\r\n", {"PC01"}, {"PC02"}, {}, 4,
       "Expected: 2 machines listed in C:\\expected.txt\n"},
      {"a machine not on the list is listed once as not expected", "PC01\n", {"PC01", "PC03"}, {}, {"PC03"}, 0,
       "not on the expected list: 1 of the machines above"},
      {"names compare case-blind", "pc01\nPc02\n", {"PC01", "pC02"}, {}, {}, 0, "Expected: 2 machines"},
      {"a host name counts by its first label, in the list and in the folder",
       "pc01.corp.example.com\nPC02\n", {"PC01", "PC02.corp.example.com"}, {}, {}, 0, "Expected: 2 machines"},
      {"Intune's device export", "Device name,Managed by,OS\r\nPC01,Intune,Windows\r\nPC02,Intune,Windows\r\n",
       {"PC01"}, {"PC02"}, {}, 4, "(column \"Device name\")"},
      {"Configuration Manager's export, every cell quoted",
       "\"Name\",\"Client\",\"Site Code\"\r\n\"PC01\",\"Yes\",\"P01\"\r\n\"PC02\",\"Yes\",\"P01\"\r\n", {"PC01"}, {"PC02"}, {},
       4, "(column \"Name\")"},
      {"a ComputerName column", "LastLogon,ComputerName\nyesterday,PC01\ntoday,PC02\n", {"PC02"}, {"PC01"}, {}, 4,
       "(column \"ComputerName\")"},
      {"Active Directory's DNSHostName beside a quoted name with commas and a line break in it",
       "DistinguishedName,DNSHostName\r\n\"CN=PC01,OU=Fleet,\r\nDC=corp\",pc01.corp.example.com\r\n"
       "\"CN=PC02,OU=Fleet,DC=corp\",pc02.corp.example.com\r\n",
       {"PC01"}, {"pc02"}, {}, 4, "(column \"DNSHostName\")"},
      {"Intune's report export, and a ';' separator",
       "DeviceName;OS\r\nPC01;Windows\r\nPC02;Windows\r\n", {"PC01"}, {"PC02"}, {}, 4, "(column \"DeviceName\")"},
      {"Windows PowerShell's Export-Csv, its #TYPE line first",
       "#TYPE Selected.Microsoft.ActiveDirectory.Management.ADComputer\r\n\"Name\",\"DNSHostName\"\r\n"
       "\"PC01\",\"PC01.corp.example.com\"\r\n\"PC02\",\"\"\r\n\"PC03\",\"PC03.corp.example.com\"\r\n\"\",\"x\"\r\n",
       {"PC01", "PC03"}, {"PC02"}, {}, 4, "1 lines passed over, the first on line 6"},
      {"the first known column decides", "DNSHostName,Name\nwrong.corp,PC01\n", {"PC01"}, {}, {}, 0,
       "(column \"Name\")"},
      {"a byte-order mark", "\xEF\xBB\xBF" "Device name\r\nPC01\r\nPC02\r\n", {"PC01"}, {"PC02"}, {}, 4,
       "(column \"Device name\")"},
      {"UTF-16 from a PowerShell redirection", std::string("\xFF\xFEP\0C\0" "0\0" "1\0\r\0\n\0P\0C\0" "0\0" "2\0", 22),
       {"PC01"}, {"PC02"}, {}, 4, "Expected: 2 machines"},
      {"';' between the cells, as Excel writes where a comma is the decimal sign",
       "Device name;OS\r\nPC01;Windows 11\r\nPC02;Windows 10\r\n", {"PC01"}, {"PC02"}, {}, 4,
       "(column \"Device name\")"},
      {"Excel's sep= line", "sep=;\r\nName;OS\r\nPC01;x\r\n\r\nPC02;y\r\n", {"PC01"}, {"PC02"}, {}, 4,
       "(column \"Name\")"},
      {"duplicates held once and said", "PC01\npc01\nPC01.corp.example.com\nPC02\n\n", {"PC01"}, {"PC02"}, {}, 4,
       "Expected: 2 machines listed in C:\\expected.txt\n  2 names listed more than once"},
      {"a huge line is passed over and said", "PC01\n" + huge + "\nPC02\n", {"PC01"}, {"PC02"}, {}, 4,
       "1 lines passed over, the first on line 2"},
      {"a huge quoted name cell and names no machine bears are passed over",
       "Name,OS\nPC01,x\n\"" + huge + "\",y\n=cmd|' /C calc'!A0,z\nPC\x1b[2J,w\n,v\nPC02,u\n", {"PC01"}, {"PC02"}, {}, 4,
       "4 lines passed over, the first on line 3"},
      {"no known column: said, nothing written", "Serial,Model\nX1,Y1\n", {"PC01"}, {}, {}, 1,
       "names none of the columns \"Device name\", \"DeviceName\", \"Name\", \"ComputerName\", \"DNSHostName\": Serial,Model"},
      {"a bidi override in the line shown is '?'", "Serial,Mo\xe2\x80\xae" "del\nX1,Y1\n", {"PC01"}, {}, {}, 1,
       "Serial,Mo?del"},
      {"a list naming no machine", "\r\n\r\n", {"PC01"}, {}, {}, 1, "it names no machine"},
      {"not text", std::string("PC01\0\0\0", 7), {"PC01"}, {}, {}, 1, "it is not text"},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    fake::ResetMachine();
    for (const auto& name : row.reported) {
      Collect(name + "/Results/outcome.20261209-033005.json", fake::fleet::OutcomeLine(name, Outcome::kApplied));
    }
    machine().AddFile(L"C:\\expected.txt", row.list);

    EXPECT_EQ(Report(L"C:\\expected.txt"), row.exitCode) << platform::ToUtf8(out_);

    EXPECT_NE(out_.find(platform::FromUtf8(row.says)), std::wstring::npos) << platform::ToUtf8(out_);
    if (row.exitCode == result::kReportFailed) {
      EXPECT_TRUE(csv_.empty()) << "nothing written when the list can't be used";
      continue;
    }
    const auto rows = CsvRows(csv_);
    for (const auto& name : row.missing) {
      EXPECT_TRUE(Lists(out_, L"missing", platform::FromUtf8(name))) << platform::ToUtf8(out_);
      EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                              [&](const auto& cells) {
                                return cells[0] == name && cells[1] == "missing" && cells[2].empty() && cells[6] == "yes";
                              }),
                1)
          << csv_;
    }
    EXPECT_NE(out_.find(L"\nmissing             -     " + std::to_wstring(row.missing.size()) + L"\n"), std::wstring::npos);
    // The page's headline: the listed machines at the patch, those missing and those not on the list.
    EXPECT_EQ(PageFigure(page_, "at-patch"), std::to_string(row.reported.size()));
    EXPECT_EQ(PageFigure(page_, "expected-at-patch"), std::to_string(row.reported.size() - row.unexpected.size()));
    EXPECT_EQ(PageFigure(page_, "missing"), std::to_string(row.missing.size()));
    EXPECT_EQ(PageFigure(page_, "unexpected"), std::to_string(row.unexpected.size()));
    for (const auto& name : row.unexpected) EXPECT_TRUE(Lists(out_, L"not expected", platform::FromUtf8(name)));
    EXPECT_NE(out_.find(L"not on the expected list: " + std::to_wstring(row.unexpected.size()) + L" "), std::wstring::npos);
    if (row.unexpected.empty()) {
      EXPECT_EQ(out_.find(L"not expected ("), std::wstring::npos);
    }
    EXPECT_EQ(rows.size(), row.reported.size() + row.missing.size());
    EXPECT_NE(out_.find(L"total                     " + std::to_wstring(row.reported.size() + row.missing.size()) +
                        L" machines"),
              std::wstring::npos)
        << platform::ToUtf8(out_);
  }
  // Without a list nothing is missing, and the table doesn't say so.
  EXPECT_EQ(Report(), result::kReportComplete);
  EXPECT_EQ(out_.find(L"missing"), std::wstring::npos);
}

}  // namespace

