// Newest run per machine: the deployment cache is gone, but a machine's Results folder holds its last
// runs, and an administrator wants to know where each machine stands now, not how often it tried. So only
// the newest run is read, and older ones only while what was read can't be: a machine whose last run was
// cut short is unreadable, with its earlier result beside it, never that earlier result instead.
//
// Everything in the collection may have been written by anyone: names and reasons are neutralised where
// a spreadsheet or a terminal would act on them, a file's own claims never replace where it was found, and
// what is read from one file is bounded.
#include "result/fleet_report.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <utility>

#include "log/run_log.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/folder_listing.h"
#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "platform/utf8.h"
#include "result/fleet_page.h"
#include "result/kept_runs.h"
#include "result/log_reading.h"
#include "result/outcome_file.h"
#include "result/visible_text.h"

namespace result {

using platform::ToUtf8;
namespace {

constexpr wchar_t kUnknownMachine[] = L"(unknown)";
constexpr wchar_t kNotOutcomeFile[] = L"not an outcome file: no flat JSON object with a known \"outcome\"";
constexpr wchar_t kTooLarge[] = L"the file is too large (over 16 MiB) to be a log or an outcome file";
constexpr wchar_t kCannotRead[] = L"the file could not be read: ";
constexpr wchar_t kCannotList[] = L"the folder could not be read: ";
constexpr wchar_t kLinkNotFollowed[] = L"a link (junction, symbolic link or mount point): not followed";
constexpr wchar_t kTooDeep[] = L"folders nested too deep: not read";
constexpr wchar_t kBesideFolder[] =
    L"a file beside the machine's folder of the same name: not read, the folder's runs count";
constexpr wchar_t kNothingCollected[] = L"no log or outcome file of the utility in this folder";
constexpr wchar_t kNoRunCollected[] = L"on the expected list, but no run of it in the folder";
constexpr wchar_t kListNotUsed[] = L"The expected list could not be used: ";
constexpr wchar_t kUnexpectedLine[] = L"not on the expected list: ";
constexpr wchar_t kUnexpectedTail[] = L" of the machines above\n";
constexpr wchar_t kUnexpectedList[] = L"not expected";
constexpr wchar_t kExpectedOption[] = L"--expected";
constexpr wchar_t kClaimsMachine[] = L" (the file names the machine \"";
constexpr wchar_t kEarlier[] = L" (earlier: ";
constexpr wchar_t kNoSuchFolder[] = L"The folder could not be read: ";
constexpr wchar_t kCsvNotWritten[] = L"\nThe CSV could not be written: ";
constexpr wchar_t kCsvWritten[] = L"\nCSV: ";
constexpr wchar_t kPageNotWritten[] = L"The page could not be written: ";
constexpr wchar_t kPageWritten[] = L"Page: ";
constexpr wchar_t kPageOption[] = L"--html";
constexpr wchar_t kProgressRead[] = L"read: ";
constexpr wchar_t kProgressMachines[] = L" machines, ";
constexpr wchar_t kProgressFiles[] = L" files, ";
constexpr wchar_t kProgressSeconds[] = L" s";
constexpr wchar_t kCsvInsideCollection[] =
    L"The CSV is not written inside the collection unless named there: start the report from another folder, "
    L"or name the CSV (report FOLDER CSV).\n";
constexpr wchar_t kNotReadLine[] = L"not read: ";
constexpr wchar_t kNotReadTail[] = L" folders or files (rows in the CSV); the report is incomplete\n";
constexpr char kCsvColumns[] =
    "\xEF\xBB\xBF\"machine\",\"outcome\",\"code\",\"reason\",\"time\",\"file\",\"counted\",\"earlier_outcome\"\r\n";

// Outcome files are one short line and logs a few kilobytes; anything larger is neither.
constexpr std::size_t kMaxFileBytes = 16U << 20;
// A machine's own files lie a folder or two deep; a deeper tree is not a collection of them.
constexpr std::size_t kMaxDepth = 16;
constexpr std::size_t kMaxTimeChars = 64;
constexpr std::size_t kMaxMachineChars = 64;

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
  if (text.size() < suffix.size()) return false;
  const auto tail = text.substr(text.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](wchar_t a, wchar_t b) { return Lower(a) == b; });
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) { return Lower(x) == Lower(y); });
}

enum class Kind { kNone, kLog, kOutcome };

