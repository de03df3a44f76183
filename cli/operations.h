// The device operations that hand one job to the device library. Each
// receives the open device and the whole argument vector.
#pragma once

void HandleGetPicture(void* device, int argc, char** argv);
void HandleFirmware(void* device, int argc, char** argv);
void HandleExport(void* device, int argc, char** argv);
void HandleImport(void* device, int argc, char** argv);
