// The "--execute" command: one framed request, its answer as a hex trace.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

// Prints "Request:" (direction 0) or "Response:" (any other direction), then
// each byte as two upper-case hex digits and a space, then "\n". Prints
// nothing more once a write to `out` has failed.
void printData(int direction, std::span<const std::uint8_t> bytes,
               std::FILE* out = stdout);

// Encodes bytes as "XX " triples into `text`, which holds 3 bytes per input
// byte and one more (scratch). Returns the number of characters encoded.
std::size_t EncodeHexTrace(std::span<const std::uint8_t> bytes, char* text);

// The pause between two reads of an answer: 50 microseconds. The default
// timer slack stretches it to about three times that, so the read loop
// lowers the slack (LowerTimerSlack returns the value to restore).
void PauseBetweenReads();
int LowerTimerSlack();
void RestoreTimerSlack(int previous);

// Handler of "--execute": argv[2] is the command, or "--custom" followed by
// the slave options and the command as the last argument.
void HandleExecute(void* device, int argc, char** argv);
