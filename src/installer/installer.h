// Running the patch installer hidden, waiting for it, and judging it by the version it leaves.
#pragma once

#include <cstdint>
#include <string>

// The log entry for a failed launch's error code; codes outside the known set read
// "Execute patch process silent: error code " and the code in unsigned decimal.
std::wstring LaunchErrorMessage(std::uint32_t code);

// Whether the two versions are the same text, letter case aside; no parsing, no trimming.
bool VersionsMatch(const std::wstring& expected, const std::wstring& found);
