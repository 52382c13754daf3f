// The rules follow from how the utility decides: the patch is in place once Vdt.exe carries PatchVersion
// or a later version (an equal-only rule would offer this patch again after the next one), and it is for
// machines whose Vdt.exe carries one of PreviousVersions; every other machine is kept out by requirement
// rules, which give "Not applicable", rather than by a success code that the detection then contradicts.
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

// The folder Intune and Configuration Manager expand on either kind of Windows, with the 32-bit option
// on: Program Files (x86) on 64-bit Windows, Program Files on 32-bit Windows.
constexpr wchar_t kProductFolder[] = L"%ProgramFiles%\\Veldorant 14.0";
constexpr wchar_t kMainExecutable[] = L"Vdt.exe";

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
  const auto [lowest, highest] = std::minmax_element(patch.previous.begin(), patch.previous.end(), VersionLess);
  std::wstring versions;
  for (const auto& version : patch.previous) versions += (versions.empty() ? L"" : L", ") + version;
  const std::wstring file = std::wstring(L"    Path: ") + kProductFolder + L"\n    File or folder: " + kMainExecutable + L"\n";
  std::wstring out;
  out += L"Patch: " + patch.info + L"\n";
  out += L"Installs Vdt.exe " + patch.version + L" over " + versions + L"\n\n";
  out += L"Intune (Windows app (Win32)):\n";
  out += L"  Detection rule: Manually configure detection rules, rule type File\n" + file;
  out += L"    Detection method: String (version)\n    Operator: Greater than or equal to\n    Value: " + patch.version +
         L"\n    Associated with a 32-bit app on 64-bit clients: Yes\n";
  out += L"  Requirement rules (additional), rule type File, each:\n" + file;
  out += L"    Property: String (version)\n    Associated with a 32-bit app on 64-bit clients: Yes\n";
  out += L"    1. Operator: Greater than or equal to, Value: " + *lowest + L"\n";
  out += L"    2. Operator: Less than or equal to, Value: " + *highest + L"\n";
  out += L"\nConfiguration Manager (application, Script Installer deployment type):\n";
  out += L"  Detection method: Setting type File System, Type File\n" + file;
  out += L"    This file or folder is associated with a 32-bit application on 64-bit systems: yes\n";
  out += L"    The file system setting must satisfy the following rule: Property Version, Operator Greater than or "
         L"equal to, Value " + patch.version + L"\n";
  out += L"  Or, where the product is installed elsewhere: Setting type Registry, Hive HKEY_LOCAL_MACHINE, Key " +
         std::wstring(kRecordPatchesKey) + L"\\" + PatchKeyName(patch.info) + L", Value Outcome, 64-bit: yes\n";
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
