// The hex trace of a request or an answer: "Request:" or "Response:", then
// every byte as two upper-case hex digits and a space, then a line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// Prints the trace of `bytes`: "Request:" for direction 0, "Response:" for
// any other. Prints nothing more once a write to `out` has failed.
void printData(int direction, std::span<const std::uint8_t> bytes, std::FILE* out = stdout);

// Encodes bytes as "XX " triples into `text`, which holds 3 bytes per input
// byte and one more (scratch). Returns the number of characters encoded.
// Vectorised where the processor can (chosen at run time); every encoder
// writes the same text. The others are for tests and benchmarks.
std::size_t EncodeHexTrace(std::span<const std::uint8_t> bytes, char* text);
std::size_t EncodeHexTraceTable(std::span<const std::uint8_t> bytes, char* text);
#if defined(__x86_64__)
std::size_t EncodeHexTraceSsse3(std::span<const std::uint8_t> bytes, char* text);
std::size_t EncodeHexTraceAvx2(std::span<const std::uint8_t> bytes, char* text);
#endif
