// Newest run per machine: the deployment cache is gone, but a machine's Results folder holds its last
// runs, and an administrator wants to know where each machine stands now, not how often it tried.
#include "result/fleet_report.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string_view>
#include <system_error>

#include "log/run_log.h"
#include "result/log_reading.h"
#include "result/outcome_file.h"

namespace result {
namespace {

namespace fs = std::filesystem;

constexpr wchar_t kUnknownMachine[] = L"(unknown)";
constexpr wchar_t kCannotRead[] = L"the file could not be read";
constexpr wchar_t kNotOutcomeFile[] = L"not an outcome file: no flat JSON object with a known \"outcome\"";
// Outcome files are one short line; anything larger is not one.
constexpr std::uintmax_t kMaxFileBytes = 16U << 20;

std::wstring Wide(const fs::path& path) {
  const std::u8string utf8 = path.u8string();
  return FromUtf8(std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring LowerAscii(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), Lower);
  return text;
}

enum class Kind { kNone, kLog, kOutcome };

Kind KindOf(const fs::path& path) {
  const std::wstring extension = LowerAscii(Wide(path.extension()));
  if (extension == L".txt" || extension == L".log") return Kind::kLog;
  if (extension == L".json") return Kind::kOutcome;
  return Kind::kNone;
}

// "PC01_Log_VDT_14_PatchUpdate.txt" names PC01 wherever it lies; any other log takes the first folder
// below the collection's ("PC01\Results\..."), and at the top its own name ("PC01.txt").
std::wstring MachineOfLog(const fs::path& relative) {
  std::wstring stem = Wide(relative.filename());
  const std::wstring logStem = LowerAscii(std::wstring(kRunLogFileName).substr(0, std::size(kRunLogFileName) - 5));
  const auto at = LowerAscii(stem).find(logStem);
  stem.resize(at == std::wstring::npos ? 0 : at);
  while (!stem.empty() && (stem.back() == L'_' || stem.back() == L'-' || stem.back() == L'.' || stem.back() == L' ')) {
    stem.pop_back();
  }
  if (!stem.empty()) return stem;
  if (std::distance(relative.begin(), relative.end()) > 1) return Wide(*relative.begin());
  if (at == std::wstring::npos) return Wide(relative.stem());
  return kUnknownMachine;
}

std::wstring FolderMachine(const fs::path& relative) {
  if (std::distance(relative.begin(), relative.end()) > 1) return Wide(*relative.begin());
  return Wide(relative.stem());
}

// "Monday 14:05, December 07, 2026" as "2026-12-07T14:05"; empty when it doesn't read as such.
std::wstring SortableLogDate(std::wstring_view date) {
  constexpr std::wstring_view kMonths[] = {L"January", L"February", L"March",     L"April",   L"May",      L"June",
                                           L"July",    L"August",   L"September", L"October", L"November", L"December"};
  const auto space = date.find(L' ');
  const auto comma = date.find(L", ");
  if (space == std::wstring_view::npos || comma == std::wstring_view::npos || comma < space) return {};
  const auto time = date.substr(space + 1, comma - space - 1);
  auto rest = date.substr(comma + 2);
  const auto monthEnd = rest.find(L' ');
  if (time.size() != 5 || monthEnd == std::wstring_view::npos) return {};
  const auto month = std::find(std::begin(kMonths), std::end(kMonths), rest.substr(0, monthEnd));
  rest.remove_prefix(monthEnd + 1);
  if (month == std::end(kMonths) || rest.size() < 8 || rest.substr(2, 2) != L", ") return {};
  const auto monthNumber = static_cast<int>(month - std::begin(kMonths)) + 1;
  std::wstring sortable(rest.substr(4));
  sortable += monthNumber < 10 ? L"-0" : L"-";
  sortable += std::to_wstring(monthNumber);
  sortable += L'-';
  sortable += rest.substr(0, 2);
  sortable += L'T';
  sortable += time;
  return sortable;
}

std::optional<std::string> ReadBytes(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size > kMaxFileBytes) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::uintmax_t>(in.gcount()) != size) return std::nullopt;
  return bytes;
}

