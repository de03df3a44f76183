// The hex trace of a request or an answer: "Request:" or "Response:", then
// every byte as two upper-case hex digits and a space, then a line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// Bytes encoded at a time, and the room their text needs: the text of one
// block, the line feed, and before it the room that puts the text on a
// 64-byte boundary with "Response:" in front.
inline constexpr std::size_t kTraceBytesPerBlock = std::size_t{64} * 1024;
inline constexpr std::size_t kTraceRoom = 128 + kTraceBytesPerBlock * 3;

// Prints the trace of `bytes`: "Request:" for direction 0, "Response:" for
// any other. Prints nothing more once a write to `out` has failed.
void printData(int direction, std::span<const std::uint8_t> bytes, std::FILE* out = stdout);

// The same, with the text made in `room` (kTraceRoom bytes at least; with
// less, in a block of its own): a room whose pages exist already spares the
// trace of a large answer making them.
void printData(int direction, std::span<const std::uint8_t> bytes, std::FILE* out,
               std::span<char> room);

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
