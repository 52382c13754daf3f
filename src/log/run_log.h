// The run log: entries gathered in memory during the run, written once to
// Log_VDT_14_PatchUpdate.txt beside the utility, framed by a header and a footer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "log/log_format.h"
#include "log/utility_version.h"
#include "platform/clock.h"

using log_format::kRunLogFileName;

// Appends one entry followed by a blank line.
void AppendLogEntry(std::wstring& log, std::wstring_view message);

// "%A %H:%M, %B %d, %Y" with English names; empty without a time or when it exceeds 127 characters.
std::wstring FormatLogDate(const std::optional<platform::LocalTime>& time);

// Replaces the log file beside the utility with header, text and footer. File errors are absorbed.
void WriteRunLog(const std::wstring& text);