ReportRow ReadFile(const fs::path& path, const fs::path& relative, Kind kind) {
  ReportRow row;
  row.file = Wide(relative.generic_u8string());
  const auto bytes = ReadBytes(path);
  if (kind == Kind::kOutcome) {
    const auto record = bytes ? ParseOutcomeRecord(*bytes) : std::nullopt;
    if (record) {
      row.machine = record->machine.empty() ? FolderMachine(relative) : record->machine;
      row.time = record->time;
      row.outcome = record->outcome;
      row.code = record->code;
      row.reason = record->reason;
      return row;
    }
    row.machine = FolderMachine(relative);
    row.reason = bytes ? kNotOutcomeFile : kCannotRead;
  } else {
    row.machine = MachineOfLog(relative);
    if (bytes) {
      const auto* data = reinterpret_cast<const std::uint8_t*>(bytes->data());
      const Reading reading = ReadRunLog(std::span<const std::uint8_t>(data, bytes->size()));
      row.outcome = reading.outcome;
      row.reason = reading.reason;
      row.time = SortableLogDate(reading.logDate);
    } else {
      row.reason = kCannotRead;
    }
  }
  row.code = ExitCodeOf(row.outcome);
  return row;
}

std::wstring Padded(std::wstring text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), L' ');
  return text;
}

void AppendCsvField(std::string& out, std::wstring_view field) {
  const std::string utf8 = ToUtf8(field);
  if (utf8.find_first_of(",\"\r\n") == std::string::npos) {
    out += utf8;
    return;
  }
  out += '"';
  for (const char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace

FleetReport BuildFleetReport(const fs::path& folder) {
  FleetReport report;
  std::error_code error;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
       !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error) && KindOf(it->path()) != Kind::kNone) files.push_back(it->path());
  }
  // By their text: comparing paths component by component costs allocations on every comparison.
  std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
  for (const auto& path : files) {
    report.rows.push_back(ReadFile(path, path.lexically_relative(folder), KindOf(path)));
  }

  // The newest row of each machine; at equal times an outcome file beats a log, a readable file any
  // unreadable one.
  std::map<std::wstring, std::size_t> newest;
  auto better = [&report](std::size_t a, std::size_t b) {
    const ReportRow& x = report.rows[a];
    const ReportRow& y = report.rows[b];
    const bool xReadable = x.outcome != Outcome::kUnreadable;
    const bool yReadable = y.outcome != Outcome::kUnreadable;
    if (xReadable != yReadable) return xReadable;
    return x.time > y.time;
  };
  for (std::size_t i = 0; i < report.rows.size(); ++i) {
    const auto [it, inserted] = newest.emplace(report.rows[i].machine, i);
    if (!inserted && better(i, it->second)) it->second = i;
  }
  for (const auto& [machine, index] : newest) {
    report.rows[index].counted = true;
    report.machines[report.rows[index].outcome].push_back(machine);
  }
  report.machineCount = newest.size();
  return report;
}

std::wstring FormatReportTable(const FleetReport& report) {
  std::wstring out = Padded(L"Outcome", 20) + Padded(L"Code", 6) + L"Machines\n";
  for (const Outcome outcome : kAllOutcomes) {
    const auto it = report.machines.find(outcome);
    const std::size_t count = it == report.machines.end() ? 0 : it->second.size();
    out += Padded(std::wstring(OutcomeName(outcome)), 20) + Padded(std::to_wstring(ExitCodeOf(outcome)), 6) +
           std::to_wstring(count) + L"\n";
  }
  out += Padded(L"total", 26) + std::to_wstring(report.machineCount) + L" machines, " +
         std::to_wstring(report.rows.size()) + L" files\n";
  for (const auto& [outcome, machines] : report.machines) {
    out += L"\n" + std::wstring(OutcomeName(outcome)) + L" (" + std::to_wstring(machines.size()) + L"):";
    for (const auto& machine : machines) out += L" " + machine;
    out += L"\n";
  }
  return out;
}

std::string FormatReportCsv(const FleetReport& report) {
  std::string out = "\xEF\xBB\xBFmachine,outcome,code,reason,time,file,counted\r\n";
  for (const auto& row : report.rows) {
    AppendCsvField(out, row.machine);
    out += ',';
    AppendCsvField(out, OutcomeName(row.outcome));
    out += ',' + std::to_string(row.code) + ',';
    AppendCsvField(out, row.reason);
    out += ',';
    AppendCsvField(out, row.time);
    out += ',';
    AppendCsvField(out, row.file);
    out += row.counted ? ",yes\r\n" : ",no\r\n";
  }
  return out;
}

int RunReportCommand(const fs::path& folder, const fs::path& csv, std::wstring& out) {
  std::error_code error;
  if (!fs::is_directory(folder, error)) {
    out += L"No such folder: " + Wide(folder) + L"\n";
    return 1;
  }
  const FleetReport report = BuildFleetReport(folder);
  out += FormatReportTable(report);
  const std::string text = FormatReportCsv(report);
  std::ofstream file(csv, std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) {
    out += L"\nThe CSV could not be written: " + Wide(csv) + L"\n";
    return 1;
  }
  out += L"\nCSV: " + Wide(csv) + L"\n";
  return 0;
}

}  // namespace result
