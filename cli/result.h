// The result line of a run in JSON mode (TOLVARINE_JSON=1): one JSON object
// on one line, written with one write, so that runs appending to one file
// never mix inside a line:
//   {"type": "result", "command": ..., "device": ..., "outcome": ...,
//    "status": ..., "message": ..., "error": ..., [details,] ["signal": ...,]
//    "seconds": ...}
#pragma once

#include "devlib/contract.h"
#include "process/outcome.h"

// Starts the run's clock and notes its command (argument 1, or none). In
// JSON mode it also readies the line that a run ended by a signal handler
// writes (see interrupts.h). Call first.
void BeginResult(int argc, char** argv);

// The device acted on: its zero-based index and its record.
void NoteDevice(unsigned index, const st_device_info& record);
bool DeviceNoted();

// The outcome is decided (the command's handler returned, or the run was
// refused), with no interrupt before it or with a held write that
// finished: an interrupt from now on keeps it and names the signal, where
// before it makes the outcome "interrupted".
void NoteOutcome(Outcome outcome);

// Writes the result line of `outcome` (or of the interrupt that came) on
// standard output, once; later calls write nothing.
void WriteResult(Outcome outcome);
