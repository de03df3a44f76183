// Texts that come from a device or the library, as the tool prints them.
#pragma once

#include <cstddef>
#include <string_view>

// Length of the well-formed UTF-8 sequence that starts `text` (1 to 4), or
// 0 when its first byte starts none: a stray continuation byte, an overlong
// form, a surrogate, a value above U+10FFFF, or a sequence cut short.
std::size_t Utf8SequenceLength(std::string_view text);

// Writes a text from a device or the library to standard output: in files
// and pipes every byte as it is; on a terminal, control characters (C0 but
// tab, DEL, and C1 encoded in UTF-8) and every byte that is no part of
// well-formed UTF-8 as \xHH for each of their bytes, so that no device can
// drive the terminal. Well-formed UTF-8 text passes unchanged.
void PutDeviceText(std::string_view text);

// Tells a text from a device or the library as part of the outcome:
// PutDeviceText, then `end`, in text mode; kept as the result's message in
// JSON mode.
void SayDeviceText(std::string_view text, std::string_view end = "");

// The control character (C0, DEL, or C1 encoded in UTF-8) that the sequence
// of `length` bytes at the start of `text` encodes (length from
// Utf8SequenceLength), or -1.
int ControlCharacter(std::string_view text, std::size_t length);
