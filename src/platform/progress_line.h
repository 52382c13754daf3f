// A line on standard error that a terminal shows in place, for progress while a long task runs.
#pragma once

#include <string>

namespace platform {

// Whether a progress line is wanted: standard error is a terminal (a console on Windows) and no CI
// variable is set, so that redirected output and build logs stay clean.
bool ProgressLineWanted();

// Returns to the start of the line and writes `text` over it, without ending the line.
void WriteProgressLine(const std::wstring& text);

}  // namespace platform