Kind KindOf(std::wstring_view name) {
  if (name == kNewestOutcomeName) return Kind::kOutcome;
  if (EndsWithNoCase(name, L".txt") || EndsWithNoCase(name, L".log")) return Kind::kLog;
  if (EndsWithNoCase(name, L".json")) return Kind::kOutcome;
  return Kind::kNone;
}

bool IsNewestCopy(std::wstring_view name) { return name == kNewestLogName || name == kNewestOutcomeName; }

// The machine a file directly under the collection names: "PC01_Log_VDT_14_PatchUpdate.txt" the part before
// the log's own name, "PC01.txt" its stem; the companion's and the utility's own names name none.
std::wstring MachineOfFileName(std::wstring_view name) {
  if (ParseKeptName(name) || IsNewestCopy(name)) return kUnknownMachine;
  static const std::wstring logStem = [] {
    std::wstring stem(kRunLogFileName, std::size(kRunLogFileName) - 5);  // without ".txt" and the NUL
    std::transform(stem.begin(), stem.end(), stem.begin(), Lower);
    return stem;
  }();
  std::wstring lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
  const auto at = lower.find(logStem);
  std::wstring_view machine = name;
  if (at != std::wstring::npos) {
    machine = name.substr(0, at);
    while (!machine.empty() && (machine.back() == L'_' || machine.back() == L'-' || machine.back() == L'.' ||
                                machine.back() == L' ')) {
      machine.remove_suffix(1);
    }
  } else if (const auto dot = name.rfind(L'.'); dot != std::wstring_view::npos) {
    machine = name.substr(0, dot);
  }
  return machine.empty() ? std::wstring(kUnknownMachine) : std::wstring(machine);
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

// Seconds since 1970 as this machine's local wall-clock time, on the scale of the companion's stamps
// (the collected machine's local time); 0 when the time can't be converted.
std::int64_t StampOfTime(std::int64_t seconds) {
  const auto local = platform::LocalTimeOf(seconds);
  if (!local) return 0;
  return WallClockSeconds(local->year, local->month, local->day, local->hour, local->minute, local->second);
}

// More than any two time zones differ, far less than a clock that ran ahead by months.
constexpr std::int64_t kTwoDays = 2 * kSecondsPerDay;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// Inside a machine's folder only the utility's and the companion's own files are runs: the companion's
// kept names and newest copies, a log with the utility's log name in its name, an outcome file.
Kind KindInMachineFolder(std::wstring_view name) {
  if (const auto kept = ParseKeptName(name)) return kept->kind == KeptKind::kLog ? Kind::kLog : Kind::kOutcome;
  if (name == kNewestLogName) return Kind::kLog;
  if (name == kNewestOutcomeName) return Kind::kOutcome;
  std::wstring lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
  const Kind kind = KindOf(name);
  if (kind == Kind::kLog && lower.find(L"log_vdt_14_patchupdate") != std::wstring::npos) return Kind::kLog;
  if (kind == Kind::kOutcome && lower.rfind(L"outcome", 0) == 0) return Kind::kOutcome;
  return Kind::kNone;
}

// One of a machine's files: where it is, what it is and when its run was.
struct Candidate {
  std::wstring folder;    // the folder it is in
  std::wstring relative;  // that folder relative to the collection, "" for the collection itself
  std::wstring name;
  Kind kind = Kind::kNone;
  RunStamp when;
  bool stamped = false;
  bool newestCopy = false;
};

// Newest run first; within a run its outcome file before its log.
bool Newer(const Candidate& a, const Candidate& b) {
  if (a.when != b.when) return a.when > b.when;
  return a.kind == Kind::kOutcome && b.kind != Kind::kOutcome;
}

// A machine keeps 20 runs; of more files than this only the newest are kept in mind.
constexpr std::size_t kMaxCandidates = 64;

// What one file tells is shown, never all of it.
constexpr std::size_t kMaxCellChars = 512;

void Cap(std::wstring& text, std::size_t limit) {
  if (text.size() > limit) {
    text.resize(limit);
    text += L"...";
  }
}

// Spreadsheets take a field that begins with these as a formula, the full-width and small forms included.
bool IsFormulaCharacter(wchar_t c) {
  return c == L'=' || c == L'+' || c == L'-' || c == L'@' || c == 0xFF1D || c == 0xFF0B || c == 0xFF0D ||
         c == 0xFF20 || c == 0xFE66 || c == 0xFE62 || c == 0xFE63 || c == 0xFE6B || c == 0x2212;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == 0xA0 || c == 0x3000; }

// A field can begin at the cell's start, and after a ';' or ',' in it for a spreadsheet that splits the
// line there whatever the quotes say. Where one could begin, after any blanks, with a formula character
// or a quote (which would open a quoted formula), a "'" goes first, so every field a spreadsheet can cut
// from the cell is text.
std::wstring Neutralised(std::wstring_view field) {
  const std::wstring visible = Visible(field);
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
  const std::string utf8 = ToUtf8(Neutralised(field));
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

}  // namespace

// Text for a terminal: nothing that acts on the screen or hides between letters comes through.
std::wstring ForConsole(std::wstring_view text) { return Visible(text); }

namespace {

// A machine's name in the console's list of names: in quotes (doubled inside) when it holds a space or a
// quote, so "PC0007 PC0142" reads as one machine, not two.
std::wstring ConsoleName(std::wstring_view machine) {
  std::wstring shown = ForConsole(machine);
  if (!shown.empty() && std::none_of(shown.begin(), shown.end(), [](wchar_t c) { return IsSpaceLike(c) || c == L'"'; })) {
    return shown;
  }
  std::wstring quoted = L"\"";
  for (const wchar_t c : shown) {
    if (c == L'"') quoted += L'"';
    quoted += c;
  }
  return quoted + L"\"";
}

std::wstring Padded(std::wstring text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), L' ');
  return text;
}

