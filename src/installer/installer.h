// Running the patch installer hidden, waiting for it, and judging it by the version it leaves.
#pragma once

#include <cstdint>
#include <string>

// The log entry for a failed launch's error code.
std::wstring LaunchErrorMessage(std::uint32_t code);
