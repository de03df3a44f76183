// The "--execute" command: one framed request, its answer as a hex trace.
#pragma once

#include "process/outcome.h"

// Handler of "--execute": argv[2] is the command, or "--custom" followed by
// the slave options and the command as the last argument. Returns kDone
// when an answer was printed, kFailed when none came, kRefused when the
// command line was refused and nothing was sent.
Outcome HandleExecute(void* device, int argc, char** argv);
