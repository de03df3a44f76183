#include "cli/json.h"

#include <algorithm>

#include "cli/text.h"

namespace {

constexpr struct {
  char character, escape;
} kShortEscapes[] = {{'\b', 'b'}, {'\f', 'f'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}};
constexpr char kHexDigits[] = "0123456789abcdef";

void Put(JsonText& text, char c) {
  if (text.at == text.end) {
    text.cut = true;
    return;
  }
  *text.at++ = c;
}

void PutEscaped(JsonText& text, int control) {
  for (const auto& e : kShortEscapes) {
    if (e.character == control) {
      Put(text, '\\');
      Put(text, e.escape);
      return;
    }
  }
  PutRaw(text, "\\u00");
  Put(text, kHexDigits[(control >> 4) & 0xF]);
  Put(text, kHexDigits[control & 0xF]);
}

}  // namespace

JsonText JsonInto(std::span<char> buffer) { return {buffer.data(), buffer.data() + buffer.size()}; }

std::string_view JsonWritten(std::span<const char> buffer, const JsonText& text) {
  return {buffer.data(), static_cast<std::size_t>(text.at - buffer.data())};
}

void PutRaw(JsonText& text, std::string_view raw) {
  const std::size_t room = static_cast<std::size_t>(text.end - text.at);
  if (raw.size() > room) text.cut = true;
  text.at = std::copy_n(raw.data(), std::min(raw.size(), room), text.at);
}

void PutString(JsonText& text, std::string_view value) {
  Put(text, '"');
  while (!value.empty()) {
    const std::size_t length = Utf8SequenceLength(value);
    const int control = ControlCharacter(value, length);
    if (length == 0) {
      PutRaw(text, "\\ufffd");
    } else if (control >= 0) {
      PutEscaped(text, control);
    } else if (value[0] == '"' || value[0] == '\\') {
      Put(text, '\\');
      Put(text, value[0]);
    } else {
      PutRaw(text, {value.data(), length});
    }
    value.remove_prefix(length == 0 ? 1 : length);
  }
  Put(text, '"');
}

void PutNumber(JsonText& text, long long value) {
  char digits[24];
  char* at = digits + sizeof digits;
  unsigned long long magnitude = value < 0 ? 0 - static_cast<unsigned long long>(value)
                                           : static_cast<unsigned long long>(value);
  do {
    *--at = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--at = '-';
  PutRaw(text, {at, static_cast<std::size_t>(digits + sizeof digits - at)});
}

void PutSeconds(JsonText& text, long long microseconds) {
  const long long milliseconds = (microseconds + 500) / 1000;
  PutNumber(text, milliseconds / 1000);
  Put(text, '.');
  const long long fraction = milliseconds % 1000;
  Put(text, static_cast<char>('0' + fraction / 100));
  Put(text, static_cast<char>('0' + fraction / 10 % 10));
  Put(text, static_cast<char>('0' + fraction % 10));
}

void PutHexString(JsonText& text, std::span<const std::uint8_t> bytes) {
  Put(text, '"');
  for (std::uint8_t b : bytes) {
    Put(text, kHexDigits[b >> 4]);
    Put(text, kHexDigits[b & 0xF]);
  }
  Put(text, '"');
}
