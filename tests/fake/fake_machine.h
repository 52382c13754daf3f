// An in-memory Windows machine for the unit tests: the platform headers' second implementation.
// A test sets up state and failure switches, runs the code, then inspects what was asked of it.
// Every test starts from a fresh machine (see FakeMachineTest).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/secure_folder.h"
#include "platform/version_resource.h"

namespace fake {

// What ClearConsoleScreen leaves in the console transcript.
inline constexpr wchar_t kClearScreenMark[] = L"<CLS>";

struct RegistryKeyState {
  std::map<std::wstring, std::vector<std::uint8_t>> values;  // name -> raw data
  std::map<std::wstring, std::uint32_t> types;               // name -> type; REG_SZ when not listed
  std::map<std::wstring, std::int32_t> queryErrors;          // name -> code the query fails with
};

// Who owns a file or folder, as far as a privileged program's checks tell them apart.
enum class Owner { kAdministrators, kSystem, kTrustedInstaller, kSelf, kUser };

struct FileState {
  std::vector<std::uint8_t> bytes;
  bool isFolder = false;
  bool reparsePoint = false;  // a junction, symbolic link or mount point stands here
  // Where a path through this link leads, when set: a level opened by a path that passes through it lands
  // there, while an open relative to a handle held on it or above stays where the handle is.
  std::wstring linkTarget;
  Owner owner = Owner::kAdministrators;
  // The protected descriptor of a level of that kind, as CreateLevel gives it; nullopt for any other.
  std::optional<platform::LevelKind> descriptor;
  bool othersMayCreate = false;  // its DACL lets a standard user create files or folders in it
  bool othersMayRemove = false;  // ... delete or rename what is in it, or change its DACL
  bool usersMayOpen = true;      // its DACL (inherited at creation) gives standard users any access
  // Names of one file: entries with the same non-zero id are hard links, one file with one descriptor.
  int linkId = 0;
  std::uint64_t writeTime = 0;       // system time units, as FileWriteTime reports them
  // Held open by another process: opens, replacing and deleting it fail with 32 at once (as a file
  // opened asking not to wait for an oplock break does), and its folder can't be renamed (5).
  bool locked = false;
  bool readOnly = false;    // writes fail with 5
  bool readFails = false;   // opens, but the read fails with 30 (ERROR_READ_FAULT)
  std::optional<platform::FileVersionWords> version;  // the version resource, if any
};

struct ChildRun {
  std::wstring file;
  std::wstring directory;
};

struct Launch {
  std::wstring file;
  std::wstring parameters;
  std::wstring directory;
};

struct Machine {
  // Start-up.
  bool hasModuleHandle = true;
  bool initializeSucceeds = true;
  std::wstring modulePath = L"C:\\Patch\\PatchUpdate.exe";

  // Processes: nullopt makes the snapshot fail.
  std::optional<std::vector<std::wstring>> processes = std::vector<std::wstring>{};

  // Registry under HKEY_LOCAL_MACHINE, keyed by exact path.
  std::map<std::wstring, RegistryKeyState> registry;
  std::map<std::wstring, std::int32_t> openErrors;  // path -> code the open fails with (beats presence)
  std::vector<std::wstring> openedKeys;             // every successful open, in order
  int openKeyCount = 0;                             // keys open right now

  // Files, keyed by exact path (case-sensitive, so Vdt.exe and vdt.exe can be told apart).
  std::map<std::wstring, FileState> files;
  std::vector<std::wstring> existenceChecks;  // every PathExists, in order
  // Fails the next atomic replace of this path part-way; the old file stays.
  std::map<std::wstring, std::uint32_t> replaceErrors;
  std::uint32_t ansiReplacements = 0;  // characters WideToAnsi couldn't hold

  // Launches.
  std::vector<Launch> launches;
  std::uint32_t launchError = 0;        // non-zero: the launch fails with it
  bool launchGivesProcess = true;       // a launch hands back a process handle
  std::function<void(Machine&)> installer;  // what the installer does before its process ends
  int waits = 0;
  int openProcessHandles = 0;

