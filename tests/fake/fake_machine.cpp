#include "fake/fake_machine.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/child_process.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folder_listing.h"
#include "platform/known_folder.h"
#include "platform/machine_name.h"
#include "platform/module.h"
#include "platform/output_file.h"
#include "platform/pause.h"
#include "platform/process_list.h"
#include "platform/progress_line.h"
#include "platform/registry.h"
#include "platform/run_lock.h"
#include "platform/secure_folder.h"
#include "platform/shell.h"
#include "platform/version_resource.h"

namespace fake {
namespace {
Machine g_machine;
constexpr std::uint32_t kErrorReadFault = 30;
}  // namespace

Machine& TheMachine() { return g_machine; }
void ResetMachine() { g_machine = Machine{}; }

std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text, bool withNul) {
  std::vector<std::uint8_t> bytes;
  for (wchar_t c : text) {
    const auto unit = static_cast<std::uint16_t>(c);
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  if (withNul) {
    bytes.push_back(0);
    bytes.push_back(0);
  }
  return bytes;
}

void Machine::SetRegistryString(const std::wstring& key, const std::wstring& name, const std::wstring& text) {
  registry[key].values[name] = Utf16Bytes(text);
}

void Machine::AddKey(const std::wstring& key) { registry[key]; }

void Machine::AddFolder(const std::wstring& path, Owner owner) {
  auto& folder = files[path];
  folder.isFolder = true;
  folder.owner = owner;
}

void Machine::AddFile(const std::wstring& path, const std::string& bytes) {
  files[path].bytes.assign(bytes.begin(), bytes.end());
}

void Machine::AddExecutable(const std::wstring& path, std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                            std::uint16_t revision) {
  auto& file = files[path];
  file.bytes = {'M', 'Z'};
  file.version = platform::FileVersionWords{static_cast<std::uint32_t>(major) << 16 | minor,
                                            static_cast<std::uint32_t>(build) << 16 | revision};
}

int Machine::LinkCount(const std::wstring& path) const {
  const auto it = files.find(path);
  if (it == files.end()) return 0;
  if (it->second.linkId == 0) return 1;
  return static_cast<int>(std::count_if(files.begin(), files.end(),
                                        [&](const auto& entry) { return entry.second.linkId == it->second.linkId; }));
}

std::string Machine::FileText(const std::wstring& path) const {
  const auto it = files.find(path);
  return it == files.end() ? std::string() : std::string(it->second.bytes.begin(), it->second.bytes.end());
}

}  // namespace fake

using fake::g_machine;

