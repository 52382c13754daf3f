// What names a run in a collection: which files are the utility's logs and the companion's outcome
// files, which machine a file directly under the collection belongs to, and when a log says its run was.
// Names are compared as Windows compares them, letters of either case alike.
#pragma once

#include <string>
#include <string_view>

namespace result {

enum class RunFileKind { kNone, kLog, kOutcome };

// A file directly under the collection: a log by its extension (".txt", ".log"), an outcome file
// (".json", or the companion's newest outcome copy).
RunFileKind KindOfCollectedFile(std::wstring_view name);

// Inside a machine's folder only the utility's and the companion's own files are runs: the companion's
// kept names and newest copies, a log with the utility's log name in its name, an outcome file.
RunFileKind KindInMachineFolder(std::wstring_view name);

// Whether the name is one of the companion's copies of its newest run, under a name that never changes.
bool IsNewestCopy(std::wstring_view name);

// The machine a file directly under the collection names: "PC01_Log_VDT_14_PatchUpdate.txt" the part
// before the log's own name, "PC01.txt" its stem; "(unknown)" for the companion's and the utility's own names.
std::wstring MachineOfFileName(std::wstring_view name);

// "Monday 14:05, December 07, 2026" as "2026-12-07T14:05"; empty when it doesn't read as such.
std::wstring SortableLogDate(std::wstring_view date);

// The text with A-Z as a-z, as Windows names compare.
std::wstring FoldedCase(std::wstring_view text);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

}  // namespace result
