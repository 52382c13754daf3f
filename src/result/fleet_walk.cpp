// Newest run per machine: the deployment cache is gone, but a machine's Results folder holds its last
// runs, and an administrator wants to know where each machine stands now, not how often it tried. So only
// the newest run is read, and older ones only while what was read can't be: a machine whose last run was
// cut short is unreadable, with its earlier result beside it, never that earlier result instead.
//
// Everything in the collection may have been written by anyone: a file's own claims never replace where
// it was found, and what is read from one file is bounded.
#include "result/fleet_walk.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/clock.h"
#include "platform/folder_listing.h"
#include "result/fleet_page.h"
#include "result/kept_runs.h"
#include "result/log_reading.h"
#include "result/outcome_file.h"
#include "result/report_output.h"
#include "result/run_names.h"

namespace result {
namespace {

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
constexpr wchar_t kClaimsMachine[] = L" (the file names the machine \"";
constexpr wchar_t kEarlier[] = L" (earlier: ";

// Outcome files are one short line and logs a few kilobytes; anything larger is neither.
constexpr std::size_t kMaxFileBytes = 16U << 20;
// Past this a file is read on its own (see LargeReads).
constexpr std::size_t kMaxSmallFileBytes = 1U << 20;
// A machine's own files lie a folder or two deep; a deeper tree is not a collection of them.
constexpr std::size_t kMaxDepth = 16;
constexpr std::size_t kMaxTimeChars = 64;
constexpr std::size_t kMaxMachineChars = 64;
// What one file tells is shown, never all of it.
constexpr std::size_t kMaxCellChars = 512;
// A machine keeps 20 runs; of more files than this only the newest are kept in mind.
constexpr std::size_t kMaxCandidates = 64;
// Machines read ahead of the one whose rows are being written, per machine read at once: a slow machine
// holds the others back only once that many are waiting behind it.
constexpr std::size_t kWindowPerReader = 4;
// A machine's rows held while it waits for its turn; past this its reader waits for the turn instead.
constexpr std::size_t kMaxWaitingRows = 64;

// More than any two time zones differ, far less than a clock that ran ahead by months.
constexpr std::int64_t kTwoDays = 2 * kSecondsPerDay;

void Cap(std::wstring& text, std::size_t limit) {
  if (text.size() > limit) {
    text.resize(limit);
    text += L"...";
  }
}

// Seconds since 1970 as this machine's local wall-clock time, on the scale of the companion's stamps
// (the collected machine's local time); 0 when the time can't be converted.
std::int64_t StampOfTime(std::int64_t seconds) {
  const auto local = platform::LocalTimeOf(seconds);
  if (!local) return 0;
  return WallClockSeconds(local->year, local->month, local->day, local->hour, local->minute, local->second);
}

// One of a machine's files: where it is, what it is and when its run was.
struct Candidate {
  std::wstring folder;    // the folder it is in
  std::wstring relative;  // that folder relative to the collection, "" for the collection itself
  std::wstring name;
  RunFileKind kind = RunFileKind::kNone;
  RunStamp when;
  bool stamped = false;
  bool newestCopy = false;
};

// Newest run first; within a run its outcome file before its log.
bool Newer(const Candidate& a, const Candidate& b) {
  if (a.when != b.when) return a.when > b.when;
  return a.kind == RunFileKind::kOutcome && b.kind != RunFileKind::kOutcome;
}

// Each top entry of the collection under the machine it names, with that name in letters of one case
// as Windows names compare.
struct TopEntry {
  std::wstring key;
  std::wstring machine;
  platform::FolderEntry entry;
};

// Whether a file's write time orders it: only where its name gives no stamp.
bool NeedsWriteTime(RunFileKind kind, std::wstring_view name) {
  return kind != RunFileKind::kNone && !ParseKeptName(name);
}

// Files too large to be a normal log are read one at a time into one buffer, however many machines are
// read at once: a collection of huge files costs what one does.
struct LargeReads {
  std::mutex one;
  std::vector<std::uint8_t> bytes;
};

// How one machine counts, once its rows are out.
struct MachineCount {
  std::optional<Outcome> outcome;  // nullopt: nothing of it counts
  std::optional<Outcome> earlier;
  std::size_t files = 0;    // files read
  std::size_t notRead = 0;  // rows of what could not be read
};

// Reads one machine's entries into its rows, handed to `emit` in the order they are written. Shares
// nothing with the reader of another machine but `large`; one per thread, its buffer reused.
class MachineReader {
 public:
  using Emit = std::function<void(ReportRow&&)>;