namespace platform {

std::wstring SystemErrorText(std::uint32_t code) { return L"System error " + std::to_wstring(code) + L"."; }

std::optional<std::vector<std::wstring>> ListProcessNames() { return g_machine.processes; }

// --- registry: a key's handle is 1 + its index in openedKeys ---

bool RegistryKeyTraits::Free(std::uintptr_t /*key*/) noexcept {
  --g_machine.openKeyCount;
  return true;
}

std::int32_t OpenLocalMachineKey(const std::wstring& path, RegistryKey& key) {
  key.Close();
  if (const auto err = g_machine.openErrors.find(path); err != g_machine.openErrors.end()) return err->second;
  if (g_machine.registry.find(path) == g_machine.registry.end()) return static_cast<std::int32_t>(kErrorFileNotFound);
  g_machine.openedKeys.push_back(path);
  ++g_machine.openKeyCount;
  key = RegistryKey(g_machine.openedKeys.size());
  return 0;
}

RegistryValue QueryRegistryValue(const RegistryKey& key, const std::wstring& name) {
  RegistryValue result;
  if (!key.IsValid()) {
    result.code = 6;  // ERROR_INVALID_HANDLE
    return result;
  }
  const auto& state = g_machine.registry[g_machine.openedKeys.at(key.Get() - 1)];
  if (const auto err = state.queryErrors.find(name); err != state.queryErrors.end()) {
    result.code = err->second;
    return result;
  }
  const auto value = state.values.find(name);
  if (value == state.values.end()) {
    result.code = static_cast<std::int32_t>(kErrorFileNotFound);
  } else if (value->second.size() > kRegistryValueBufferBytes) {
    result.code = static_cast<std::int32_t>(kErrorMoreData);
  } else {
    result.bytes = value->second;
  }
  return result;
}

RegistryData QueryRegistryData(const RegistryKey& key, const std::wstring& name, std::size_t maxBytes) {
  RegistryData result;
  const RegistryValue value = QueryRegistryValue(key, name);
  result.code = value.code;
  if (value.code == static_cast<std::int32_t>(kErrorMoreData)) {
    const auto& state = g_machine.registry[g_machine.openedKeys.at(key.Get() - 1)];
    if (state.values.at(name).size() > maxBytes) return result;
    result.code = 0;
    result.bytes = state.values.at(name);
  } else {
    result.bytes = value.bytes;
  }
  if (result.code == 0) {
    const auto& types = g_machine.registry[g_machine.openedKeys.at(key.Get() - 1)].types;
    const auto type = types.find(name);
    result.type = type == types.end() ? kRegSz : type->second;
  }
  return result;
}

std::int32_t CreateLocalMachineKey(const std::wstring& path, RegistryKey& key) {
  key.Close();
  if (const auto err = g_machine.createKeyErrors.find(path); err != g_machine.createKeyErrors.end()) {
    return err->second;
  }
  if (std::any_of(g_machine.untrustedKeys.begin(), g_machine.untrustedKeys.end(), [&path](const std::wstring& untrusted) {
        return path == untrusted || path.rfind(untrusted + L"\\", 0) == 0;
      })) {
    return static_cast<std::int32_t>(kErrorAccessDenied);
  }
  g_machine.registry[path];
  g_machine.openedKeys.push_back(path);
  ++g_machine.openKeyCount;
  key = RegistryKey(g_machine.openedKeys.size());
  return 0;
}

namespace {
std::int32_t SetValue(const RegistryKey& key, const std::wstring& name, std::vector<std::uint8_t> bytes,
                      std::uint32_t type) {
  if (!key.IsValid()) return 6;  // ERROR_INVALID_HANDLE
  const std::wstring& path = g_machine.openedKeys.at(key.Get() - 1);
  auto& state = g_machine.registry[path];
  state.values[name] = std::move(bytes);
  state.types[name] = type;
  g_machine.trace.push_back(L"set " + path + L"\\" + name);
  return 0;
}
}  // namespace

std::int32_t SetRegistryString(const RegistryKey& key, const std::wstring& name, const std::wstring& text) {
  return SetValue(key, name, fake::Utf16Bytes(text), kRegSz);
}

std::int32_t SetRegistryDword(const RegistryKey& key, const std::wstring& name, std::uint32_t value) {
  std::vector<std::uint8_t> bytes;
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  return SetValue(key, name, std::move(bytes), kRegDword);
}

// --- version resources, files, code page ---

std::optional<FileVersionWords> ReadFileVersionWords(const std::wstring& path) {
  const auto it = g_machine.files.find(path);
  if (it == g_machine.files.end()) return std::nullopt;
  return it->second.version;
}

bool PathExists(const std::wstring& path) {
  g_machine.existenceChecks.push_back(path);
  return g_machine.files.find(path) != g_machine.files.end();
}

bool FileExists(const std::wstring& path) {
  g_machine.existenceChecks.push_back(path);
  const auto it = g_machine.files.find(path);
  return it != g_machine.files.end() && !it->second.isFolder;
}

std::optional<std::uint64_t> FileWriteTime(const std::wstring& path) {
  const auto it = g_machine.files.find(path);
  if (it == g_machine.files.end()) return std::nullopt;
  return it->second.writeTime;
}

FileReadResult ReadFileExclusive(const std::wstring& path) {
  FileReadResult result;
  const auto it = g_machine.files.find(path);
  if (it == g_machine.files.end()) {
    result.status = FileReadStatus::kOpenFailed;
    result.error = kErrorFileNotFound;
  } else if (it->second.isFolder) {
    result.status = FileReadStatus::kOpenFailed;
    result.error = kErrorAccessDenied;
  } else if (it->second.locked) {
    result.status = FileReadStatus::kOpenFailed;
    result.error = kErrorSharingViolation;
  } else if (it->second.readFails) {
    result.status = FileReadStatus::kReadFailed;
    result.error = fake::kErrorReadFault;
  } else {
    result.bytes = it->second.bytes;
  }
  return result;
}

namespace {

// The folder `path` is, or is implied by a path below it; nullptr when nothing is there.
const fake::FileState* LevelAt(const std::wstring& path) {
  static const fake::FileState kImplied = [] {
    fake::FileState implied;
    implied.isFolder = true;
    return implied;
  }();
  if (const auto it = g_machine.files.find(path); it != g_machine.files.end()) return &it->second;
  const auto below = g_machine.files.lower_bound(path + L"\\");
  if (below != g_machine.files.end() && below->first.rfind(path + L"\\", 0) == 0) return &kImplied;
  return nullptr;
}

// Makes `bytes` the whole of `path`, unless what stands there refuses: a folder or a read-only file (5), a
// file held open (32). 0 or the error.
std::uint32_t Store(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  const auto it = g_machine.files.find(path);
  if (it != g_machine.files.end()) {
    if (it->second.isFolder || it->second.readOnly) return kErrorAccessDenied;
    if (it->second.locked) return kErrorSharingViolation;
  }
  auto& file = g_machine.files[path];
  file.bytes = bytes;
  file.writeTime = ++g_machine.systemTime;
  return 0;
}

}  // namespace

std::uint32_t WriteFileExclusive(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  g_machine.trace.push_back(L"write " + path);
  return Store(path, bytes);
}

std::uint32_t ReplaceFileAtomically(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  g_machine.trace.push_back(L"replace " + path);
  if (const auto err = g_machine.replaceErrors.find(path); err != g_machine.replaceErrors.end()) return err->second;
  // A folder that was never set up counts as present only if some file lives in it; a drive always is.
  const auto folder = path.substr(0, path.rfind(L'\\') == std::wstring::npos ? 0 : path.rfind(L'\\'));
  if (folder.size() > 2 && LevelAt(folder) == nullptr) return kErrorPathNotFound;
  return Store(path, bytes);
}

// The fake's ANSI code page is Windows-1252's Latin-1 subset.
std::vector<std::uint8_t> WideToAnsi(std::wstring_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) {
    if (static_cast<std::uint32_t>(c) <= 0xFF) {
      bytes.push_back(static_cast<std::uint8_t>(c));
    } else {
      ++g_machine.ansiReplacements;
      bytes.push_back('?');
    }
  }
  return bytes;
}

