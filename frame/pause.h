// The pause between two reads of an answer, and the pages of the answer
// buffer made during it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Pauses 50 microseconds by the monotonic clock, never less and at most a
// few more. During it the pages of `ahead` (the buffer the next read is
// likely to fill) are made, as many as the pause allows, and then, while
// time is left, those of `*spare` (memory wanted later), whose made pages
// are taken off its front; returns how many bytes of `ahead` have their
// pages.
std::size_t PauseBetweenReads(std::span<std::uint8_t> ahead,
                              std::span<std::uint8_t>* spare = nullptr);

// Makes the pages of `bytes`, which still hold the zeros calloc gave them,
// without changing a byte.
void MakePages(std::span<std::uint8_t> bytes);