  MachineReader(const std::wstring& root, std::int64_t now, LargeReads& large)
      : root_(root), now_(now), large_(large) {}

  MachineCount Read(const std::wstring& machine, std::span<const TopEntry> entries, const Emit& emit) {
    machine_ = machine;
    emit_ = &emit;
    count_ = MachineCount{};
    candidates_.clear();
    held_.reset();
    const bool anyFolder =
        std::any_of(entries.begin(), entries.end(), [](const TopEntry& top) { return top.entry.isFolder; });
    for (const TopEntry& top : entries) {
      // The machine's folder holds its runs as the companion kept them; a file beside it of the same
      // name, which anyone who may write the collection can put there, never stands in for them.
      if (anyFolder && !top.entry.isFolder && !top.entry.isLink) {
        ++count_.notRead;
        emit(Unreadable(top.entry.name, kBesideFolder));
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
    return count_;
  }

 private:
  struct FileReading {
    ReportRow row;
    bool told = false;  // it told an outcome
  };

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
      const RunFileKind kind = depth == 0 ? KindOfCollectedFile(entry.name) : KindInMachineFolder(entry.name);
      if (kind == RunFileKind::kNone) return;
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
        path, [&](const platform::FolderEntry& child) { Collect(path, relative, child, depth + 1); },
        [](const std::wstring& name) { return NeedsWriteTime(KindInMachineFolder(name), name); });
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
    ++count_.notRead;
    if (held_) {
      (*emit_)(Unreadable(relative, std::move(reason)));
    } else {
      held_ = Unreadable(relative, std::move(reason));
    }
  }

  ReportRow Unreadable(const std::wstring& relative, std::wstring reason) const {
    return {.machine = machine_,
            .outcome = Outcome::kUnreadable,
            .code = ExitCodeOf(Outcome::kUnreadable),
            .reason = std::move(reason),
            .file = relative};
  }

  // Reads one candidate: its row, and whether it told an outcome.
  FileReading ReadFile(const Candidate& candidate) {
    ++count_.files;
    const std::wstring path = platform::ChildPath(candidate.folder, candidate.name);
    std::uint32_t error = 0;
    auto status = platform::ReadRegularFile(path, kMaxSmallFileBytes, bytes_, error);
    if (status != platform::BoundedReadStatus::kTooLarge) return Tell(candidate, status, bytes_, error);
    const std::lock_guard<std::mutex> one(large_.one);
    status = platform::ReadRegularFile(path, kMaxFileBytes, large_.bytes, error);
    return Tell(candidate, status, large_.bytes, error);
  }

  FileReading Tell(const Candidate& candidate, platform::BoundedReadStatus status, std::span<const std::uint8_t> bytes,
                   std::uint32_t error) {
    const std::wstring file = candidate.relative.empty() ? candidate.name : candidate.relative + L"/" + candidate.name;
    if (status != platform::BoundedReadStatus::kOk) {
      ++count_.notRead;
      return {Unreadable(file, status == platform::BoundedReadStatus::kTooLarge ? std::wstring(kTooLarge)
                                                                                : WithCode(kCannotRead, error))};
    }
    FileReading read{Unreadable(file, kNotOutcomeFile)};
    ReportRow& row = read.row;
    if (candidate.kind == RunFileKind::kOutcome) {
      const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      auto record = ParseOutcomeRecord(text);
      if (!record) return read;
      row.time = std::move(record->time);
      row.outcome = record->outcome;
      row.code = record->code;
      row.reason = std::move(record->reason);
      Cap(row.time, kMaxTimeChars);
      Cap(row.reason, kMaxCellChars);
      // Where the file was found names the machine; what it says of itself is only shown.
      if (!record->machine.empty() && record->machine != machine_) {
        Cap(record->machine, kMaxMachineChars);
        row.reason += kClaimsMachine + record->machine + L"\")";
      }
      read.told = true;
      return read;
    }
    Reading reading = ReadRunLog(bytes);
    row.outcome = reading.outcome;
    row.code = ExitCodeOf(reading.outcome);
    row.reason = std::move(reading.reason);
    Cap(row.reason, kMaxCellChars);
    row.time = SortableLogDate(reading.logDate);
    read.told = reading.outcome != Outcome::kUnreadable;
    return read;
  }

