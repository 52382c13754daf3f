#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/codepage.h"
#include "platform/console.h"
#include "platform/win32/file_io.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/system_library.h"

namespace platform {
namespace {

// Old consoles refuse very large single writes; text goes in pieces of this many characters.
constexpr std::size_t kConsolePiece = 8192;

void WriteToConsole(HANDLE out, const std::wstring& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    std::size_t length = std::min(text.size() - done, kConsolePiece);
    if (done + length < text.size() && IS_HIGH_SURROGATE(text[done + length - 1])) --length;
    DWORD written = 0;
    if (!::WriteConsoleW(out, text.data() + done, static_cast<DWORD>(length), &written, nullptr) || written == 0) {
      return;
    }
    done += written;
  }
}

// Redirected output (a file or a pipe a deployment tool reads) gets plain ANSI bytes, "\n" as it is.
void WriteToFile(HANDLE out, const std::wstring& text) {
  const std::vector<std::uint8_t> bytes = WideToAnsi(text);
  (void)win32::WriteAll(out, bytes.data(), bytes.size());
}

// The window manager, loaded (from System32 alone) only when there is a console window to change: a
// run without one, as under a deployment service, never maps it.
struct WindowApi {
  using GetSystemMenuFn = HMENU(WINAPI*)(HWND, BOOL);
  using DeleteMenuFn = BOOL(WINAPI*)(HMENU, UINT, UINT);
  using LoadCursorWFn = HCURSOR(WINAPI*)(HINSTANCE, LPCWSTR);
  using SetCursorFn = HCURSOR(WINAPI*)(HCURSOR);

  win32::ScopedModule module = win32::LoadFromSystem32(L"user32.dll");
  GetSystemMenuFn getSystemMenu = win32::FunctionOf<GetSystemMenuFn>(module, "GetSystemMenu");
  DeleteMenuFn deleteMenu = win32::FunctionOf<DeleteMenuFn>(module, "DeleteMenu");
  LoadCursorWFn loadCursor = win32::FunctionOf<LoadCursorWFn>(module, "LoadCursorW");
  SetCursorFn setCursor = win32::FunctionOf<SetCursorFn>(module, "SetCursor");
};

const WindowApi& Window() {
  static const WindowApi api;
  return api;
}

}  // namespace

void WriteConsoleText(const std::wstring& text) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || text.empty()) return;
  DWORD mode = 0;
  if (::GetConsoleMode(out, &mode)) {
    WriteToConsole(out, text);
  } else {
    WriteToFile(out, text);
  }
}

void ClearConsoleScreen() {
  // The command interpreter by its System32 path: a cmd.exe in the working directory is never started,
  // whatever COMSPEC says. /D: no AutoRun command from the registry runs in it. It shares our console and
  // gets our three standard handles, as the C runtime's system() would give them, and no other handle
  // of ours (a SYSTEM process's handles are nothing to hand a shell).
  const std::wstring folder = win32::SystemFolder();
  if (folder.empty()) return;
  const std::wstring interpreter = folder + L"\\cmd.exe";
  std::wstring commandLine = L"cmd.exe /d /c CLS";  // CreateProcessW may write to it
  win32::ScopedHandle copies[3];
  HANDLE standard[3] = {};
  std::vector<HANDLE> inherited;
  const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    standard[i] = win32::InheritableCopy(::GetStdHandle(which[i]), copies[i]);
    if (standard[i] != nullptr) inherited.push_back(standard[i]);
  }

  PROCESS_INFORMATION started{};
  bool created = false;
  const win32::AttributeList list(1);
  if (!inherited.empty() && list.Get() != nullptr &&
      ::UpdateProcThreadAttribute(list.Get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                  inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(startup);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = standard[0];
    startup.StartupInfo.hStdOutput = standard[1];
    startup.StartupInfo.hStdError = standard[2];
    startup.lpAttributeList = list.Get();
    created = ::CreateProcessW(interpreter.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                               EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo, &started) != FALSE;
  }
  if (!created) {
    // Handles that can't be listed (old consoles' pseudo-handles): nothing inherited, the console shared.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(interpreter.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
      return;
    }
  }
  const win32::ScopedHandle thread(started.hThread);
  const win32::ScopedHandle process(started.hProcess);
  (void)::WaitForSingleObject(process.Get(), INFINITE);
}

void DeleteSystemMenuItem(std::uint32_t command) {
  HWND window = ::GetConsoleWindow();
  if (window == nullptr) return;
  const WindowApi& api = Window();
  if (api.getSystemMenu == nullptr || api.deleteMenu == nullptr) return;
  HMENU menu = api.getSystemMenu(window, FALSE);
  if (menu == nullptr) return;
  (void)api.deleteMenu(menu, command, MF_BYCOMMAND);
}

void ShowBusyCursor(bool busy) {
  if (::GetConsoleWindow() == nullptr) return;
  const WindowApi& api = Window();
  if (api.loadCursor == nullptr || api.setCursor == nullptr) return;
  (void)api.setCursor(api.loadCursor(nullptr, busy ? IDC_WAIT : IDC_ARROW));
}

}  // namespace platform