std::wstring WithCode(const wchar_t* what, std::uint32_t error) {
  std::wstring text = what;
  const std::wstring words = platform::SystemErrorText(error);
  text += words.empty() ? L"error " + std::to_wstring(error) : words + L" (error " + std::to_wstring(error) + L")";
  return text;
}

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

// Whether `path` is `folder` or lies inside it, both resolved; letters of either case alike, as Windows
// names compare (on Linux that errs on the side of refusing).
bool IsSameOrInside(std::wstring_view path, std::wstring_view folder) {
  while (folder.size() > 1 && IsSeparator(folder.back())) folder.remove_suffix(1);
  if (path.size() < folder.size() || !EqualsNoCase(path.substr(0, folder.size()), folder)) return false;
  return path.size() == folder.size() || IsSeparator(path[folder.size()]) || IsSeparator(folder.back());
}

class Walker {
 public:
  Walker(const std::wstring& root, const std::function<void(const ReportRow&)>& sink, ExpectedList* expected,
         const std::function<void(std::size_t, std::size_t)>& progress)
      : root_(root),
        sink_(sink),
        expected_(expected),
        progress_(progress),
        now_(StampOfTime(static_cast<std::int64_t>(platform::CurrentSystemTime() / platform::kSystemTimeUnitsPerSecond) -
                         kSecondsFrom1601To1970)) {}

  std::optional<ReportTotals> Run(std::uint32_t& error) {
    std::vector<platform::FolderEntry> entries;
    error = platform::ListFolder(root_, entries);
    if (error != 0) return std::nullopt;
    // Each top entry under the machine it names, in letters of one case as Windows names compare;
    // sorted, so that a machine's entries come together.
    std::vector<TopEntry> top;
    top.reserve(entries.size());
    for (auto& entry : entries) {
      if (EqualsNoCase(entry.name, kReportCsvName)) continue;  // an earlier report's
      const bool fileLike = !entry.isFolder && KindOf(entry.name) != Kind::kNone;
      if (!entry.isFolder && !entry.isLink && !fileLike) continue;
      std::wstring machine = fileLike ? MachineOfFileName(entry.name) : entry.name;
      std::wstring key = machine;
      std::transform(key.begin(), key.end(), key.begin(), Lower);
      top.push_back({std::move(key), std::move(machine), std::move(entry)});
    }
    entries.clear();
    entries.shrink_to_fit();
    std::sort(top.begin(), top.end(), [](const TopEntry& a, const TopEntry& b) {
      return a.key != b.key ? a.key < b.key : a.entry.name < b.entry.name;
    });
    for (std::size_t first = 0; first < top.size();) {
      std::size_t last = first;
      while (last < top.size() && top[last].key == top[first].key) ++last;
      Machine(top[first].machine, std::span(top).subspan(first, last - first));
      first = last;
      if (progress_) progress_(totals_.machineCount, totals_.fileCount);
    }
    if (expected_ != nullptr) Missing();
    return std::move(totals_);
  }

