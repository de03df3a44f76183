// Pieces of the command exchange that its tests and benchmarks reach; the
// rest of the tool uses exchange.h only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Encodes bytes as "XX " triples into `text`, which holds 3 bytes per input
// byte and one more (scratch). Returns the number of characters encoded.
// Vectorised where the processor can (chosen at run time); the table
// encoder and the vector one write the same text.
std::size_t EncodeHexTrace(std::span<const std::uint8_t> bytes, char* text);
std::size_t EncodeHexTraceTable(std::span<const std::uint8_t> bytes, char* text);
#if defined(__x86_64__)
std::size_t EncodeHexTraceSsse3(std::span<const std::uint8_t> bytes, char* text);
std::size_t EncodeHexTraceAvx2(std::span<const std::uint8_t> bytes, char* text);
#endif

// The pause between two reads of an answer: 50 microseconds by the
// monotonic clock, never less and at most a few more. During it the pages
// of `ahead` (buffer the next read is likely to fill) are made, as many as
// the pause allows; returns how many bytes of `ahead` have their pages.
std::size_t PauseBetweenReads(std::span<std::uint8_t> ahead);

// Makes the pages of `bytes`, which still hold the zeros calloc gave them,
// without changing a byte.
void MakePages(std::span<std::uint8_t> bytes);
