// Finding the installed product in the registry: the view flag and the three probes.
//
// CPatchExecute's DetectRegistryView, ProbeProductVersion, ProbeInstallPath, ProbeDisplayIcon,
// SetProductVersion and the getters live in registry_probes.cpp. The probes report only through
// the log; a value that wasn't found leaves its member as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A registry or Windows error code as signed decimal text ("%ld").
std::wstring FormatErrorCode(std::int32_t code);

// A registry value's bytes as UTF-16LE text up to the first NUL, never beyond the byte count
// (an odd last byte is dropped); nothing trimmed, expanded or converted. The type isn't looked at.
std::wstring DecodeRegistryString(const std::vector<std::uint8_t>& bytes);
