#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "platform/codepage.h"
#include "platform/console.h"

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
  std::size_t done = 0;
  while (done < bytes.size()) {
    const auto length = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1U << 20));
    DWORD written = 0;
    if (!::WriteFile(out, bytes.data() + done, length, &written, nullptr) || written == 0) return;
    done += written;
  }
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

void ClearConsoleScreen() { (void)::_wsystem(L"CLS"); }

void DeleteSystemMenuItem(std::uint32_t command) {
  HWND window = ::GetConsoleWindow();
  if (window == nullptr) return;
  HMENU menu = ::GetSystemMenu(window, FALSE);
  if (menu == nullptr) return;
  (void)::DeleteMenu(menu, command, MF_BYCOMMAND);
}

void ShowBusyCursor(bool busy) { (void)::SetCursor(::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW)); }

}  // namespace platform
