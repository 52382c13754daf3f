// The report command: where the CSV and the page go, the walk's rows streamed into them, the table on
// the console. Unless named, nothing is written where whoever can write the collection could edit,
// replace or hold it.
#include "result/fleet_report.h"

#include <string_view>

#include "platform/clock.h"
#include "platform/folder_listing.h"
#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "result/fleet_page.h"
#include "result/run_names.h"

namespace result {

namespace {

constexpr wchar_t kListNotUsed[] = L"The expected list could not be used: ";
constexpr wchar_t kExpectedOption[] = L"--expected";
constexpr wchar_t kNoSuchFolder[] = L"The folder could not be read: ";
constexpr wchar_t kCsvNotWritten[] = L"\nThe CSV could not be written: ";
constexpr wchar_t kCsvWritten[] = L"\nCSV: ";
constexpr wchar_t kPageNotWritten[] = L"The page could not be written: ";
constexpr wchar_t kPageWritten[] = L"Page: ";
constexpr wchar_t kPageOption[] = L"--html";
constexpr wchar_t kParallelOption[] = L"--parallel";
constexpr wchar_t kProgressRead[] = L"read: ";
constexpr wchar_t kProgressMachines[] = L" machines, ";
constexpr wchar_t kProgressFiles[] = L" files, ";
constexpr wchar_t kProgressSeconds[] = L" s";
constexpr wchar_t kCsvInsideCollection[] =
    L"The CSV is not written inside the collection unless named there: start the report from another folder, "
    L"or name the CSV (report FOLDER CSV).\n";

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Whether `path` is `folder` or lies inside it, both resolved; letters of either case alike, as Windows
// names compare (on Linux that errs on the side of refusing).
bool IsSameOrInside(std::wstring_view path, std::wstring_view folder) {
  while (folder.size() > 1 && IsSeparator(folder.back())) folder.remove_suffix(1);
  if (path.size() < folder.size() || !EqualsNoCase(path.substr(0, folder.size()), folder)) return false;
  return path.size() == folder.size() || IsSeparator(path[folder.size()]) || IsSeparator(folder.back());
}

}  // namespace

std::optional<std::wstring> DefaultCsvPath(const std::wstring& folder) {
  const std::wstring here = platform::ResolvedFolder(L".");
  if (here.empty()) return std::nullopt;
  // A collection that can't be resolved can't be read either, and the walk says so.
  const std::wstring collection = platform::ResolvedFolder(folder);
  if (!collection.empty() && IsSameOrInside(here, collection)) return std::nullopt;
  return platform::ChildPath(here, kReportCsvName);
}

namespace {

// The line that tells, on a terminal, how far the walk is: at most four times a second, so that writing
// it costs nothing beside the reading, and wiped when the walk is done.
class ProgressLine {
 public:
  void Update(std::size_t machines, std::size_t files) {
    if (!wanted_) return;
    const std::uint64_t now = platform::CurrentSystemTime();
    if (now - shown_ < kInterval) return;
    shown_ = now;
    Show(kProgressRead + std::to_wstring(machines) + kProgressMachines + std::to_wstring(files) + kProgressFiles +
         std::to_wstring((now - started_) / platform::kSystemTimeUnitsPerSecond) + kProgressSeconds);
  }

  void Clear() {
    if (width_ == 0) return;
    Show(L"");
    platform::WriteProgressLine(L"");
  }

 private:
  static constexpr std::uint64_t kInterval = platform::kSystemTimeUnitsPerSecond / 4;

  // Over what the line showed before, so that nothing of a longer line stays.
  void Show(std::wstring text) {
    const std::size_t width = text.size();
    if (text.size() < width_) text.append(width_ - text.size(), L' ');
    platform::WriteProgressLine(text);
    width_ = width;
  }

