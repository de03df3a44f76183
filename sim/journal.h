// The simulated library's journal and the faults a scenario injects.
#pragma once

#include <cstddef>
#include <string>

#include "sim/scenario.h"

namespace sim {

// Appends one line to the journal named by TOLVARINE_SIM_JOURNAL, in one
// write. The file is kept open while the library is loaded, as a vendor
// library keeps its log: a tool that leaves a standard descriptor closed
// would write into it.
void Journal(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A text argument, quoted with C escapes so that every byte is visible
// ("null" for a null pointer); bytes as "7E 01"; a bool as true or false.
std::string Quoted(const char* text);
std::string Hex(const unsigned char* bytes, std::size_t count);
const char* BoolText(bool value);

// The prologue of every entry point: the scenario's fault for `call`, in
// one order for all. A crash ends the process; a slow call waits first
// (when `waits`: tq_Read waits only when the device has nothing to say).
// Returns false when a signal cut the wait short: the call then fails.
bool ApplyFaults(const Scenario& scenario, const char* call, bool waits = true);

// The faults of the library's lifetime, armed when it is loaded: a thread
// of its own, a crash in its teardown, signal handlers of its own (they do
// nothing and restart no call).
void ArmLifetimeFaults(const Scenario& scenario);

}  // namespace sim