 private:
  struct TopEntry {
    std::wstring key;
    std::wstring machine;
    platform::FolderEntry entry;
  };

  void Machine(const std::wstring& machine, std::span<const TopEntry> entries) {
    machine_ = machine;
    candidates_.clear();
    held_.reset();
    const bool anyFolder =
        std::any_of(entries.begin(), entries.end(), [](const TopEntry& top) { return top.entry.isFolder; });
    for (const TopEntry& top : entries) {
      // The machine's folder holds its runs as the companion kept them; a file beside it of the same
      // name, which anyone who may write the collection can put there, never stands in for them.
      if (anyFolder && !top.entry.isFolder && !top.entry.isLink) {
        ++totals_.notRead;
        sink_(Unreadable(top.entry.name, kBesideFolder));
        continue;
      }
      Collect(root_, {}, top.entry, 0);
    }
    // The newest copies duplicate a kept run; they count only where no kept run came along, and then the
    // two are one run, whenever each was written.
    if (std::any_of(candidates_.begin(), candidates_.end(), [](const Candidate& c) { return c.stamped; })) {
      std::erase_if(candidates_, [](const Candidate& c) { return c.newestCopy; });
    } else {
      RunStamp latest{0, 0};
      for (const Candidate& c : candidates_) latest = c.newestCopy ? std::max(latest, c.when) : latest;
      for (Candidate& c : candidates_) c.when = c.newestCopy ? latest : c.when;
    }
    std::sort(candidates_.begin(), candidates_.end(), Newer);
    Count(anyFolder);
  }

  // Looks at one entry of the folder `folder` (`inside` relative to the collection); `depth` 0 for the
  // collection's own entries. Folders are walked as they are listed, so memory stays flat however many
  // a machine holds.
  void Collect(const std::wstring& folder, const std::wstring& inside, const platform::FolderEntry& entry,
               std::size_t depth) {
    const std::wstring relative = inside.empty() ? entry.name : inside + L"/" + entry.name;
    if (entry.isLink) {
      NotRead(relative, kLinkNotFollowed);
      return;
    }
    if (!entry.isFolder) {
      const Kind kind = depth == 0 ? KindOf(entry.name) : KindInMachineFolder(entry.name);
      if (kind == Kind::kNone) return;
      Candidate candidate{folder, inside, entry.name, kind, {}, false, IsNewestCopy(entry.name)};
      const auto kept = ParseKeptName(entry.name);
      candidate.stamped = kept.has_value();
      candidate.when = kept ? kept->stamp : RunStamp{StampOfTime(entry.writeTime), 0};
      // A run stamped ahead of now was stamped by a clock that ran ahead: it is no machine's newest run,
      // or it would be for good.
      if (candidate.when.seconds > now_ + kTwoDays) candidate.when = RunStamp{0, 0};
      Keep(std::move(candidate));
      return;
    }
    if (depth >= kMaxDepth) {
      NotRead(relative, kTooDeep);
      return;
    }
    const std::wstring path = platform::ChildPath(folder, entry.name);
    const std::uint32_t error = platform::VisitFolder(
        path, [&](const platform::FolderEntry& child) { Collect(path, relative, child, depth + 1); });
    if (error != 0) NotRead(relative, WithCode(kCannotList, error));
  }

  // Keeps the newest kMaxCandidates in a heap whose top is the oldest, so memory stays flat however many
  // files a machine's folder holds.
  void Keep(Candidate candidate) {
    candidates_.push_back(std::move(candidate));
    std::push_heap(candidates_.begin(), candidates_.end(), Newer);
    if (candidates_.size() > kMaxCandidates) {
      std::pop_heap(candidates_.begin(), candidates_.end(), Newer);
      candidates_.pop_back();
    }
  }

  // The first is kept until the machine is counted (with nothing else to go by, it counts it); the others
  // go out at once, so memory stays flat however many there are.
  void NotRead(const std::wstring& relative, std::wstring reason) {
    ++totals_.notRead;
    if (held_) {
      sink_(Unreadable(relative, std::move(reason)));
    } else {
      held_ = Unreadable(relative, std::move(reason));
    }
  }