  // Counts the machine by its newest run: its outcome file, else (or when that can't be read) its log.
  // When no file of that run reads, the machine is unreadable, and older runs are read only until one
  // tells an outcome, which is shown beside it.
  void Count(bool anyFolder) {
    const Emit& emit = *emit_;
    if (candidates_.empty() && !held_ && anyFolder) {
      // A machine's folder with nothing of the utility's in it (a copy that failed half-way) is said too.
      held_ = Unreadable(machine_, kNothingCollected);
    }
    if (candidates_.empty() && held_) {
      held_->counted = true;
      count_.outcome = Outcome::kUnreadable;
    }
    if (held_) emit(std::move(*held_));
    if (candidates_.empty()) return;
    const RunStamp newest = candidates_.front().when;
    std::size_t next = 0;
    std::optional<ReportRow> deciding;  // the newest run's first file, when nothing of that run reads
    for (; next < candidates_.size() && candidates_[next].when == newest; ++next) {
      FileReading read = ReadFile(candidates_[next]);
      if (read.told) {
        if (deciding) emit(std::move(*deciding));
        read.row.counted = true;
        count_.outcome = read.row.outcome;
        emit(std::move(read.row));
        return;
      }
      if (deciding) {
        emit(std::move(read.row));
      } else {
        deciding = std::move(read.row);
      }
    }
    deciding->counted = true;
    for (; next < candidates_.size(); ++next) {
      FileReading read = ReadFile(candidates_[next]);
      const bool told = read.told;
      if (told) deciding->earlier = read.row.outcome;
      emit(std::move(read.row));
      if (told) break;
    }
    count_.outcome = Outcome::kUnreadable;
    count_.earlier = deciding->earlier;
    emit(std::move(*deciding));
  }

  const std::wstring& root_;
  const std::int64_t now_;  // this machine's time as a stamp
  LargeReads& large_;
  const Emit* emit_ = nullptr;
  std::wstring machine_;
  MachineCount count_;
  std::vector<Candidate> candidates_;
  std::optional<ReportRow> held_;    // the machine's first row of what could not be read
  std::vector<std::uint8_t> bytes_;  // reused for every file read
};

// Lists the collection, reads its machines and hands their rows on in name order, counting each machine
// as its rows go out.
class Walker {
 public:
  Walker(const std::wstring& root, const std::function<void(const ReportRow&)>& sink, ExpectedList* expected,
         const std::function<void(std::size_t, std::size_t)>& progress)
      : root_(root),
        sink_(sink),
        expected_(expected),
        progress_(progress),
        now_(StampOfTime(platform::UnixSecondsOf(platform::CurrentSystemTime()))) {}

  std::optional<ReportTotals> Run(std::uint32_t& error, std::size_t inFlight) {
    if (!List(error)) return std::nullopt;
    if (inFlight <= 1 || machines_.size() <= 1 || !ReadAtOnce(std::min(inFlight, machines_.size()))) {
      MachineReader reader(root_, now_, large_);
      const MachineReader::Emit emit = [this](ReportRow&& row) { sink_(row); };
      for (std::size_t index = 0; index < machines_.size(); ++index) {
        Tally(MachineName(index), reader.Read(MachineName(index), Entries(index), emit));
      }
    }
    if (expected_ != nullptr) Missing();
    return std::move(totals_);
  }

 private:
  // A machine read ahead: its rows so far, and its count once it is read.
  struct Waiting {
    std::vector<ReportRow> rows;
    std::optional<MachineCount> count;
  };

