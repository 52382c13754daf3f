// Holds the run before it ends, so an operator can read the console.
#pragma once

#include <cstdint>

namespace platform {

void Pause(std::uint32_t milliseconds);

}  // namespace platform
