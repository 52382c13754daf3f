// Running another console program the way a deployment system runs us: by full path, its output
// relayed to ours as it comes, waited for by handle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ChildRun {
  std::uint32_t error = 0;           // 0 when started, else the error code in Windows' numbering
  std::uint32_t exitCode = 0;        // the program's full exit code, when started
  std::vector<std::uint8_t> output;  // everything it wrote to its standard output and error
};

// Starts `file` (a full path) in `directory` with no arguments, on our console, handing it no handle but
// its standard ones. Its standard output and error go through a pipe that is copied unchanged to our
// standard output as it fills; blocks until the program has ended. Programs it starts in turn may keep
// the pipe open: they are not waited for.
ChildRun RunRelayingOutput(const std::wstring& file, const std::wstring& directory);

}  // namespace platform
