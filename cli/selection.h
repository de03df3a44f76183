// Choosing the device a command acts on: by identifiers, by serial number,
// or by asking.
#pragma once

#include <cstdio>

#include "process/outcome.h"

// Set g_selDevice to the device that `value` (argument 4) names and return
// kDone; otherwise print why no device is chosen and return kNoDevice.
// SelectDeviceByIds takes "vid:pid" (four characters each, one between)
// and asks the library; SelectDeviceBySerial reads every device's serial
// number, however many devices and however long the serial, and takes the
// one device whose whole serial equals `value`.
Outcome SelectDeviceByIds(const char* value);
Outcome SelectDeviceBySerial(const char* value);

// Prints the menu, asks "Select=" and sets g_selDevice to the chosen index.
// Returns false, after "No Device Selected", when the answer is no device,
// and without a word when an interrupt came first.
bool SelectDevice();

// Reads one integer from `in` as scanf's "%i" does. Returns false
// when none can be read, or it is outside the int32 range.
bool ReadSelection(std::FILE* in, int* value);
