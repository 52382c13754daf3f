// Reading a run log, or a run's console text, back into one outcome.
//
// The log is judged by the same message constants the utility writes it with. Every log the utility can
// write gives one outcome; any other bytes (cut short, another program's file, a UTF-16 copy) give
// kUnreadable with the reason, never an exception.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "result/outcome.h"

namespace result {

struct Reading {
  Outcome outcome = Outcome::kUnreadable;
  std::wstring reason;   // the deciding log entry or console line, or why the file is unreadable
  std::wstring logDate;  // the header's date text; empty when there is no header
};

// The outcome of a log file's bytes as they are on disk.
Reading ReadRunLog(std::span<const std::uint8_t> bytes);

// The outcome that log entries as a run gathers them tell (no header or footer: the entries, each with
// its blank line), judged like a whole log's.
Reading ReadLogEntries(std::wstring_view entries);

// The outcome the utility's console text tells, for a run that left no log; kNoLog when it tells none.
Reading ReadConsole(std::wstring_view console);

}  // namespace result