  // Folder walks, secure folders and streamed output.
  std::map<std::wstring, std::uint32_t> listErrors;    // folder -> code its listing fails with
  // The collection as a share one round trip away: each folder listing and each file read waits this
  // long first (a path in requestDelays that long instead), from however many threads at once.
  std::uint32_t requestDelayMs = 0;
  std::map<std::wstring, std::uint32_t> requestDelays;
  // What the walk asked, counted safely from several threads; look once the walk is done.
  struct Requests {
    std::vector<std::wstring> listed;  // every folder listed, in the order asked
    std::size_t fileReads = 0;         // files opened to be read
    std::size_t detailLookups = 0;     // files whose size and write time were asked for one by one
    std::size_t inFlight = 0;
    std::size_t mostInFlight = 0;      // listings and reads waiting at once, at the most
  } requests;
  std::wstring currentFolder = L"C:\\Users\\admin";   // where "." and relative paths resolve
  std::map<std::wstring, std::uint32_t> folderErrors;  // level -> code making or opening it fails with
  std::map<std::wstring, std::uint32_t> putErrors;     // file -> code putting it in a folder fails with
  int openFolderHandles = 0;
  // What each level handle is open on, handle = 1 + index; a handle follows its folder when it is renamed.
  std::vector<std::wstring> levelHandles;
  // What another process does right after a level handle is first taken on that path (opened, made, or
  // the level moved aside to it): run once, e.g. to turn a folder into a link in the window after.
  std::map<std::wstring, std::function<void(Machine&)>> onLevelHeld;
  std::vector<std::wstring> outputPaths;  // every file opened for streamed output, in order

  // The registry's writable side.
  std::map<std::wstring, std::int32_t> createKeyErrors;  // path -> code creating or opening it fails with
  // Keys that are registry links or a standard user's: creating a key at or below one is refused (5)
  // before anything is written, as the checks made on each key opened as itself refuse it.
  std::vector<std::wstring> untrustedKeys;

  // Programs started with their output relayed: `child` plays the program (the utility, run on this
  // machine); what it writes to the console is the output. Without one, starting fails with 2.
  std::vector<ChildRun> childRuns;
  std::function<std::uint32_t(Machine&)> child;
  std::uint32_t childStartError = 0;

  // The run lock's named object, as Windows keeps it between processes.
  enum class RunLock {
    kNone,       // no object of that name
    kOurs,       // taken by this process
    kHeld,       // held by another live run
    kAbandoned,  // its holder died: the next wait takes it
    kForeign,    // made first by an account other than SYSTEM, Administrators or ours
  };
  RunLock runLock = RunLock::kNone;
  std::uint32_t runLockError = 0;  // non-zero: making or opening the lock fails with it

  std::wstring programData = L"C:\\ProgramData";
  std::wstring machineName = L"PC0142";
  // Advances with every file written, so each write is later than the one before; starts at the fake
  // clock's moment, 2026-12-07 14:05 UTC.
  std::uint64_t systemTime = 134'411'259'000'000'000ULL;

  // Console and the rest.
  std::wstring console;
  bool errorIsTerminal = false;  // standard error is a terminal, and no CI variable is set
  std::wstring errorStream;      // what was written to standard error
  std::vector<std::uint32_t> deletedMenuItems;
  std::vector<std::uint32_t> pauses;
  std::optional<platform::LocalTime> now = platform::LocalTime{2026, 12, 7, 1, 14, 5};

  // Ordered trace of the effects whose order matters: "pause 7000", "write <path>", "launch <file>",
  // "wait", "cursor on", "cursor off", "replace <path>", "make folder <path>", "put <path>",
  // "delete <path>", "set <key>\\<value>", "move <path> to <path>", "lock taken", "lock released".
  std::vector<std::wstring> trace;

  // --- set-up helpers ---
  void SetRegistryString(const std::wstring& key, const std::wstring& name, const std::wstring& text);
  void AddKey(const std::wstring& key);
  void AddFile(const std::wstring& path, const std::string& bytes);
  void AddFolder(const std::wstring& path, Owner owner = Owner::kAdministrators);
  void AddExecutable(const std::wstring& path, std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                     std::uint16_t revision);
  std::string FileText(const std::wstring& path) const;  // bytes as a narrow string; "" when absent
  int LinkCount(const std::wstring& path) const;          // names of that file; 0 when absent
};

Machine& TheMachine();
void ResetMachine();
// Folders listed so far, safe to ask while the report's threads are still listing.
std::size_t FoldersListedSoFar();

// Base fixture: every test gets a fresh machine.
class FakeMachineTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetMachine(); }
  Machine& machine() { return TheMachine(); }
};

// UTF-16LE bytes of a text, with its terminating NUL (as REG_SZ stores it).
std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text, bool withNul = true);

}  // namespace fake