  // What the readers and the writer share, under `mutex`. The writer waits on `readable` for the next
  // machine's rows, the readers on `room` for a machine to claim or for their turn.
  struct Shared {
    std::mutex mutex;
    std::condition_variable readable;
    std::condition_variable room;
    std::deque<Waiting> waiting;  // machines `written` onwards, as far as claimed
    std::size_t claimed = 0;
    std::size_t written = 0;
    bool stop = false;
    std::exception_ptr failure;
  };

  const std::wstring& MachineName(std::size_t index) const { return top_[machines_[index].first].machine; }
  std::span<const TopEntry> Entries(std::size_t index) const {
    return std::span(top_).subspan(machines_[index].first, machines_[index].second - machines_[index].first);
  }

  // `readers` threads read the machines, each claiming the next one while fewer than the window wait to
  // be written; this thread writes them in order, a machine's rows as they come while it is the next.
  // False, with nothing read, when no thread could be started.
  bool ReadAtOnce(std::size_t readers) {
    Shared shared;
    const std::size_t window = readers * kWindowPerReader;
    std::vector<std::thread> threads;
    // Every way out of here, an exception from `sink_` included, stops the readers and waits for them.
    const auto stopAll = [&shared, &threads] {
      {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        shared.stop = true;
      }
      shared.room.notify_all();
      for (std::thread& thread : threads) thread.join();
    };
    try {
      for (std::size_t i = 0; i < readers; ++i)
        threads.emplace_back([this, &shared, window] { ReadMachines(shared, window); });
    } catch (const std::system_error&) {
      if (threads.empty()) return false;  // the readers started so far do the work
    }
    try {
      WriteInOrder(shared);
    } catch (...) {
      stopAll();
      throw;
    }
    stopAll();
    return true;
  }

  // Hands each machine's rows on as they come while it is the next to be written, then counts it.
  void WriteInOrder(Shared& shared) {
    std::vector<ReportRow> rows;
    for (std::size_t index = 0; index < machines_.size(); ++index) {
      std::optional<MachineCount> count;
      while (!count) {
        {
          std::unique_lock<std::mutex> lock(shared.mutex);
          shared.readable.wait(lock, [&shared] {
            return shared.failure ||
                   (!shared.waiting.empty() && (!shared.waiting.front().rows.empty() || shared.waiting.front().count));
          });
          if (shared.failure) std::rethrow_exception(shared.failure);
          rows.swap(shared.waiting.front().rows);
          if (shared.waiting.front().count) {
            count = shared.waiting.front().count;
            shared.waiting.pop_front();
            ++shared.written;
          }
        }
        if (count) shared.room.notify_all();
        for (const ReportRow& row : rows) sink_(row);
        rows.clear();
      }
      Tally(MachineName(index), *count);
    }
  }

  // One reader's thread: machines claimed in order, read with a reader of its own.
  void ReadMachines(Shared& shared, std::size_t window) {
    try {
      MachineReader reader(root_, now_, large_);
      std::unique_lock<std::mutex> lock(shared.mutex);
      for (;;) {
        shared.room.wait(lock, [&] {
          return shared.stop || shared.claimed == machines_.size() || shared.claimed < shared.written + window;
        });
        if (shared.stop || shared.claimed == machines_.size()) return;
        const std::size_t index = shared.claimed++;
        Waiting& waiting = shared.waiting.emplace_back();  // a deque keeps it in place while others come and go
        lock.unlock();
        const MachineReader::Emit emit = [&shared, &waiting, index](ReportRow&& row) {
          std::unique_lock<std::mutex> held(shared.mutex);
          shared.room.wait(
              held, [&] { return shared.stop || index == shared.written || waiting.rows.size() < kMaxWaitingRows; });
          waiting.rows.push_back(std::move(row));
          const bool next = index == shared.written;  // only the next machine's rows wake the writer
          held.unlock();
          if (next) shared.readable.notify_one();
        };
        const MachineCount count = reader.Read(MachineName(index), Entries(index), emit);
        lock.lock();
        waiting.count = count;
        if (index == shared.written) shared.readable.notify_one();
      }
    } catch (...) {
      // Out of memory in a reader: the writer raises it where the walk was called, as one reader would.
      {
        const std::lock_guard<std::mutex> lock(shared.mutex);
        if (!shared.failure) shared.failure = std::current_exception();
        shared.stop = true;
      }
      shared.readable.notify_one();
      shared.room.notify_all();
    }
  }

