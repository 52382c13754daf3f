// The installed product's names: where it is registered under HKEY_LOCAL_MACHINE and what its main
// executable is called. Shared by the utility's probes and guard and by the programs that look at the
// installation beside the utility.
#pragma once

namespace product_keys {

// The branch for 32-bit programs is chosen by path alone; the first key's presence decides the view.
inline constexpr wchar_t kViewDetectionKey[] = L"SOFTWARE\\Wow6432Node";
inline constexpr wchar_t kProductKeyWow64[] = L"SOFTWARE\\Wow6432Node\\KORVEN Software Inc.\\VeldoRant\\14.0";
inline constexpr wchar_t kProductKeyPlain[] = L"SOFTWARE\\KORVEN Software Inc.\\VeldoRant\\14.0";
inline constexpr wchar_t kUninstallKeyWow64[] =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veldorant 14.0";
inline constexpr wchar_t kUninstallKeyPlain[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Veldorant 14.0";
inline constexpr wchar_t kInstallPathValue[] = L"Installpath";
inline constexpr wchar_t kDisplayIconValue[] = L"DisplayIcon";
// The product key's value that names the product version, and the one version the utility patches.
inline constexpr wchar_t kVersionValue[] = L"Version";
inline constexpr wchar_t kRequiredProductVersion[] = L"14.0";

// The main executable in the install folder; the utility looks for the lower-case spelling when the
// usual one isn't there (file names compare exactly on the machines it was written for).
inline constexpr wchar_t kMainExecutable[] = L"Vdt.exe";
inline constexpr wchar_t kMainExecutableLowerCase[] = L"vdt.exe";
// The product's default folder name under Program Files.
inline constexpr wchar_t kDefaultFolderName[] = L"Veldorant 14.0";

}  // namespace product_keys
