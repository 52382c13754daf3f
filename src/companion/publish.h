// What a run came to, made known: the registry record first (inventory looks there), then the results
// folder, then the closing line.
#pragma once

#include <cstdint>
#include <string>

#include "companion/observe.h"
#include "result/outcome.h"

// "PatchUpdateResult: <outcome> (exit code N): <reason>", the last line of every run.
std::wstring ClosingLine(result::Outcome outcome, std::uint32_t code, const std::wstring& reason);

// Records and keeps the observation, says what could not be, ends with the closing line; the exit code.
int PublishRun(const Observation& seen);
