#include "companion/results_folder.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "companion/messages.h"
#include "platform/errors.h"
#include "platform/known_folder.h"
#include "platform/secure_folder.h"
#include "result/kept_runs.h"

namespace {

using namespace messages::companion;

// Names tried for a level moved aside before giving up.
constexpr unsigned kMoveAsideAttempts = 99;

// The system's words for `error`, when it has any, then "(error N)".
std::wstring WithError(std::uint32_t error) {
  const std::wstring words = platform::SystemErrorText(error);
  return (words.empty() ? std::wstring() : words + L" ") + L"(error " + std::to_wstring(error) + L")";
}

// Whether the name stays one entry of its folder on every path form: no separator, stream, "." or "..",
// no trailing dot or blank (which a path without "\\?\" strips) and no device name.
bool IsPlainName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  if (name.back() == L'.' || name.back() == L' ') return false;
  if (std::any_of(name.begin(), name.end(), [](wchar_t c) {
        return c < L' ' || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
               c == L'>' || c == L'|';
      })) {
    return false;
  }
  // "nul.txt" names the device, not a file, on a path without "\\?\".
  std::wstring base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  // Device names are ASCII; only those letters are folded.
  std::transform(base.begin(), base.end(), base.begin(),
                 [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; });
  constexpr const wchar_t* kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  if (std::any_of(std::begin(kDevices), std::end(kDevices),
                  [&base](const wchar_t* device) { return base == device; })) {
    return false;
  }
  return !(base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'0' && base[3] <= L'9');
}