  // The collection's entries, sorted so that a machine's entries come together, and where each
  // machine's begin and end. False, with the code in `error`, when the collection can't be listed.
  bool List(std::uint32_t& error) {
    std::vector<platform::FolderEntry> entries;
    // Only a file directly under the collection whose name gives no stamp is ordered by its write time.
    error = platform::ListFolder(
        root_, entries, [](const std::wstring& name) { return NeedsWriteTime(KindOfCollectedFile(name), name); });
    if (error != 0) return false;
    top_.reserve(entries.size());
    for (auto& entry : entries) {
      if (EqualsNoCase(entry.name, kReportCsvName)) continue;  // an earlier report's
      const bool fileLike = !entry.isFolder && KindOfCollectedFile(entry.name) != RunFileKind::kNone;
      if (!entry.isFolder && !entry.isLink && !fileLike) continue;
      std::wstring machine = fileLike ? MachineOfFileName(entry.name) : entry.name;
      std::wstring key = FoldedCase(machine);
      top_.push_back({std::move(key), std::move(machine), std::move(entry)});
    }
    entries.clear();
    entries.shrink_to_fit();
    std::sort(top_.begin(), top_.end(), [](const TopEntry& a, const TopEntry& b) {
      return a.key != b.key ? a.key < b.key : a.entry.name < b.entry.name;
    });
    for (std::size_t first = 0; first < top_.size();) {
      std::size_t last = first;
      while (last < top_.size() && top_[last].key == top_[first].key) ++last;
      machines_.emplace_back(first, last);
      first = last;
    }
    return true;
  }

  // The machine as the table shows it, with the earlier outcome beside an unreadable one.
  void Tally(const std::wstring& machine, const MachineCount& count) {
    totals_.fileCount += count.files;
    totals_.notRead += count.notRead;
    if (count.outcome) Tally(machine, *count.outcome, count.earlier);
    if (progress_) progress_(totals_.machineCount, totals_.fileCount);
  }

  void Tally(const std::wstring& machine, Outcome outcome, std::optional<Outcome> earlier) {
    std::wstring shown = ConsoleName(machine);
    if (earlier) shown += kEarlier + std::wstring(OutcomeName(*earlier)) + L")";
    totals_.machines[outcome].push_back(std::move(shown));
    ++totals_.machineCount;
    if (expected_ == nullptr || outcome == Outcome::kMissing) return;
    if (!expected_->See(machine)) {
      totals_.unexpected.push_back(ConsoleName(machine));
    } else if (AtPatch(outcome)) {
      ++totals_.expectedAtPatch;
    }
  }

  // The expected machines no run was found of: a row and a count each, as any other outcome.
  void Missing() {
    totals_.expectedCount = expected_->size();
    for (const std::wstring& machine : expected_->Unseen()) {
      sink_({.machine = machine, .outcome = Outcome::kMissing, .reason = kNoRunCollected, .counted = true});
      Tally(machine, Outcome::kMissing, std::nullopt);
    }
  }

  const std::wstring& root_;
  const std::function<void(const ReportRow&)>& sink_;
  ExpectedList* expected_;
  const std::function<void(std::size_t, std::size_t)>& progress_;
  const std::int64_t now_;  // this machine's time as a stamp
  LargeReads large_;
  std::vector<TopEntry> top_;
  std::vector<std::pair<std::size_t, std::size_t>> machines_;  // each machine's entries in top_
  ReportTotals totals_;
};

}  // namespace

std::optional<ReportTotals> BuildFleetReport(const std::wstring& folder,
                                             const std::function<void(const ReportRow&)>& row, std::uint32_t& error,
                                             ExpectedList* expected,
                                             const std::function<void(std::size_t, std::size_t)>& progress,
                                             std::size_t inFlight) {
  return Walker(folder, row, expected, progress).Run(error, inFlight);
}

}  // namespace result
