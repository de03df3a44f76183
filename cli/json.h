// JSON text built in a buffer the caller owns: the listing's objects, the
// result line of a run, the quoted texts of the library-call trace. Nothing
// here allocates, locks or touches a stream, so every function is
// async-signal-safe: a run ended from a signal handler can still say its
// result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Where the next character goes; `at` stops at `end`, and `cut` then says
// that something did not fit (size the buffer with the bounds below).
struct JsonText {
  char* at;
  char* end;
  bool cut = false;
};

JsonText JsonInto(std::span<char> buffer);

// The characters written so far, from the start of `buffer`.
std::string_view JsonWritten(std::span<const char> buffer, const JsonText& text);

// Bytes as they are (keys, punctuation, numbers already formatted).
void PutRaw(JsonText& text, std::string_view raw);

// `value` as a JSON string, quotes included: '"' and '\' escaped, control
// characters (C0, DEL and C1) escaped, other well-formed UTF-8 as it is,
// and each byte that is no part of well-formed UTF-8 as \ufffd. The result
// is valid JSON and inert on a terminal. At most JsonStringBound(size).
void PutString(JsonText& text, std::string_view value);
constexpr std::size_t JsonStringBound(std::size_t size) { return size * 6 + 2; }

// A whole number in decimal.
void PutNumber(JsonText& text, long long value);

// A duration given in microseconds, as seconds with three decimals.
void PutSeconds(JsonText& text, long long microseconds);

// Bytes as lower-case hex digits without separators, quoted; at most
// 2 * size + 2 characters.
void PutHexString(JsonText& text, std::span<const std::uint8_t> bytes);
