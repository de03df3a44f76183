// The run flow: one invocation, one operation, exit status 0 on every path.
#pragma once

#include <cstdint>

extern void* g_hDeviceList;           // null whenever no list is held
extern std::uint32_t g_deviceCounts;  // devices reported by EnumDevices
extern std::int32_t g_selDevice;      // chosen index, -1 when none

// Loads the library, runs the command of argv[1] and releases everything it
// acquired, in reverse order. Returns 0; after an interrupt (SIGINT,
// SIGTERM, SIGHUP, SIGQUIT) it ends the process by that signal instead, once
// everything is released.
int RunMain(int argc, char** argv);
