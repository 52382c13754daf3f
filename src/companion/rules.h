// `PatchUpdateResult.exe rules`: the detection and requirement settings an administrator enters in
// Intune or Configuration Manager for the patch of the package beside it, read from patchupdate.dat the
// way the utility reads it.
#pragma once

#include <string>
#include <vector>

struct PackagePatch {
  bool read = false;                   // the utility would take this descriptor
  std::wstring refusal;                // the log entry the utility would decide on, when not read
  std::wstring info;                   // PatchInfo
  std::wstring version;                // PatchVersion
  std::vector<std::wstring> previous;  // PreviousVersions
};

// Whether version text `a` is below `b`, compared part by part as numbers, as the deployment systems'
// version operators compare them.
bool VersionBelow(const std::wstring& a, const std::wstring& b);

// The descriptor beside the running program, read by the utility's own descriptor step.
PackagePatch ReadPackagePatch();

// The rules as text, for a descriptor that was read.
std::wstring FormatRules(const PackagePatch& patch);

// Prints the rules and returns 0, or the utility's reason for refusing the descriptor and 1620.
int RunRulesCommand();
