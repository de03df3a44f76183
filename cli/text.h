// Texts that come from a device or the library, as the tool prints them.
#pragma once

#include <cstddef>
#include <cstdio>
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

// Writes `text` to `out` as a JSON string, quotes included: '"' and '\'
// escaped, control characters (C0, DEL and C1) escaped, other well-formed
// UTF-8 as it is, and each byte that is no part of well-formed UTF-8 as
// \ufffd. The result is valid JSON and inert on a terminal.
void PutJsonString(std::string_view text, std::FILE* out);
