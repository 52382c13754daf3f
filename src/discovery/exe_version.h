// The product's main executable and the text of its file version. Nothing here logs: a missing
// executable or version is an empty answer.
#pragma once

#include <optional>
#include <string>

#include "platform/version_resource.h"

// The file version words of "<folder>\Vdt.exe", or of "<folder>\vdt.exe" when the first isn't there;
// nullopt without an executable or without usable version information.
std::optional<platform::FileVersionWords> ReadMainExecutableVersion(const std::wstring& installFolder);

// "major.minor.build.revision", each part unsigned decimal without leading zeros.
std::wstring FormatVersionText(const platform::FileVersionWords& words);

// The version text of the folder's main executable; empty without one.
std::wstring ReadMainExecutableVersionText(const std::wstring& installFolder);

// The revision part alone, as FormatVersionText writes it.
std::wstring FormatRevisionText(const platform::FileVersionWords& words);
