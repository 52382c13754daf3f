// The rules follow from how the utility decides: the patch is in place once Vdt.exe carries PatchVersion
// or a later version (an equal-only rule would offer this patch again after the next one), and it is for
// machines whose Vdt.exe carries one of PreviousVersions. Machines without the product or below the lowest
// of them are kept out by a requirement rule, which gives "Not applicable", rather than by a success code
// that the detection would then contradict; a file rule can't say "one of", so a version between the
// listed ones still reaches the utility, which refuses it (1642).
#include "companion/rules.h"

#include <algorithm>

#include "app/patch_execute.h"
#include "companion/messages.h"
#include "companion/registry_record.h"
#include "platform/console.h"
#include "result/log_reading.h"
#include "result/outcome.h"

namespace {

using messages::companion::kRulesRefused;

// The folder Intune expands on either kind of Windows with its 32-bit option on: Program Files (x86) on
// 64-bit Windows, Program Files on 32-bit Windows.
constexpr wchar_t kProductFolder[] = L"%ProgramFiles%\\Veldorant 14.0";
constexpr wchar_t kMainExecutable[] = L"Vdt.exe";
// Configuration Manager's detection takes a plain path: the product's default folders.
constexpr wchar_t kDefaultFolder64[] = L"C:\\Program Files (x86)\\Veldorant 14.0";
constexpr wchar_t kDefaultFolder32[] = L"C:\\Program Files\\Veldorant 14.0";

// Versions compare part by part as numbers, as the deployment systems' version operators do.
std::vector<unsigned long> Parts(const std::wstring& version) {
  std::vector<unsigned long> parts(1, 0);
  for (const wchar_t c : version) {
    if (c == L'.') {
      parts.push_back(0);
    } else if (c >= L'0' && c <= L'9') {
      parts.back() = parts.back() * 10 + static_cast<unsigned long>(c - L'0');
    }
  }
  return parts;
}

bool VersionLess(const std::wstring& a, const std::wstring& b) { return Parts(a) < Parts(b); }

}  // namespace

PackagePatch ReadPackagePatch() {
  PackagePatch patch;
  CPatchExecute run{NothingReadYet{}};
  run.ReadPatchDescriptor();
  patch.read = run.m_bPatchInfoRead;
  if (!patch.read) {
    patch.refusal = result::ReadLogEntries(run.GetLog()).reason;
    return patch;
  }
  patch.info = run.m_strPatchInfo;
  patch.version = run.m_strPatchVersion;
  patch.previous = run.m_arrPreviousVersions;
  return patch;
}

std::wstring FormatRules(const PackagePatch& patch) {
  const std::wstring lowest = *std::min_element(patch.previous.begin(), patch.previous.end(), VersionLess);
  std::wstring versions;
  for (const auto& version : patch.previous) versions += (versions.empty() ? L"" : L", ") + version;
  auto fileRule = [](const wchar_t* property, const std::wstring& value) {
    return std::wstring(L"    Path: ") + kProductFolder + L"\n    File or folder: " + kMainExecutable +
           L"\n    " + property + L"String (version)\n    Operator: Greater than or equal to\n    Value: " + value +
           L"\n    Associated with a 32-bit app on 64-bit clients: Yes\n";
  };
  std::wstring out;
  out += L"Patch: " + patch.info + L"\nVdt.exe " + patch.version + L" replaces " + versions + L"\n\n";
  out += L"Intune (Windows app (Win32))\n";
  out += L"  Detection rule: manually configured, rule type File\n" + fileRule(L"Detection method: ", patch.version);
  out += L"  Requirement rule (additional), rule type File\n" + fileRule(L"Property: ", lowest);
  out += L"  Machines without Vdt.exe or below " + lowest + L" are then Not applicable; one at a version between "
         L"the listed ones ends with 1642.\n\n";
  out += L"Configuration Manager (application, Script Installer deployment type)\n";
  out += L"  Detection method: setting type File System, type File\n";
  out += std::wstring(L"    Path: the install folder (Installpath; by default ") + kDefaultFolder64 +
         L" on 64-bit Windows, " + kDefaultFolder32 + L" on 32-bit Windows)\n";
  out += std::wstring(L"    File or folder name: ") + kMainExecutable + L"\n";
  out += L"    Property: Version, Operator: Greater than or equal to, Value: " + patch.version + L"\n";
  out += L"  Requirement: the same file, Version Greater than or equal to " + lowest + L"\n";
  out += L"  Or, where the install folder differs between machines: setting type Registry, hive HKEY_LOCAL_MACHINE\n";
  out += L"    Key: " + std::wstring(kRecordPatchesKey) + L"\\" + PatchKeyName(patch.info) + L"\n";
  out += L"    Value: ExitCode, data type Integer, 32-bit application on 64-bit systems: not ticked\n";
  out += L"    Operator: Equals, Value: 0 (after a 3010 run, the next run finds the patch applied)\n";
  return out;
}

int RunRulesCommand() {
  const PackagePatch patch = ReadPackagePatch();
  if (!patch.read) {
    platform::WriteConsoleText(std::wstring(kRulesRefused) + patch.refusal + L"\n");
    return static_cast<int>(result::ExitCodeOf(result::Outcome::kBrokenPackage));
  }
  platform::WriteConsoleText(FormatRules(patch));
  return 0;
}
