// The patch descriptor patchupdate.dat: PatchInfo, PatchFile, PatchVersion, PreviousVersions.
#pragma once

#include <string>
#include <vector>

// The text after the first separator, trimmed of white space (space, tab, CR, LF, VT, FF) at both ends;
// empty when there's no separator.
std::wstring GetKeyValue(const std::wstring& slice, const std::wstring& separator);

namespace descriptor {

// What the descriptor read found. Unless `read`, the patch fields are empty and `refusal` holds the
// entry the run is judged by; the previous versions may be filled all the same.
struct PatchDescriptor {
  bool read = false;
  std::wstring refusal;
  std::wstring folder;  // where the descriptor was found; empty when there was none
  std::wstring info;
  std::wstring file;
  std::wstring version;
  std::wstring revision;  // the part after the version's last "."; empty without one
  std::vector<std::wstring> previous;
};

// Reads patchupdate.dat in `folder` (the utility's own), logging each step.
PatchDescriptor ReadPatchDescriptor(const std::wstring& folder, std::wstring& log);

// Parses the descriptor's text into `found`, whose folder is where the installer must be; logs the
// one entry that decides.
void ParsePatchDescriptor(const std::wstring& text, PatchDescriptor& found, std::wstring& log);

// The comma-separated list, each entry trimmed, empty entries left out.
std::vector<std::wstring> SplitPreviousVersions(const std::wstring& value);

}  // namespace descriptor
