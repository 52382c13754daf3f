// The console the operator watches: status text, screen clearing, the window's system menu, the busy cursor.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline constexpr std::uint32_t kScClose = 0xF060;
inline constexpr std::uint32_t kScMinimize = 0xF020;
inline constexpr std::uint32_t kScMaximize = 0xF030;

// Writes text as it is: wide on a console, single-byte ANSI text when redirected.
void WriteConsoleText(const std::wstring& text);

// Clears the screen with the command interpreter's CLS.
void ClearConsoleScreen();

// Deletes one item, by command, from the console window's system menu; nothing without a window.
void DeleteSystemMenuItem(std::uint32_t command);

// Shows (true) or restores (false) the busy cursor.
void ShowBusyCursor(bool busy);

}  // namespace platform