  const bool wanted_ = platform::ProgressLineWanted();
  const std::uint64_t started_ = platform::CurrentSystemTime();
  std::uint64_t shown_ = 0;
  std::size_t width_ = 0;
};

// The page, written as the CSV is: under a new name, then moved into place. 0 or the error code.
std::uint32_t WritePage(const std::wstring& path, const std::string& page) {
  platform::OutputFile file;
  const std::uint32_t opened = file.Open(path);
  if (opened != 0) return opened;
  file.Write(page);
  return file.Close();
}

}  // namespace

int RunReportCommand(const std::wstring& folder, const std::wstring& csv, std::wstring& out,
                     const std::wstring& expectedList, const std::wstring& page, std::size_t inFlight) {
  // Unless named, the CSV goes where the administrator is, never where whoever can write the collection
  // could edit, replace or hold it.
  std::wstring path = csv;
  if (path.empty()) {
    const auto fallback = DefaultCsvPath(folder);
    if (!fallback) {
      out += kCsvInsideCollection;
      return kReportFailed;
    }
    path = *fallback;
  }
  std::optional<ExpectedList> expected;
  if (!expectedList.empty()) {
    expected = ReadExpectedList(expectedList);
    if (!expected->problem.empty()) {
      out += kListNotUsed + ForConsole(expectedList) + L": " + expected->problem + L"\n";
      return kReportFailed;
    }
    out += DescribeExpectedList(*expected, expectedList);
  }
  // The CSV is made once the folder could be listed, so a mistyped folder leaves no file behind.
  platform::OutputFile file;
  std::optional<std::uint32_t> opened;
  auto open = [&] {
    if (opened) return;
    opened = file.Open(path);
    if (*opened == 0) file.Write(CsvHeader());
  };
  std::string line;
  PageFigures figures;
  const std::function<void(const ReportRow&)> sink = [&](const ReportRow& row) {
    open();
    line.clear();
    AppendCsvRow(line, row);
    file.Write(line);
    figures.Add(row);
  };
  ProgressLine progress;
  const std::function<void(std::size_t, std::size_t)> onProgress =
      [&progress](std::size_t machines, std::size_t files) { progress.Update(machines, files); };
  std::uint32_t error = 0;
  const auto totals = BuildFleetReport(folder, sink, error, expected ? &*expected : nullptr, onProgress, inFlight);
  progress.Clear();
  if (!totals) {
    out += WithCode(kNoSuchFolder + ForConsole(folder) + L": ", error) + L"\n";
    return kReportFailed;
  }
  open();
  const std::uint32_t written = *opened != 0 ? *opened : file.Close();
  out += FormatReportTable(*totals);
  if (written != 0) {
    out += WithCode(kCsvNotWritten + ForConsole(path) + L": ", written) + L"\n";
    return kReportFailed;
  }
  out += kCsvWritten + ForConsole(path) + L"\n";
  const std::wstring pagePath = page.empty() ? PageBesideCsv(path) : page;
  if (const std::uint32_t pageError = WritePage(pagePath, FleetPage(*totals, figures, folder)); pageError != 0) {
    out += WithCode(kPageNotWritten + ForConsole(pagePath) + L": ", pageError) + L"\n";
    return kReportFailed;
  }
  out += kPageWritten + ForConsole(pagePath) + L"\n";
  if (totals->notRead > 0) return kReportIncomplete;
  const auto missing = totals->machines.find(Outcome::kMissing);
  return missing != totals->machines.end() && !missing->second.empty() ? kReportMissing : kReportComplete;
}

namespace {

// "1" to the largest number of machines read at once, digits only; nullopt for anything else.
std::optional<std::size_t> MachinesInFlight(const std::wstring& text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  std::size_t count = 0;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    count = count * 10 + static_cast<std::size_t>(c - L'0');
  }
  if (count == 0 || count > kMaxMachinesInFlight) return std::nullopt;
  return count;
}

}  // namespace

std::optional<ReportArguments> ParseReportArguments(const std::vector<std::wstring>& arguments) {
  ReportArguments parsed;
  std::vector<const std::wstring*> positional;
  std::wstring parallel;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::wstring* option = arguments[i] == kExpectedOption   ? &parsed.expected
                           : arguments[i] == kPageOption     ? &parsed.page
                           : arguments[i] == kParallelOption ? &parallel
                                                             : nullptr;
    if (option == nullptr) {
      positional.push_back(&arguments[i]);
    } else if (i + 1 == arguments.size() || !option->empty() || arguments[i + 1].empty()) {
      return std::nullopt;
    } else {
      *option = arguments[++i];
    }
  }
  if (positional.empty() || positional.size() > 2) return std::nullopt;
  parsed.folder = *positional[0];
  if (positional.size() == 2) parsed.csv = *positional[1];
  // cppcheck-suppress knownConditionTrueFalse ; set through `option` above
  if (!parallel.empty()) {
    const auto inFlight = MachinesInFlight(parallel);
    if (!inFlight) return std::nullopt;
    parsed.inFlight = *inFlight;
  }
  return parsed;
}

}  // namespace result
