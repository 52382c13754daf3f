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

// Which rule of the log or console decided a run: what programs act on, where the reason is for people.
enum class Cause {
  kNone,               // no rule: the file is unreadable, the console names no outcome, or the caller judged
  kBlocked,            // the product or Excel was running
  kInstallCompleted,   // the installer ran and left PatchVersion in place
  kInstallNotInPlace,  // the installer ran and PatchVersion is not in place (cancelled, a mismatch)
  kNotRecorded,        // PatchVersion in place, the installed-update record not written
  kInstallNotStarted,  // the installer was not started (a launch error, a quote in the install path)
  kAlreadyApplied,     // the record or the revision shows the patch in place
  kNotForThisVersion,  // Vdt.exe's version is not among PreviousVersions
  kNotInstalled,       // no Veldorant 14.0 on the machine
  kNoDisplayIcon,      // the uninstall entry names no DisplayIcon
  kPackageRefused,     // the descriptor or the installer beside it is missing or unusable
  kUtilityFailed,      // the utility failed at start-up or inside, and said so on its console
};

// What the utility judged the patch's presence by, where its log says.
enum class JudgedBy { kUnsaid, kRecord, kRevision };

struct Reading {
  Outcome outcome = Outcome::kUnreadable;
  Cause cause = Cause::kNone;
  std::wstring reason{};   // the deciding log entry or console line, or why the file is unreadable
  std::wstring logDate{};  // the header's date text; empty when there is no header
  JudgedBy judgedBy = JudgedBy::kUnsaid;
  // The console says the installer was started and names no result of it.
  bool installerUnfinished = false;
};

// The outcome of a log file's bytes as they are on disk.
Reading ReadRunLog(std::span<const std::uint8_t> bytes);

// The outcome the utility's console text tells, for a run that left no log; kNoLog when it tells none.
Reading ReadConsole(std::wstring_view console);

}  // namespace result
