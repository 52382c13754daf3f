// The rules follow from how the utility decides: the patch is in place once Vdt.exe carries PatchVersion
// or a later version (an equal-only rule would offer this patch again after the next one). The
// requirement is the product key the utility reads, so it holds wherever the product is installed: a
// requirement on a file path would make every machine with the product elsewhere "Not applicable", which
// no one sees. Machines that pass it and can't be patched end with a failure code instead. The file
// detection only reaches the default folder; the registry record's detection reaches every folder.
#include "companion/rules.h"

#include <algorithm>

#include "companion/messages.h"
#include "companion/registry_record.h"
#include "descriptor/patch_descriptor.h"
#include "discovery/product_keys.h"
#include "platform/console.h"
#include "platform/module.h"
#include "platform/path_text.h"
#include "result/outcome.h"

namespace {

using messages::companion::kRulesRefused;

// The product's default folder as both systems' 32-bit options take it: Program Files (x86) on 64-bit
// Windows, Program Files on 32-bit Windows.
std::wstring ProductFolder() { return std::wstring(L"%ProgramFiles%\\") + product_keys::kDefaultFolderName; }
using product_keys::kMainExecutable;
constexpr wchar_t kLocalMachine[] = L"HKEY_LOCAL_MACHINE\\";
using product_keys::kRequiredProductVersion;
using product_keys::kVersionValue;

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
  // Four numbers, as in a file version: "14.0" is 14.0.0.0.
  if (parts.size() < 4) parts.resize(4, 0);
  return parts;
}

}  // namespace

bool VersionBelow(const std::wstring& a, const std::wstring& b) { return Parts(a) < Parts(b); }

PackagePatch ReadPackagePatch() {
  std::wstring log;  // the utility's entries; only the refusal among them is wanted here
  descriptor::PatchDescriptor found = descriptor::ReadPatchDescriptor(FolderOf(platform::GetModulePath()), log);
  if (!found.read)
    return {.read = false, .refusal = std::move(found.refusal), .info = {}, .version = {}, .previous = {}};
  return {.read = true,
          .refusal = {},
          .info = std::move(found.info),
          .version = std::move(found.version),
          .previous = std::move(found.previous)};
}

std::wstring FormatRules(const PackagePatch& patch) {
  const std::wstring lowest = *std::min_element(patch.previous.begin(), patch.previous.end(), VersionBelow);
  std::wstring versions;
  for (const auto& version : patch.previous) versions += (versions.empty() ? L"" : L", ") + version;
  const std::wstring productKey = product_keys::kProductKeyPlain;
  const std::wstring recordKey = std::wstring(kRecordPatchesKey) + L"\\" + PatchKeyName(patch.info);
  std::wstring out;
  out += L"Patch: " + patch.info + L"\nVdt.exe " + patch.version + L" replaces " + versions + L"\n\n";

  out += L"Requirement, wherever Veldorant 14.0 is installed: the product key the utility reads\n";
  out += L"  Intune (Windows app (Win32)), additional requirement rule, requirement type Registry\n";
  out += L"    Key path: " + std::wstring(kLocalMachine) + productKey + L"\n";
  out += std::wstring(L"    Value name: ") + kVersionValue + L"\n";
  out += L"    Registry key requirement: String comparison\n    Operator: Equals\n    Value: " +
         std::wstring(kRequiredProductVersion) + L"\n";
  out += L"    Associated with a 32-bit app on 64-bit clients: Yes (64-bit clients read it under Wow6432Node)\n";
  out +=
      L"  Configuration Manager, global condition: device type Windows, condition type Setting, setting type "
      L"Registry value, data type String\n";
  out +=
      std::wstring(L"    Hive: HKEY_LOCAL_MACHINE\n    Key: ") + productKey + L"\n    Value: " + kVersionValue + L"\n";
  out +=
      L"    This registry key is associated with a 64-bit application: ticked (the 64-bit keys are searched "
      L"besides the 32-bit ones)\n";
  out += L"    Requirement on the deployment type: category Custom, that condition, operator Equals, value " +
         std::wstring(kRequiredProductVersion) + L"\n";
  out +=
      L"  Machines without the key are Not applicable. With the key, PatchUpdateResult reports every machine: "
      L"no Vdt.exe ends with 1603, a Vdt.exe below " +
      lowest + L" or between the listed versions with 1642.\n\n";

  out += L"Detection where every machine has Veldorant 14.0 in its default folder: Vdt.exe's version\n";
  out += std::wstring(L"  Intune, rule type File\n    Path: ") + ProductFolder() + L"\n    File or folder: " +
         kMainExecutable +
         L"\n    Detection method: String (version)\n    Operator: Greater than or equal to\n"
         L"    Value: " +
         patch.version + L"\n    Associated with a 32-bit app on 64-bit clients: Yes\n";
  out += L"  Configuration Manager, setting type File System, type File\n";
  out += std::wstring(L"    Path: ") + ProductFolder() + L"\n";
  out += std::wstring(L"    File or folder name: ") + kMainExecutable + L"\n";
  out += L"    This file or folder is associated with a 32-bit application on 64-bit systems: ticked (the default)\n";
  out += L"    Property: Version, Operator: Greater than or equal to, Value: " + patch.version + L"\n";
  out += L"  A machine with the product elsewhere fails this detection after every run.\n\n";

  out += L"Detection for any install folder: the record PatchUpdateResult writes\n";
  out += L"  Intune, rule type Registry\n    Key path: " + std::wstring(kLocalMachine) + recordKey + L"\n";
  out += std::wstring(L"    Value name: ") + kExitCodeValue +
         L"\n    Detection method: Integer comparison\n    Operator: Equals\n    Value: 0\n";
  out += L"    Associated with a 32-bit app on 64-bit clients: No\n";
  out += L"  Configuration Manager, setting type Registry\n    Hive: HKEY_LOCAL_MACHINE\n    Key: " + recordKey + L"\n";
  out += std::wstring(L"    Value: ") + kExitCodeValue + L", data type Integer\n";
  out += L"    This registry key is associated with a 32-bit application on 64-bit systems: not ticked\n";
  out += L"    Operator: Equals, Value: 0\n";
  out += std::wstring(L"  ") + kExitCodeValue + L" is 0 once Vdt.exe is at " + patch.version +
         L" or later. After a run that ended with 3010 it is 3010, and the detection fails until a run after the "
         L"restart finds the patch applied and writes 0.\n";
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
