// The run flow: one invocation, one operation.
#pragma once

#include <cstdint>

extern void* g_hDeviceList;           // null whenever no list is held
extern std::uint32_t g_deviceCounts;  // devices reported by EnumDevices
extern std::int32_t g_selDevice;      // chosen index, -1 when none

// Runs the command of argv[1] ("--version" before the library is loaded,
// every other one with it loaded) and releases everything it acquired, in
// reverse order. Returns the exit status: 0, or the run's outcome code
// when TOLVARINE_EXIT_STATUS=1 (process/outcome.h). After an interrupt
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT) it ends the process by that signal
// instead, once everything is released.
int RunMain(int argc, char** argv);