bool IsMissing(std::uint32_t error) {
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

// Everything inside is a plain file a trusted account owns with no other name: what we put there, and
// nothing a user made, linked or can reach through another name.
bool HoldsOnlyOurFiles(const platform::LevelHandle& level) {
  std::vector<platform::LevelEntry> entries;
  if (platform::ListLevel(level, kMaxResultsEntries, entries) != 0) return false;
  return std::all_of(entries.begin(), entries.end(), [](const platform::LevelEntry& entry) {
    return !entry.isFolder && !entry.reparsePoint && entry.soleTrustedFile && IsPlainName(entry.name);
  });
}

struct ResultsFolder {
  platform::SecureFolder folder;  // open when the folder can be used
  std::wstring said;              // console lines: what was moved aside, carried over or refused
};

// Opens (or makes) base\Veldorant\PatchUpdate\Results by the rules above; `stamp` ("YYYYMMDD-HHMMSS")
// names what is moved aside. Runs from a Results moved aside are carried over before it returns.
class Opening {
 public:
  Opening(std::wstring base, std::wstring stamp) : path_(std::move(base)), stamp_(std::move(stamp)) {}

  ResultsFolder Run() {
    const std::vector<std::wstring> levels(std::begin(kResultsLevels), std::end(kResultsLevels));
    for (std::size_t index = 0; index < levels.size(); ++index) {
      const std::wstring parent = path_;
      path_ += L"\\" + levels[index];
      const bool own = index >= kFirstOwnResultsLevel;
      if (!OpenOne(parent, levels[index], own, index + 1 == levels.size())) return std::move(result_);
    }
    result_.folder = platform::SecureFolder(std::wstring(path_), std::move(held_));
    if (carryFrom_.IsValid()) CarryOver();
    return std::move(result_);
  }

 private:
  bool Refuse(const std::wstring& why) {
    result_.said += std::wstring(kNotKept) + path_ + why + L"\n";
    return false;
  }

  bool OpenOne(const std::wstring& parent, const std::wstring& name, bool own, bool innermost) {
    const platform::LevelKind kind = own ? platform::LevelKind::kOwn : platform::LevelKind::kVendor;
    platform::LevelHandle level;
    platform::LevelFacts facts;
    // Each level below the first by its name in the held parent: a link made meanwhile at the parent's
    // path leads nowhere.
    std::uint32_t error = platform::OpenLevel(Parent(), path_, kind, level, facts);
    if (IsMissing(error)) {
      // Below a level moved aside, the runs of its copy of this level are the ones worth carrying.
      CarryBelow(name);
      return Make(kind);
    }
    if (error != 0) return Refuse(kFolderFailed + WithError(error));

    if (!own) {
      // Shared with other programs: never moved or changed, only judged.
      if (facts.reparsePoint) return Refuse(kRefusedLink);
      if (!facts.isFolder) return Refuse(kRefusedFile);
      if (!facts.trustedOwner) return Refuse(kRefusedOwner);
      if (facts.othersMayRemove) return Refuse(kRefusedVendorDacl);
      held_.push_back(std::move(level));
      return true;
    }
    const bool ours = facts.isFolder && !facts.reparsePoint && facts.trustedOwner && facts.ourDescriptor &&
                      (!innermost || HoldsOnlyOurFiles(level));
    if (ours) {
      CarryBelow(name);
      held_.push_back(std::move(level));
      return true;
    }
    // A link whose handle is on its target can't be moved as itself.
    if (facts.reparsePoint && !facts.heldItself) return Refuse(kRefusedLink);
    std::wstring aside;
    for (unsigned attempt = 1; attempt <= kMoveAsideAttempts; ++attempt) {
      aside = name + kMovedAsideInfix + stamp_ + (attempt == 1 ? L"" : L"-" + std::to_wstring(attempt));
      error = platform::RenameLevel(level, Parent(), name, aside);
      if (error != platform::kErrorFileExists && error != platform::kErrorAlreadyExists) break;
    }
    if (error != 0) return Refuse(kNotMovedAside + WithError(error));
    result_.said += std::wstring(kCompanionPrefix) + path_ + kMovedAside + aside + kMadeAnew;
    // Only a real folder a trusted account owns has runs to carry over: a link's target is never looked
    // into, and a user's folder never held ours. It stays held, as the handle it was judged and moved by.
    if (facts.isFolder && !facts.reparsePoint && facts.trustedOwner && level.IsValid()) {
      carryFrom_ = std::move(level);
      carryPath_ = parent + L"\\" + aside;
      carryBelow_.clear();
    }
    return Make(platform::LevelKind::kOwn);
  }

  // The handle of the level above the one being opened; none above the first.
  const platform::LevelHandle& Parent() const { return held_.empty() ? noParent_ : held_.back(); }

  void CarryBelow(const std::wstring& name) {
    if (carryFrom_.IsValid()) carryBelow_.push_back(name);
  }

  bool Make(platform::LevelKind kind) {
    platform::LevelHandle level;
    if (const std::uint32_t error = platform::CreateLevel(Parent(), path_, kind, level); error != 0) {
      return Refuse(kFolderFailed + WithError(error));
    }
    held_.push_back(std::move(level));
    return true;
  }

  // Copies the newest runs' files of the folder moved aside into new files here, byte for byte; what is
  // there stays as it is. Only files a trusted account owns with no other name count, so nothing a user
  // made, linked or could have written passes for a run.
  void CarryOver() {
    // From the level moved aside down, each opened by its name in the one above, held while read and
    // judged again: a link, or a folder a user made, on the way ends it.
    std::vector<platform::LevelHandle> chain;
    chain.push_back(std::move(carryFrom_));
    std::wstring walked = carryPath_;
    for (const auto& name : carryBelow_) {
      walked += L"\\" + name;
      platform::LevelHandle next;
      platform::LevelFacts facts;
      if (platform::OpenLevel(chain.back(), walked, platform::LevelKind::kOwn, next, facts) != 0 || !facts.isFolder ||
          facts.reparsePoint || !facts.trustedOwner) {
        return;
      }
      chain.push_back(std::move(next));
    }
    std::vector<platform::LevelEntry> entries;
    if (platform::ListLevel(chain.back(), kMaxResultsEntries, entries) != 0) return;
    std::vector<std::pair<result::RunStamp, std::wstring>> runs;
    for (const auto& entry : entries) {
      const auto kept = result::ParseKeptName(entry.name);
      if (kept && entry.soleTrustedFile && !entry.isFolder && !entry.reparsePoint && IsPlainName(entry.name)) {
        runs.emplace_back(kept->stamp, entry.name);
      }
    }
    // Newest first; a run's two files share a stamp.
    std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::size_t stamps = 0;
    std::size_t copied = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      if (i == 0 || !(runs[i].first == runs[i - 1].first)) ++stamps;
      if (stamps > result::kKeptRuns) break;
      std::vector<std::uint8_t> bytes;
      if (platform::ReadLevelFile(chain.back(), runs[i].second, kMaxCarriedFileBytes, bytes) != 0) continue;
      if (platform::PutFileInFolder(result_.folder, runs[i].second, bytes, false) == 0) ++copied;
    }
    if (copied != 0) {
      result_.said += std::wstring(kCompanionPrefix) + std::to_wstring(copied) + kCarriedOver + walked + L"\n";
    }
  }

  std::wstring path_;
  std::wstring stamp_;
  std::vector<platform::LevelHandle> held_;
  platform::LevelHandle noParent_;
  // The level moved aside whose runs are carried over, its path, and the names of the levels below it
  // down to the one that holds them.
  platform::LevelHandle carryFrom_;
  std::vector<std::wstring> carryBelow_;
  std::wstring carryPath_;
  ResultsFolder result_;
};