std::wstring AnsiToWide(const std::uint8_t* bytes, std::size_t count) {
  std::wstring text;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) text.push_back(static_cast<wchar_t>(bytes[i]));
  return text;
}

// --- start-up, console, clock, pause ---

bool HasModuleHandle() { return g_machine.hasModuleHandle; }
bool InitializeApplication() { return g_machine.initializeSucceeds; }
std::wstring GetModulePath() { return g_machine.modulePath; }

void WriteConsoleText(const std::wstring& text) { g_machine.console += text; }
void ClearConsoleScreen() { g_machine.console += fake::kClearScreenMark; }
void DeleteSystemMenuItem(std::uint32_t command) { g_machine.deletedMenuItems.push_back(command); }
void ShowBusyCursor(bool busy) { g_machine.trace.push_back(busy ? L"cursor on" : L"cursor off"); }

bool ProgressLineWanted() { return g_machine.errorIsTerminal; }
void WriteProgressLine(const std::wstring& text) { g_machine.errorStream += L"\r" + text; }

std::optional<LocalTime> CurrentLocalTime() { return g_machine.now; }

std::uint64_t CurrentSystemTime() { return g_machine.systemTime; }

// The fake machine keeps its local time in UTC.
std::optional<LocalTime> LocalTimeOf(std::int64_t unixSeconds) {
  const auto seconds = static_cast<time_t>(unixSeconds);
  tm utc{};
  if (gmtime_r(&seconds, &utc) == nullptr) return std::nullopt;
  return LocalTime{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_wday, utc.tm_hour, utc.tm_min, utc.tm_sec};
}

