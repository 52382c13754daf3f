// Running the patch installer hidden, waiting for it, and judging it by the version it leaves.
#pragma once

#include <cstdint>
#include <string>

// The log entry for a failed launch's error code; codes outside the known set read
// "Execute patch process silent: error code " and the code in unsigned decimal.
std::wstring LaunchErrorMessage(std::uint32_t code);

// Whether the two versions are the same text, letter case aside; no parsing, no trimming.
bool VersionsMatch(const std::wstring& expected, const std::wstring& found);

namespace installer {

// What an install attempt needs from the descriptor read and the probes.
struct Install {
  std::wstring patchFolder;  // where the descriptor and the installer are
  std::wstring patchFile;
  std::wstring patchInfo;
  std::wstring patchVersion;
  std::wstring installPath;
  std::wstring displayIcon;  // names the product folder, where the installed-update record goes
};

// The installer's command-line parameters: silent, INSTALLPATH quoted, for all users.
std::wstring InstallParameters(const std::wstring& installPath);

// Launches the installer hidden, waits for it, judges it by the version it left and records a match;
// logs and prints the result, then pauses. Returns the version found afterwards, empty when none.
std::wstring InstallPatch(const Install& install, std::wstring& log);

}  // namespace installer