  ReportRow Unreadable(const std::wstring& relative, std::wstring reason) const {
    ReportRow row;
    row.machine = machine_;
    row.outcome = Outcome::kUnreadable;
    row.code = ExitCodeOf(Outcome::kUnreadable);
    row.reason = std::move(reason);
    row.file = relative;
    return row;
  }

  // Reads one candidate into row_; true when it told an outcome.
  bool Read(const Candidate& candidate) {
    ++totals_.fileCount;
    row_ = ReportRow{};
    row_.machine = machine_;
    row_.file = candidate.relative.empty() ? candidate.name : candidate.relative + L"/" + candidate.name;
    std::uint32_t error = 0;
    const auto status =
        platform::ReadRegularFile(platform::ChildPath(candidate.folder, candidate.name), kMaxFileBytes, bytes_, error);
    if (status != platform::BoundedReadStatus::kOk) {
      ++totals_.notRead;
      row_.outcome = Outcome::kUnreadable;
      row_.code = ExitCodeOf(row_.outcome);
      row_.reason = status == platform::BoundedReadStatus::kTooLarge ? std::wstring(kTooLarge) : WithCode(kCannotRead, error);
      return false;
    }
    if (candidate.kind == Kind::kOutcome) {
      const std::string_view text(reinterpret_cast<const char*>(bytes_.data()), bytes_.size());
      if (auto record = ParseOutcomeRecord(text)) {
        row_.time = std::move(record->time);
        row_.outcome = record->outcome;
        row_.code = record->code;
        row_.reason = std::move(record->reason);
        Cap(row_.time, kMaxTimeChars);
        Cap(row_.reason, kMaxCellChars);
        // Where the file was found names the machine; what it says of itself is only shown.
        if (!record->machine.empty() && record->machine != machine_) {
          Cap(record->machine, kMaxMachineChars);
          row_.reason += kClaimsMachine + record->machine + L"\")";
        }
        return true;
      }
      row_.outcome = Outcome::kUnreadable;
      row_.code = ExitCodeOf(row_.outcome);
      row_.reason = kNotOutcomeFile;
      return false;
    }
    Reading reading = ReadRunLog(bytes_);
    row_.outcome = reading.outcome;
    row_.code = ExitCodeOf(reading.outcome);
    row_.reason = std::move(reading.reason);
    Cap(row_.reason, kMaxCellChars);
    row_.time = SortableLogDate(reading.logDate);
    return reading.outcome != Outcome::kUnreadable;
  }

  // Counts the machine by its newest run: its outcome file, else (or when that can't be read) its log.
  // When no file of that run reads, the machine is unreadable, and older runs are read only until one
  // tells an outcome, which is shown beside it.
  void Count(bool anyFolder) {
    if (candidates_.empty() && !held_ && anyFolder) {
      // A machine's folder with nothing of the utility's in it (a copy that failed half-way) is said too.
      held_ = Unreadable(machine_, kNothingCollected);
    }
    if (candidates_.empty() && held_) {
      held_->counted = true;
      Tally(Outcome::kUnreadable);
    }
    if (held_) sink_(*held_);
    if (candidates_.empty()) return;
    const RunStamp newest = candidates_.front().when;
    std::size_t next = 0;
    std::optional<ReportRow> deciding;  // the newest run's first file, when nothing of that run reads
    for (; next < candidates_.size() && candidates_[next].when == newest; ++next) {
      if (Read(candidates_[next])) {
        if (deciding) sink_(*deciding);
        row_.counted = true;
        sink_(row_);
        Tally(row_.outcome);
        return;
      }
      if (deciding) {
        sink_(row_);
      } else {
        deciding = std::move(row_);
      }
    }
    deciding->counted = true;
    for (; next < candidates_.size(); ++next) {
      const bool readable = Read(candidates_[next]);
      sink_(row_);
      if (readable) {
        deciding->earlier = row_.outcome;
        break;
      }
    }
    sink_(*deciding);
    Tally(Outcome::kUnreadable, deciding->earlier);
  }

  // The machine as the table shows it, with the earlier outcome beside an unreadable one.
  void Tally(Outcome outcome, std::optional<Outcome> earlier = std::nullopt) {
    std::wstring shown = ConsoleName(machine_);
    if (earlier) shown += kEarlier + std::wstring(OutcomeName(*earlier)) + L")";
    totals_.machines[outcome].push_back(std::move(shown));
    ++totals_.machineCount;
    if (expected_ == nullptr || outcome == Outcome::kMissing) return;
    if (!expected_->See(machine_)) {
      totals_.unexpected.push_back(ConsoleName(machine_));
    } else if (AtPatch(outcome)) {
      ++totals_.expectedAtPatch;
    }
  }