void Pause(std::uint32_t milliseconds) {
  g_machine.pauses.push_back(milliseconds);
  g_machine.trace.push_back(L"pause " + std::to_wstring(milliseconds));
}

// --- launches ---

bool ProcessHandleTraits::Free(std::uintptr_t /*process*/) noexcept {
  --g_machine.openProcessHandles;
  return true;
}

LaunchResult LaunchHidden(const std::wstring& file, const std::wstring& parameters, const std::wstring& directory) {
  g_machine.launches.push_back({file, parameters, directory});
  g_machine.trace.push_back(L"launch " + file);
  LaunchResult result;
  if (g_machine.launchError != 0) {
    result.error = g_machine.launchError;
    return result;
  }
  if (g_machine.launchGivesProcess) {
    ++g_machine.openProcessHandles;
    result.process = ProcessHandle(static_cast<std::uintptr_t>(g_machine.launches.size()));
  }
  if (g_machine.installer) g_machine.installer(g_machine);
  return result;
}

void WaitForProcessEnd(const ProcessHandle& process) {
  (void)process;
  ++g_machine.waits;
  g_machine.trace.push_back(L"wait");
}

}  // namespace platform

// --- programs run with their output relayed ---

namespace platform {

ChildRun RunRelayingOutput(const std::wstring& file, const std::wstring& directory) {
  g_machine.childRuns.push_back({file, directory});
  ChildRun run;
  if (g_machine.childStartError != 0 || !g_machine.child) {
    run.error = g_machine.childStartError != 0 ? g_machine.childStartError : kErrorFileNotFound;
    return run;
  }
  // The program sees itself at `file`; its console is the output we relay, as single bytes.
  const std::wstring ownPath = std::exchange(g_machine.modulePath, file);
  const std::wstring ownConsole = std::exchange(g_machine.console, std::wstring());
  run.exitCode = g_machine.child(g_machine);
  const std::vector<std::uint8_t> output = WideToAnsi(g_machine.console);
  run.output = output;
  g_machine.console = ownConsole + g_machine.console;
  g_machine.modulePath = ownPath;
  return run;
}

std::wstring ProgramDataFolder() { return g_machine.programData; }

std::wstring MachineName() { return g_machine.machineName; }

// --- folder walks: a folder's children are the paths one backslash below it, listed or implied ---

namespace {

// The listing itself, uncounted: also what the fake's other services look at a folder with.
std::uint32_t ListEntries(const std::wstring& folder, std::vector<FolderEntry>& entries, const WantsDetails& wants,
                          std::size_t& detailLookups) {
  entries.clear();
  if (const auto err = g_machine.listErrors.find(folder); err != g_machine.listErrors.end()) return err->second;
  const auto self = g_machine.files.find(folder);
  if (self != g_machine.files.end() && (!self->second.isFolder || self->second.reparsePoint)) {
    return self->second.reparsePoint ? kErrorAccessDenied : 267;  // ERROR_DIRECTORY
  }
  const std::wstring prefix = folder + L"\\";
  bool any = self != g_machine.files.end();
  for (auto it = g_machine.files.lower_bound(prefix); it != g_machine.files.end(); ++it) {
    const std::wstring& path = it->first;
    if (path.compare(0, prefix.size(), prefix) != 0) break;
    any = true;
    const auto slash = path.find(L'\\', prefix.size());
    const std::wstring name = path.substr(prefix.size(), slash == std::wstring::npos ? std::wstring::npos
                                                                                     : slash - prefix.size());
    if (!entries.empty() && entries.back().name == name) continue;
    FolderEntry entry;
    entry.name = name;
    const auto own = g_machine.files.find(prefix + name);
    if (own != g_machine.files.end()) {
      entry.isFolder = own->second.isFolder;
      entry.isLink = own->second.reparsePoint;
      // As a listing that gives each entry's kind but not its details (Linux's readdir).
      if (entry.isFolder || entry.isLink || !wants || wants(name)) {
        detailLookups += entry.isFolder || entry.isLink ? 0 : 1;
        entry.size = own->second.bytes.size();
        entry.writeTime = UnixSecondsOf(own->second.writeTime);
      }
    } else {
      entry.isFolder = true;  // only implied by the paths below it
    }
    entries.push_back(std::move(entry));
  }
  return any ? 0 : kErrorPathNotFound;
}

std::uint32_t ListEntries(const std::wstring& folder, std::vector<FolderEntry>& entries) {
  std::size_t uncounted = 0;
  return ListEntries(folder, entries, {}, uncounted);
}

std::mutex g_requests;  // the request counts, from the report's threads

// One round trip to the file system: waited for as the machine says, counted with the most at once.
class Request {
 public:
  explicit Request(const std::wstring& path) {
    std::uint32_t delay = 0;
    {
      const std::lock_guard<std::mutex> lock(g_requests);
      ++g_machine.requests.inFlight;
      g_machine.requests.mostInFlight = std::max(g_machine.requests.mostInFlight, g_machine.requests.inFlight);
      const auto slow = g_machine.requestDelays.find(path);
      delay = slow == g_machine.requestDelays.end() ? g_machine.requestDelayMs : slow->second;
    }
    if (delay != 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
  }
  ~Request() {
    const std::lock_guard<std::mutex> lock(g_requests);
    --g_machine.requests.inFlight;
  }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  Request(Request&&) = delete;
  Request& operator=(Request&&) = delete;
};

}  // namespace

}  // namespace platform

std::size_t fake::FoldersListedSoFar() {
  const std::lock_guard<std::mutex> lock(platform::g_requests);
  return g_machine.requests.listed.size();
}

namespace platform {

std::uint32_t ListFolder(const std::wstring& folder, std::vector<FolderEntry>& entries, const WantsDetails& wants) {
  const Request request(folder);
  std::size_t lookups = 0;
  const std::uint32_t error = ListEntries(folder, entries, wants, lookups);
  const std::lock_guard<std::mutex> lock(g_requests);
  g_machine.requests.listed.push_back(folder);
  g_machine.requests.detailLookups += lookups;
  return error;
}

std::uint32_t VisitFolder(const std::wstring& folder, const std::function<void(const FolderEntry&)>& visit,
                          const WantsDetails& wants) {
  std::vector<FolderEntry> entries;
  const std::uint32_t error = ListFolder(folder, entries, wants);
  for (const auto& entry : entries) visit(entry);
  return error;
}

std::wstring ResolvedFolder(const std::wstring& folder) {
  if (folder == L".") return g_machine.currentFolder;
  return folder.size() >= 2 && folder[1] == L':' ? folder : g_machine.currentFolder + L"\\" + folder;
}

std::wstring ChildPath(const std::wstring& folder, const std::wstring& name) { return folder + L"\\" + name; }

BoundedReadStatus ReadRegularFile(const std::wstring& path, std::size_t maxBytes, std::vector<std::uint8_t>& bytes,
                                  std::uint32_t& error) {
  const Request request(path);
  {
    const std::lock_guard<std::mutex> lock(g_requests);
    ++g_machine.requests.fileReads;
  }
  const auto it = g_machine.files.find(path);
  error = 0;
  if (it == g_machine.files.end()) {
    error = kErrorFileNotFound;
  } else if (it->second.isFolder || it->second.reparsePoint) {
    error = kErrorAccessDenied;
  } else if (it->second.locked) {
    error = kErrorSharingViolation;
  } else if (it->second.readFails) {
    error = fake::kErrorReadFault;
  } else if (it->second.bytes.size() > maxBytes) {
    return BoundedReadStatus::kTooLarge;
  } else {
    bytes.assign(it->second.bytes.begin(), it->second.bytes.end());
    return BoundedReadStatus::kOk;
  }
  return BoundedReadStatus::kFailed;
}

// --- streamed output: a handle is 1 + the index of its path in outputPaths ---

std::uint32_t OutputFile::Open(const std::wstring& path) {
  (void)Close();
  error_ = 0;
  std::vector<FolderEntry> siblings;
  const auto slash = path.rfind(L'\\');
  if (slash != std::wstring::npos && ListEntries(path.substr(0, slash), siblings) != 0) return kErrorPathNotFound;
  if (const std::uint32_t error = Store(path, {}); error != 0) return error;
  g_machine.outputPaths.push_back(path);
  handle_ = g_machine.outputPaths.size();
  return 0;
}

void OutputFile::Write(std::string_view bytes) {
  if (handle_ == 0 || error_ != 0) return;
  auto& file = g_machine.files[g_machine.outputPaths.at(handle_ - 1)];
  file.bytes.insert(file.bytes.end(), bytes.begin(), bytes.end());
}

std::uint32_t OutputFile::Close() noexcept {
  handle_ = 0;
  return std::exchange(error_, 0);
}

// --- secure folders: a level handle is 1 + its index in levelHandles ---

namespace {

bool Trusted(const fake::FileState& state) { return state.owner != fake::Owner::kUser; }

bool SoleTrustedFile(const std::wstring& path, const fake::FileState& state) {
  return !state.isFolder && !state.reparsePoint && Trusted(state) && g_machine.LinkCount(path) == 1;
}

// What the handle is open on.
const std::wstring& HeldPath(std::uintptr_t handle) { return g_machine.levelHandles.at(handle - 1); }

// Where an open of `path` lands: by a path, every folder on the way that is a link leads to its target
// (the last name itself is opened as it is); relative to an open parent, the name in the folder the
// parent's handle is on, whatever its path has become meanwhile.
std::wstring Reached(const LevelHandle& parent, const std::wstring& path) {
  const std::wstring name = path.substr(path.rfind(L'\\') + 1);
  if (parent.IsValid()) return HeldPath(parent.Get()) + L"\\" + name;
  std::wstring reached;
  for (std::size_t start = 0; start < path.size();) {
    const std::size_t end = std::min(path.find(L'\\', start), path.size());
    if (!reached.empty()) reached += L"\\";
    reached += path.substr(start, end - start);
    start = end + 1;
    if (end >= path.size()) break;
    if (const auto it = g_machine.files.find(reached);
        it != g_machine.files.end() && it->second.reparsePoint && !it->second.linkTarget.empty()) {
      reached = it->second.linkTarget;
    }
  }
  return reached;
}

std::uintptr_t HoldLevel(const std::wstring& path) {
  g_machine.levelHandles.push_back(path);
  ++g_machine.openFolderHandles;
  if (auto meanwhile = g_machine.onLevelHeld.extract(path); !meanwhile.empty()) meanwhile.mapped()(g_machine);
  return g_machine.levelHandles.size();
}

}  // namespace

bool LevelHandleTraits::Free(std::uintptr_t /*level*/) noexcept {
  --g_machine.openFolderHandles;
  return true;
}

std::uint32_t OpenLevel(const LevelHandle& parent, const std::wstring& path, LevelKind kind, LevelHandle& level,
                        LevelFacts& facts) {
  level.Close();
  facts = LevelFacts{};
  const std::wstring reached = Reached(parent, path);
  if (const auto err = g_machine.folderErrors.find(reached); err != g_machine.folderErrors.end()) return err->second;
  const fake::FileState* state = LevelAt(reached);
  if (state == nullptr) return kErrorFileNotFound;
  facts.isFolder = state->isFolder;
  facts.reparsePoint = state->reparsePoint;
  facts.trustedOwner = Trusted(*state);
  facts.ourDescriptor = state->descriptor == kind;
  facts.othersMayCreate = state->othersMayCreate;
  facts.othersMayRemove = state->othersMayRemove;
  level = LevelHandle(HoldLevel(reached));
  return 0;
}

std::uint32_t CreateLevel(const LevelHandle& parent, const std::wstring& path, LevelKind kind, LevelHandle& level) {
  level.Close();
  const std::wstring reached = Reached(parent, path);
  if (const auto err = g_machine.folderErrors.find(reached); err != g_machine.folderErrors.end()) return err->second;
  if (LevelAt(reached) != nullptr) return kErrorAlreadyExists;
  g_machine.trace.push_back(L"make folder " + reached);
  fake::FileState& made = g_machine.files[reached];
  made.isFolder = true;
  made.owner = fake::Owner::kAdministrators;
  made.descriptor = kind;
  made.usersMayOpen = kind == LevelKind::kVendor;
  level = LevelHandle(HoldLevel(reached));
  return 0;
}

std::uint32_t RenameLevel(LevelHandle& level, const LevelHandle& parent, const std::wstring& name,
                          const std::wstring& newName) {
  if (!level.IsValid() || !parent.IsValid()) return 6;  // ERROR_INVALID_HANDLE
  const std::wstring from = HeldPath(parent.Get()) + L"\\" + name;
  const std::wstring to = HeldPath(parent.Get()) + L"\\" + newName;
  if (LevelAt(from) == nullptr) {
    level.Close();
    return kErrorFileNotFound;
  }
  // Something else now under the name is never renamed in its place.
  if (HeldPath(level.Get()) != from) {
    level.Close();
    return kErrorAccessDenied;
  }
  if (LevelAt(to) != nullptr) return kErrorAlreadyExists;
  std::vector<std::wstring> moving;
  for (const auto& [path, state] : g_machine.files) {
    if (path == from || path.rfind(from + L"\\", 0) == 0) {
      // A file open below a folder keeps the folder's name: the system refuses the rename.
      if (state.locked) return path == from ? kErrorSharingViolation : kErrorAccessDenied;
      moving.push_back(path);
    }
  }
  g_machine.trace.push_back(L"move " + from + L" to " + to);
  for (const auto& path : moving) {
    auto node = g_machine.files.extract(path);
    node.key() = to + path.substr(from.size());
    g_machine.files.insert(std::move(node));
  }
  for (auto& held : g_machine.levelHandles) {
    if (held == from || held.rfind(from + L"\\", 0) == 0) held.replace(0, from.size(), to);
  }
  if (auto meanwhile = g_machine.onLevelHeld.extract(to); !meanwhile.empty()) meanwhile.mapped()(g_machine);
  return 0;
}

std::uint32_t ListLevel(const LevelHandle& folder, std::size_t maxEntries, std::vector<LevelEntry>& entries) {
  entries.clear();
  if (!folder.IsValid()) return 6;  // ERROR_INVALID_HANDLE
  const std::wstring& path = HeldPath(folder.Get());
  std::vector<FolderEntry> listed;
  if (const auto error = ListEntries(path, listed); error != 0) return error;
  if (listed.size() > maxEntries) return kErrorMoreData;
  for (const auto& each : listed) {
    LevelEntry entry;
    entry.name = each.name;
    entry.isFolder = each.isFolder;
    entry.reparsePoint = each.isLink;
    const auto own = g_machine.files.find(path + L"\\" + each.name);
    entry.soleTrustedFile = own != g_machine.files.end() && SoleTrustedFile(own->first, own->second);
    entries.push_back(std::move(entry));
  }
  return 0;
}

std::uint32_t ReadLevelFile(const LevelHandle& folder, const std::wstring& name, std::size_t maxBytes,
                            std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (!folder.IsValid()) return 6;  // ERROR_INVALID_HANDLE
  const auto it = g_machine.files.find(HeldPath(folder.Get()) + L"\\" + name);
  if (it == g_machine.files.end()) return kErrorFileNotFound;
  if (!SoleTrustedFile(it->first, it->second)) return kErrorAccessDenied;
  if (it->second.locked) return kErrorSharingViolation;
  if (it->second.readFails) return fake::kErrorReadFault;
  if (it->second.bytes.size() > maxBytes) return kErrorMoreData;
  bytes = it->second.bytes;
  return 0;
}

std::uint32_t ListRegularFiles(const SecureFolder& folder, std::vector<std::wstring>& names) {
  names.clear();
  if (!folder.IsOpen()) return 6;  // ERROR_INVALID_HANDLE
  std::vector<FolderEntry> entries;
  if (const auto error = ListEntries(HeldPath(folder.Innermost()), entries); error != 0) return error;
  for (const auto& entry : entries) {
    if (!entry.isFolder && !entry.isLink) names.push_back(entry.name);
  }
  return 0;
}

std::uint32_t PutFileInFolder(const SecureFolder& folder, const std::wstring& name,
                              const std::vector<std::uint8_t>& bytes, bool replace) {
  if (!folder.IsOpen()) return 6;  // ERROR_INVALID_HANDLE
  const std::wstring& held = HeldPath(folder.Innermost());
  const std::wstring path = held + L"\\" + name;
  g_machine.trace.push_back(L"put " + path);
  if (const auto err = g_machine.putErrors.find(path); err != g_machine.putErrors.end()) return err->second;
  const auto it = g_machine.files.find(path);
  if (it != g_machine.files.end()) {
    if (!replace) return kErrorFileExists;
    if (it->second.isFolder && !it->second.reparsePoint) return kErrorAccessDenied;
    if (it->second.locked) return kErrorSharingViolation;
  }
  fake::FileState file;
  file.bytes = bytes;
  file.writeTime = ++g_machine.systemTime;
  // Created new, with what its folder's DACL passes on.
  if (const fake::FileState* parent = LevelAt(held); parent != nullptr) {
    file.usersMayOpen = parent->descriptor != LevelKind::kOwn;
  }
  g_machine.files[path] = std::move(file);
  return 0;
}

std::uint32_t DeleteRegularFile(const SecureFolder& folder, const std::wstring& name) {
  if (!folder.IsOpen()) return 6;  // ERROR_INVALID_HANDLE
  const std::wstring path = HeldPath(folder.Innermost()) + L"\\" + name;
  const auto it = g_machine.files.find(path);
  if (it == g_machine.files.end()) return kErrorFileNotFound;
  if (it->second.isFolder || it->second.reparsePoint) return kErrorAccessDenied;
  if (it->second.locked) return kErrorSharingViolation;
  g_machine.trace.push_back(L"delete " + path);
  g_machine.files.erase(it);
  return 0;
}

}  // namespace platform

// --- the run lock ---

namespace platform {

bool RunLockTraits::Free(std::uintptr_t /*lock*/) noexcept {
  fake::g_machine.runLock = fake::Machine::RunLock::kNone;
  fake::g_machine.trace.emplace_back(L"lock released");
  return true;
}

RunLockAttempt TakeRunLock(RunLock& lock) {
  using State = fake::Machine::RunLock;
  fake::Machine& m = fake::g_machine;
  if (m.runLockError != 0) return {RunLockState::kFailed, m.runLockError};
  switch (m.runLock) {
    case State::kHeld:
    case State::kOurs: return {RunLockState::kHeld, 0};
    case State::kForeign: return {RunLockState::kForeign, 0};
    case State::kNone:
    case State::kAbandoned: break;
  }
  m.runLock = State::kOurs;
  m.trace.emplace_back(L"lock taken");
  lock = RunLock(1);
  return {RunLockState::kTaken, 0};
}

}  // namespace platform
