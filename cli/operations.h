// The device operations that hand one job to the device library. Each
// receives the open device and the whole argument vector, prints its
// outcome and returns it.
#pragma once

#include "process/outcome.h"

Outcome HandleGetPicture(void* device, int argc, char** argv);
Outcome HandleFirmware(void* device, int argc, char** argv);
Outcome HandleExport(void* device, int argc, char** argv);
Outcome HandleImport(void* device, int argc, char** argv);
