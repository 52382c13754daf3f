// Where the installed product is registered, under HKEY_LOCAL_MACHINE. Shared by the registry probes and
// by the programs that look at the installation beside the utility.
#pragma once

namespace product_keys {

// The branch for 32-bit programs is chosen by path alone.
inline constexpr wchar_t kProductKeyWow64[] = L"SOFTWARE\\Wow6432Node\\KORVEN Software Inc.\\VeldoRant\\14.0";
inline constexpr wchar_t kProductKeyPlain[] = L"SOFTWARE\\KORVEN Software Inc.\\VeldoRant\\14.0";
inline constexpr wchar_t kInstallPathValue[] = L"Installpath";
// The product key's value that names the product version, and the one version the utility patches.
inline constexpr wchar_t kVersionValue[] = L"Version";
inline constexpr wchar_t kRequiredProductVersion[] = L"14.0";

}  // namespace product_keys
