// The machine most whole-run tests start from: the product installed the usual way on 64-bit Windows
// (its keys under Wow6432Node, Vdt.exe 14.0.0.100) and the patch package for 14.0.0.200 beside the
// utility at the fake's default module path.
#pragma once

#include <cstdint>

#include "fake/fake_machine.h"

namespace fake::sample {

inline constexpr wchar_t kWowKey[] = L"SOFTWARE\\Wow6432Node";
inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\Wow6432Node\\KORVEN Software Inc.\\VeldoRant\\14.0";
inline constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veldorant 14.0";
inline constexpr wchar_t kInstallPath[] = L"C:\\Program Files\\Veldorant 14.0";
inline constexpr wchar_t kProductExe[] = L"C:\\Program Files\\Veldorant 14.0\\Vdt.exe";
inline constexpr wchar_t kRecordPath[] = L"C:\\Program Files\\Veldorant 14.0\\installedupdates.dat";

inline constexpr wchar_t kDescriptorPath[] = L"C:\\Patch\\patchupdate.dat";
inline constexpr wchar_t kInstallerPath[] = L"C:\\Patch\\Update2Setup.exe";
inline constexpr char kDescriptor[] =
    "PatchInfo=Veldorant 14.0 Update 2\r\nPatchFile=Update2Setup.exe\r\nPatchVersion=14.0.0.200\r\n"
    "PreviousVersions=14.0.0.100, 14.0.0.150\r\n";

// Registry keys and values of version 14.0 with its uninstall entry, and Vdt.exe at 14.0.0.<revision>.
inline void InstallProduct(Machine& m, std::uint16_t revision = 100) {
  m.AddKey(kWowKey);
  m.SetRegistryString(kProductKey, L"Version", L"14.0");
  m.SetRegistryString(kProductKey, L"Installpath", kInstallPath);
  m.SetRegistryString(kUninstallKey, L"DisplayIcon", kProductExe);
  m.AddExecutable(kProductExe, 14, 0, 0, revision);
}

// The descriptor and the installer beside the utility; the installer puts Vdt.exe 14.0.0.200 in place.
inline void PutPatchPackage(Machine& m) {
  m.AddFile(kDescriptorPath, kDescriptor);
  m.AddFile(kInstallerPath, "MZ");
  m.installer = [](Machine& machine) { machine.AddExecutable(kProductExe, 14, 0, 0, 200); };
}

}  // namespace fake::sample
