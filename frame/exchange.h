// The "--execute" command: one framed request, its answer as a hex trace.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "process/outcome.h"

// Prints "Request:" (direction 0) or "Response:" (any other direction), then
// each byte as two upper-case hex digits and a space, then "\n". Prints
// nothing more once a write to `out` has failed.
void printData(int direction, std::span<const std::uint8_t> bytes, std::FILE* out = stdout);

// Handler of "--execute": argv[2] is the command, or "--custom" followed by
// the slave options and the command as the last argument. Returns kDone
// when an answer was printed, kFailed when none came, kRefused when the
// command line was refused and nothing was sent.
Outcome HandleExecute(void* device, int argc, char** argv);
