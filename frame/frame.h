// Device command frames.
//
// Unified frame of a command body of N bytes (N + 9 bytes in all):
//   7E 01 30 30 30 30 <marker> <body> 3B 03
// The marker is '@', or the command's own first character when that is '@'
// or '#'. A slave frame wraps the unified frame in an optional prefix, an
// optional length field and an optional suffix.
//
// The builders write into a destination of known size and never past it:
// when the frame would not fit, nothing is written and the length is 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Writes the unified frame of `command` into `dst`. One trailing ';' of the
// command is dropped. Stores the frame length (0 when it does not fit) in
// *outLength when outLength is not null.
void packUnifyCommand(std::span<std::uint8_t> dst, std::string_view command,
                      std::size_t* outLength);

// Writes the slave frame of `command` (all its bytes, no ';' dropped) into
// `dst`: prefix bytes, length field, unified frame, suffix bytes. Prefix and
// suffix are hex texts (empty: absent; invalid: no bytes). The length type
// "1", "2l" (high byte first) or "2b" (low byte first) adds a field holding
// the unified frame's length; any other text adds none. Stores the total
// length (0 when it does not fit) in *outLength; does nothing when outLength
// is null.
void packPreSurFullData(std::string_view command, std::string_view prefix, std::string_view suffix,
                        std::string_view lengthType, std::span<std::uint8_t> dst,
                        std::size_t* outLength);

// Decodes the hex text (either case) into text.size() / 2 bytes and returns
// that count; returns 0 for an odd length or a character that is not a hex
// digit. With a null `out` (a default span) the text is only validated and
// counted. When `out` points somewhere but is too small, returns 0. Writes
// nothing on failure.
std::size_t StringToHex(std::string_view text, std::span<std::uint8_t> out);
