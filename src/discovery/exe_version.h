// The product's main executable and the text of its file version.
//
// CPatchExecute's ReadExeVersion, ReadExeVersionAfterInstall and GetVersionAfterInstall live in
// exe_version.cpp. They log nothing: a missing executable or version leaves the members as they were.
#pragma once

#include <string>

#include "platform/version_resource.h"

// "major.minor.build.revision", each part unsigned decimal without leading zeros.
std::wstring FormatVersionText(const platform::FileVersionWords& words);

// The revision part alone, as FormatVersionText writes it.
std::wstring FormatRevisionText(const platform::FileVersionWords& words);
