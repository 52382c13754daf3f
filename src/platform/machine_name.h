// The name this machine goes by on the network.
#pragma once

#include <string>

namespace platform {

// This machine's NetBIOS name; empty when the system doesn't say.
std::wstring MachineName();

}  // namespace platform
