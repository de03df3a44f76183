// The settings file "setting.ini" in the current directory.
#pragma once

#include <cstdint>

// The first-read time-out: the value of the first "readtimeout=" line,
// converted as atoi converts and clamped to the int32 range, or 2000 when the
// file has no such line or its value is empty. Reads the file afresh at each
// call; when it cannot be opened, or is no regular file (a directory, a
// FIFO, a device), prints "Error opening file: <reason>" on standard error
// and returns 2000. Never blocks.
std::int32_t getReadTimeout();