// Runs of the same second beyond this are not kept; no deployment starts the companion that often.
constexpr unsigned kMaxRunsPerSecond = 99;

bool Listed(const std::vector<std::wstring>& names, const std::wstring& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Puts this run's two files under the first stamp of its second that is free; the stamp used, or empty.
std::wstring PutRun(const platform::SecureFolder& folder, const std::wstring& secondStamp,
                    const std::vector<std::uint8_t>& outcome, const std::optional<std::vector<std::uint8_t>>& log,
                    std::uint32_t& error) {
  std::vector<std::wstring> names;
  if ((error = platform::ListRegularFiles(folder, names)) != 0) return {};
  for (unsigned sequence = 1; sequence <= kMaxRunsPerSecond; ++sequence) {
    std::wstring stamp = result::StampText(secondStamp, sequence);
    const std::wstring outcomeName = result::OutcomeFileName(stamp);
    const std::wstring logName = result::KeptLogName(stamp);
    if (Listed(names, outcomeName) || Listed(names, logName)) continue;
    // Never over an existing file: whatever stands under that name, another run's or anyone's, stays.
    error = platform::PutFileInFolder(folder, outcomeName, outcome, false);
    if (error == platform::kErrorFileExists) continue;
    if (error != 0) return {};
    if (log) error = platform::PutFileInFolder(folder, logName, *log, false);
    return stamp;
  }
  error = platform::kErrorFileExists;
  return {};
}

}  // namespace

std::wstring KeepResults(const std::wstring& secondStamp, const result::OutcomeRecord& record,
                         const std::optional<std::vector<std::uint8_t>>& log) {
  const std::wstring programData = platform::ProgramDataFolder();
  if (programData.empty()) return std::wstring(kNotKept) + kNoProgramData + L"\n";
  ResultsFolder opened = Opening(programData, secondStamp).Run();
  const platform::SecureFolder& folder = opened.folder;
  if (!folder.IsOpen()) return opened.said;

  const std::string line = result::FormatOutcomeRecord(record) + "\r\n";
  const std::vector<std::uint8_t> outcome(line.begin(), line.end());
  std::uint32_t error = 0;
  const std::wstring stamp = PutRun(folder, secondStamp, outcome, log, error);
  // The newest copies follow this run even where its stamped files could not be kept.
  std::uint32_t copies = platform::PutFileInFolder(folder, result::kNewestOutcomeName, outcome, true);
  if (log) {
    if (const std::uint32_t copied = platform::PutFileInFolder(folder, result::kNewestLogName, *log, true);
        copies == 0) {
      copies = copied;
    }
  } else {
    // An older run's log under that name would pass for this run's.
    const std::uint32_t removed = platform::DeleteRegularFile(folder, result::kNewestLogName);
    if (copies == 0 && removed != 0 && removed != platform::kErrorFileNotFound) copies = removed;
  }

  std::vector<std::wstring> names;
  if (!stamp.empty() && platform::ListRegularFiles(folder, names) == 0) {
    for (const auto& name : result::RunsToRemove(names, result::kKeptRuns, stamp)) {
      (void)platform::DeleteRegularFile(folder, name);
    }
  }
  if (error == 0) error = copies;
  if (error == 0) return opened.said;
  return opened.said + kNotKept + kWriteFailed + folder.Path() + L": " + WithError(error) + L"\n";
}
