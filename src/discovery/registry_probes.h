// Finding the installed product in the registry: the view flag and the three probes. The probes report
// only through the log they are given; a value that wasn't found comes back empty.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A registry or Windows error code as signed decimal text ("%ld").
std::wstring FormatErrorCode(std::int32_t code);

// A registry value's bytes as UTF-16LE text up to the first NUL, never beyond the byte count
// (an odd last byte is dropped); nothing trimmed, expanded or converted. The type isn't looked at.
std::wstring DecodeRegistryString(const std::vector<std::uint8_t>& bytes);

namespace discovery {

// True for Mode 1 (the Wow6432Node key exists); a failed look is logged and gives Mode 2.
bool DetectRegistryView(std::wstring& log);

struct ProductVersionProbe {
  std::wstring version;       // empty when no usable value was found
  bool wow64Registry = true;  // the view from here on: the fallback to the plain key switches it off
};
// "Version" under the product key of the view, with the fallback to the plain key.
ProductVersionProbe ProbeProductVersion(std::wstring& log, bool wow64Registry);

// "Installpath" under the product key, "DisplayIcon" under the uninstall key; empty when not found.
std::wstring ProbeInstallPath(std::wstring& log, bool wow64Registry);
std::wstring ProbeDisplayIcon(std::wstring& log, bool wow64Registry);

// The install folder the registry names, the Wow6432Node key first as the utility looks, logging
// nothing; empty when neither key has the value.
std::wstring RegisteredInstallFolder();

}  // namespace discovery