  // The expected machines no run was found of: a row and a count each, as any other outcome.
  void Missing() {
    totals_.expectedCount = expected_->size();
    for (std::wstring& machine : expected_->Unseen()) {
      machine_ = std::move(machine);
      ReportRow row;
      row.machine = machine_;
      row.outcome = Outcome::kMissing;
      row.reason = kNoRunCollected;
      row.counted = true;
      sink_(row);
      Tally(Outcome::kMissing);
    }
  }

  const std::wstring& root_;
  const std::function<void(const ReportRow&)>& sink_;
  ExpectedList* expected_;
  const std::function<void(std::size_t, std::size_t)>& progress_;
  const std::int64_t now_;  // this machine's time as a stamp
  ReportTotals totals_;
  std::wstring machine_;
  std::vector<Candidate> candidates_;
  std::optional<ReportRow> held_;  // the machine's first row of what could not be read
  std::vector<std::uint8_t> bytes_;  // reused for every file read
  ReportRow row_;
};

}  // namespace

std::optional<ReportTotals> BuildFleetReport(const std::wstring& folder,
                                             const std::function<void(const ReportRow&)>& row,
                                             std::uint32_t& error, ExpectedList* expected,
                                             const std::function<void(std::size_t, std::size_t)>& progress) {
  return Walker(folder, row, expected, progress).Run(error);
}

std::wstring FormatReportTable(const ReportTotals& totals) {
  std::wstring out = Padded(L"Outcome", 20) + Padded(L"Code", 6) + L"Machines\n";
  for (const Outcome outcome : kAllOutcomes) {
    const auto it = totals.machines.find(outcome);
    const std::size_t count = it == totals.machines.end() ? 0 : it->second.size();
    if (outcome == Outcome::kMissing && totals.expectedCount == 0) continue;  // no list, nothing missed
    const std::wstring code = outcome == Outcome::kMissing ? L"-" : std::to_wstring(ExitCodeOf(outcome));
    out += Padded(std::wstring(OutcomeName(outcome)), 20) + Padded(code, 6) + std::to_wstring(count) + L"\n";
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
                     const std::wstring& expectedList, const std::wstring& page) {
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
    if (*opened == 0) file.Write(kCsvColumns);
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
  const std::function<void(std::size_t, std::size_t)> onProgress = [&progress](std::size_t machines, std::size_t files) {
    progress.Update(machines, files);
  };
  std::uint32_t error = 0;
  const auto totals = BuildFleetReport(folder, sink, error, expected ? &*expected : nullptr, onProgress);
  progress.Clear();
  if (!totals) {
    out += WithCode((kNoSuchFolder + ForConsole(folder) + L": ").c_str(), error) + L"\n";
    return kReportFailed;
  }
  open();
  const std::uint32_t written = *opened != 0 ? *opened : file.Close();
  out += FormatReportTable(*totals);
  if (written != 0) {
    out += WithCode((kCsvNotWritten + ForConsole(path) + L": ").c_str(), written) + L"\n";
    return kReportFailed;
  }
  out += kCsvWritten + ForConsole(path) + L"\n";
  const std::wstring pagePath = page.empty() ? PageBesideCsv(path) : page;
  if (const std::uint32_t pageError = WritePage(pagePath, FleetPage(*totals, figures, folder)); pageError != 0) {
    out += WithCode((kPageNotWritten + ForConsole(pagePath) + L": ").c_str(), pageError) + L"\n";
    return kReportFailed;
  }
  out += kPageWritten + ForConsole(pagePath) + L"\n";
  if (totals->notRead > 0) return kReportIncomplete;
  const auto missing = totals->machines.find(Outcome::kMissing);
  return missing != totals->machines.end() && !missing->second.empty() ? kReportMissing : kReportComplete;
}

std::optional<ReportArguments> ParseReportArguments(const std::vector<std::wstring>& arguments) {
  ReportArguments parsed;
  std::vector<const std::wstring*> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::wstring* option = arguments[i] == kExpectedOption ? &parsed.expected
                           : arguments[i] == kPageOption   ? &parsed.page
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
  return parsed;
}

}  // namespace result
