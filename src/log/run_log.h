// The run log: entries gathered in memory during the run, written once to
// Log_VDT_14_PatchUpdate.txt beside the utility, framed by a header and a footer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/log_format.h"
#include "log/utility_version.h"
#include "platform/clock.h"

using log_format::kRunLogFileName;

// Appends one entry followed by a blank line.
void AppendLogEntry(std::wstring& log, std::wstring_view message);

// "%A %H:%M, %B %d, %Y" with English names; empty without a time or when it exceeds 127 characters.
std::wstring FormatLogDate(const std::optional<platform::LocalTime>& time);

// Header, text and footer as one string, line ends still "\n".
std::wstring BuildRunLogText(const std::wstring& text, const std::wstring& dateText);

// The bytes on disk: every "\n" as CR LF, one byte per character through the ANSI code page, no BOM.
std::vector<std::uint8_t> ToLogBytes(const std::wstring& text);

// Replaces the log file beside the utility with header, text and footer. File errors are absorbed.
void WriteRunLog(const std::wstring& text);
