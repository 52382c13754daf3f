#include "fake/fake_machine.h"

#include <utility>

#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/pause.h"
#include "platform/process_list.h"
#include "platform/registry.h"
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

void RegistryKey::Close() noexcept {
  if (handle_ != 0) {
    --g_machine.openKeyCount;
    handle_ = 0;
  }
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
  if (!key.IsOpen()) {
    result.code = 6;  // ERROR_INVALID_HANDLE
    return result;
  }
  const auto& state = g_machine.registry[g_machine.openedKeys.at(key.Handle() - 1)];
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

std::uint32_t WriteFileExclusive(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  g_machine.trace.push_back(L"write " + path);
  const auto it = g_machine.files.find(path);
  if (it != g_machine.files.end()) {
    if (it->second.isFolder || it->second.readOnly) return kErrorAccessDenied;
    if (it->second.locked) return kErrorSharingViolation;
  }
  auto& file = g_machine.files[path];
  file.bytes = bytes;
  return 0;
}

std::uint32_t ReplaceFileAtomically(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  g_machine.trace.push_back(L"replace " + path);
  if (const auto err = g_machine.replaceErrors.find(path); err != g_machine.replaceErrors.end()) return err->second;
  const auto folder = path.substr(0, path.rfind(L'\\') == std::wstring::npos ? 0 : path.rfind(L'\\'));
  if (!folder.empty() && folder.size() > 2 && g_machine.files.find(folder) == g_machine.files.end()) {
    // A folder that was never set up counts as present only if some file lives in it.
    bool anyInside = false;
    for (const auto& [name, state] : g_machine.files) {
      if (name.rfind(folder + L"\\", 0) == 0) anyInside = true;
    }
    if (!anyInside) return kErrorPathNotFound;
  }
  const auto it = g_machine.files.find(path);
  if (it != g_machine.files.end()) {
    if (it->second.isFolder || it->second.readOnly) return kErrorAccessDenied;
    if (it->second.locked) return kErrorSharingViolation;
  }
  g_machine.files[path].bytes = bytes;
  return 0;
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

std::optional<LocalTime> CurrentLocalTime() { return g_machine.now; }

void Pause(std::uint32_t milliseconds) {
  g_machine.pauses.push_back(milliseconds);
  g_machine.trace.push_back(L"pause " + std::to_wstring(milliseconds));
}

// --- launches ---

void ProcessHandle::Close() noexcept {
  if (handle_ != 0) {
    --g_machine.openProcessHandles;
    handle_ = 0;
  }
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
