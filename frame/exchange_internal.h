// Pieces of the command exchange that its tests and benchmarks reach; the
// rest of the tool uses exchange.h only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Encodes bytes as "XX " triples into `text`, which holds 3 bytes per input
// byte and one more (scratch). Returns the number of characters encoded.
std::size_t EncodeHexTrace(std::span<const std::uint8_t> bytes, char* text);

// The pause between two reads of an answer: 50 microseconds. The default
// timer slack stretches it to about three times that, so the read loop
// lowers the slack (LowerTimerSlack returns the value to restore).
void PauseBetweenReads();
int LowerTimerSlack();
void RestoreTimerSlack(int previous);
