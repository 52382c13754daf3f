#include "companion/results_folder.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "companion/messages.h"
#include "platform/errors.h"
#include "result/kept_runs.h"

namespace {

using namespace messages::companion;

// Names tried for a level moved aside before giving up.
constexpr unsigned kMoveAsideAttempts = 99;

std::wstring WithError(std::uint32_t error) {
  const std::wstring words = platform::SystemErrorText(error);
  return (words.empty() ? std::wstring() : words + L" ") + L"(error " + std::to_wstring(error) + L")";
}

bool IsMissing(std::uint32_t error) {
  return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound;
}

// Everything inside is a plain file a trusted account owns with no other name: what we put there, and
// nothing a user made, linked or can reach through another name.
bool HoldsOnlyOurFiles(const std::wstring& path) {
  std::vector<platform::LevelEntry> entries;
  if (platform::ListLevel(path, kMaxResultsEntries, entries) != 0) return false;
  return std::all_of(entries.begin(), entries.end(), [](const platform::LevelEntry& entry) {
    return !entry.isFolder && !entry.reparsePoint && entry.soleTrustedFile && IsPlainName(entry.name);
  });
}

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
    std::vector<std::uintptr_t> handles;
    handles.reserve(held_.size());  // before any handle leaves its owner
    std::transform(held_.begin(), held_.end(), std::back_inserter(handles),
                   [](platform::LevelHandle& level) { return level.Release(); });
    result_.folder = platform::SecureFolder(std::wstring(path_), std::move(handles));
    if (carryFrom_) CarryOver(*carryFrom_);
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
    std::uint32_t error = platform::OpenLevel(path_, kind, level, facts);
    if (IsMissing(error)) {
      // Below a level moved aside, the runs of its copy of this level are the ones worth carrying.
      if (carryFrom_) *carryFrom_ += L"\\" + name;
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
                      (!innermost || HoldsOnlyOurFiles(path_));
    if (ours) {
      if (carryFrom_) *carryFrom_ += L"\\" + name;
      held_.push_back(std::move(level));
      return true;
    }
    // A link whose handle is on its target can't be moved as itself.
    if (facts.reparsePoint && !facts.heldItself) return Refuse(kRefusedLink);
    std::wstring aside;
    for (unsigned attempt = 1; attempt <= kMoveAsideAttempts; ++attempt) {
      aside = name + kMovedAsideInfix + stamp_ + (attempt == 1 ? L"" : L"-" + std::to_wstring(attempt));
      error = platform::RenameLevel(level, parent, name, aside);
      if (error != platform::kErrorFileExists && error != platform::kErrorAlreadyExists) break;
    }
    if (error != 0) return Refuse(kNotMovedAside + WithError(error));
    result_.said += std::wstring(kCompanionPrefix) + path_ + kMovedAside + aside + kMadeAnew;
    // Only a real folder has runs to carry over; a link's target is never looked into.
    if (facts.isFolder && !facts.reparsePoint) carryFrom_ = parent + L"\\" + aside;
    return Make(platform::LevelKind::kOwn);
  }

  bool Make(platform::LevelKind kind) {
    platform::LevelHandle level;
    if (const std::uint32_t error = platform::CreateLevel(path_, kind, level); error != 0) {
      return Refuse(kFolderFailed + WithError(error));
    }
    held_.push_back(std::move(level));
    return true;
  }

  // Copies the newest runs' files of the folder moved aside into new files here, byte for byte; what is
  // there stays as it is. Only files a trusted account owns with no other name count, so nothing a user
  // made, linked or could have written passes for a run.
  void CarryOver(const std::wstring& source) {
    // Held while read, without delete sharing: it can't be swapped for another folder meanwhile.
    platform::LevelHandle held;
    platform::LevelFacts facts;
    if (platform::OpenLevel(source, platform::LevelKind::kOwn, held, facts) != 0 || !facts.isFolder ||
        facts.reparsePoint) {
      return;
    }
    std::vector<platform::LevelEntry> entries;
    if (platform::ListLevel(source, kMaxResultsEntries, entries) != 0) return;
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
      if (platform::ReadLevelFile(source, runs[i].second, kMaxCarriedFileBytes, bytes) != 0) continue;
      if (platform::PutFileInFolder(result_.folder, runs[i].second, bytes, false) == 0) ++copied;
    }
    if (copied != 0) {
      result_.said += std::wstring(kCompanionPrefix) + std::to_wstring(copied) + kCarriedOver + source + L"\n";
    }
  }

  std::wstring path_;
  std::wstring stamp_;
  std::vector<platform::LevelHandle> held_;
  std::optional<std::wstring> carryFrom_;
  ResultsFolder result_;
};

}  // namespace

bool IsPlainName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  if (name.back() == L'.' || name.back() == L' ') return false;
  if (std::any_of(name.begin(), name.end(), [](wchar_t c) {
        return c < L' ' || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' ||
               c == L'<' || c == L'>' || c == L'|';
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
  if (std::any_of(std::begin(kDevices), std::end(kDevices), [&base](const wchar_t* device) { return base == device; })) {
    return false;
  }
  return !(base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'0' && base[3] <= L'9');
}

ResultsFolder OpenResultsFolder(const std::wstring& base, const std::wstring& stamp) {
  return Opening(base, stamp).Run();
}
