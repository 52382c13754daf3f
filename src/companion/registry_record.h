// The last run's result in the registry, where inventory tools and remediation scripts look (the
// results folder is only a file share away for machines that share C$).
#pragma once

#include <cstdint>
#include <string>

#include "result/outcome_file.h"

inline constexpr wchar_t kRecordKey[] = L"SOFTWARE\\Veldorant\\PatchUpdate";
inline constexpr wchar_t kRecordPatchesKey[] = L"SOFTWARE\\Veldorant\\PatchUpdate\\Patches";
// The run's exit code (REG_DWORD), which the registry detection rules read.
inline constexpr wchar_t kExitCodeValue[] = L"ExitCode";

struct RecordWrite {
  std::int32_t error = 0;  // 0, or the first error
  std::wstring key;        // the key the error concerned
};

// The record's values under kRecordKey, and again under kRecordPatchesKey\<patch> when the run named its
// patch. Stops at the first error.
RecordWrite WriteRegistryRecord(const result::OutcomeRecord& record, bool restartPending);

// When the run holding the run lock started, under kRecordKey, for a run that finds the lock held.
// Errors are dropped: the time is only ever said, never acted on.
void WriteRunStarted(const std::wstring& time);
// That time; empty when none was written.
std::wstring ReadRunStarted();

// A patch's name as one key name: no backslash (it would nest keys), at most 255 characters.
std::wstring PatchKeyName(const std::wstring& patch);
