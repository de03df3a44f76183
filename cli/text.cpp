#include "cli/text.h"

#include <unistd.h>

#include <cstdio>

#include "process/outcome.h"

namespace {

int g_outputIsTerminal = -1;  // asked once, when the first text is written

// The well-formed multi-byte sequences, by lead byte: the range of the
// second byte rules out overlong forms, surrogates and values above
// U+10FFFF; further bytes are 80 to BF.
struct Utf8Form {
  unsigned char leadFirst, leadLast, length, secondFirst, secondLast;
};
constexpr Utf8Form kUtf8Forms[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

unsigned char Byte(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

}  // namespace

int ControlCharacter(std::string_view text, std::size_t length) {
  if (length == 1 && (Byte(text, 0) < 0x20 || Byte(text, 0) == 0x7F)) return Byte(text, 0);
  if (length == 2 && Byte(text, 0) == 0xC2 && Byte(text, 1) <= 0x9F) return Byte(text, 1);
  return -1;
}

std::size_t Utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  if (Byte(text, 0) < 0x80) return 1;
  for (const Utf8Form& form : kUtf8Forms) {
    if (Byte(text, 0) < form.leadFirst || Byte(text, 0) > form.leadLast) continue;
    if (text.size() < form.length || Byte(text, 1) < form.secondFirst ||
        Byte(text, 1) > form.secondLast) {
      return 0;
    }
    for (std::size_t i = 2; i < form.length; ++i) {
      if (Byte(text, i) < 0x80 || Byte(text, i) > 0xBF) return 0;
    }
    return form.length;
  }
  return 0;
}

void PutDeviceText(std::string_view text) {
  if (g_outputIsTerminal < 0) g_outputIsTerminal = isatty(STDOUT_FILENO);
  if (g_outputIsTerminal == 0) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return;
  }
  while (!text.empty()) {
    const std::size_t length = Utf8SequenceLength(text);
    const std::size_t taken = length == 0 ? 1 : length;
    const int control = ControlCharacter(text, length);
    // A byte that is no part of well-formed UTF-8 (0x9B alone starts an
    // escape sequence on a terminal in 8-bit mode) is escaped too.
    if (length > 0 && (control < 0 || control == '\t')) {
      std::fwrite(text.data(), 1, taken, stdout);
    } else {
      for (std::size_t i = 0; i < taken; ++i) std::printf("\\x%02x", Byte(text, i));
    }
    text.remove_prefix(taken);
  }
}

void SayDeviceText(std::string_view text, std::string_view end) {
  if (ReportsAsJson()) {
    SayOutcome(text, end);
  } else {
    PutDeviceText(text);
    std::fwrite(end.data(), 1, end.size(), stdout);
  }
}
