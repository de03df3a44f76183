#include "cli/selection.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>

#include "cli/listing.h"
#include "cli/result.h"
#include "cli/run.h"
#include "cli/text.h"
#include "devlib/wrappers.h"
#include "process/interrupts.h"
#include "process/streams.h"

namespace {

constexpr std::size_t kSelectorLength = 9;  // "vid:pid", four characters each
constexpr std::size_t kIdLength = 4;

int DigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// "no device [VALUE]", VALUE said by `say`.
void SayNoDevice(std::string_view value, void (*say)(std::string_view, std::string_view)) {
  SayOutcome("no device [", "");
  say(value, "");
  SayOutcome("]");
}

}  // namespace

Outcome SelectDeviceByIds(const char* value) {
  // A short selector cannot be split: asking for it would name no device
  // the user meant.
  if (strnlen(value, kSelectorLength) < kSelectorLength) {
    SayNoDevice(value, SayOutcome);
    return Outcome::kNoDevice;
  }
  char vid[10] = {};
  char pid[10] = {};
  std::memcpy(vid, value, kIdLength);
  std::memcpy(pid, value + kIdLength + 1, kIdLength);
  if (!ReportsAsJson()) std::printf("pid:%s,vid:%s.\r\n", pid, vid);
  const int index = FindDeviceIndexByPIDVID(g_hDeviceList, vid, pid);
  if (Interruption() != 0) return Outcome::kNoDevice;
  // Only an index of the list is a device; anything else names none.
  if (index < 0 || static_cast<std::uint32_t>(index) >= g_deviceCounts) {
    SayNoDevice(value, SayOutcome);
    return Outcome::kNoDevice;
  }
  g_selDevice = index;
  if (ReportsAsJson()) {
    st_device_info record;
    ReadDeviceRecord(static_cast<unsigned>(index), record);
    NoteDevice(static_cast<unsigned>(index), record);
  }
  return Outcome::kDone;
}

Outcome SelectDeviceBySerial(const char* value) {
  const std::string_view serial(value);
  unsigned matches = 0;
  // An empty value would match every device that reports no serial number.
  // Every device is read, so that a second one with the serial, wherever
  // it is, refuses the choice.
  const unsigned count = serial.empty() ? 0 : g_deviceCounts;
  for (unsigned i = 0; i < count && Interruption() == 0; ++i) {
    st_device_info record;
    ReadDeviceRecord(i, record);
    if (ExtractDeviceValues(record).serial != serial) continue;
    if (matches++ == 0) {
      g_selDevice = static_cast<std::int32_t>(i);
      NoteDevice(i, record);  // read already: the result names it
    }
  }
  if (Interruption() != 0) return Outcome::kNoDevice;
  if (matches == 1) return Outcome::kDone;
  g_selDevice = -1;
  if (matches == 0) {
    SayNoDevice(value, SayDeviceText);
  } else {
    char count[64];
    std::snprintf(count, sizeof count, "%u devices have serial number [", matches);
    SayOutcome(count, "");
    SayDeviceText(value);
    SayOutcome("]");
  }
  return Outcome::kNoDevice;
}

bool ReadSelection(std::FILE* in, int* value) {
  int c = std::fgetc(in);
  while (c != EOF && std::isspace(c)) c = std::fgetc(in);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = std::fgetc(in);
  }
  int base = 10;
  bool digits = false;
  if (c == '0') {
    digits = true;
    base = 8;
    c = std::fgetc(in);
    if (c == 'x' || c == 'X') {
      base = 16;
      c = std::fgetc(in);
    }
  }
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 32;
  std::uint64_t magnitude = 0;
  for (; c != EOF && DigitValue(c) < base; c = std::fgetc(in)) {
    digits = true;
    magnitude = std::min(magnitude * base + DigitValue(c), kLimit);
  }
  if (!digits) return false;
  const std::int64_t signedValue =
      negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
  if (signedValue < std::numeric_limits<int>::min() ||
      signedValue > std::numeric_limits<int>::max()) {
    return false;
  }
  *value = static_cast<int>(signedValue);
  return true;
}

bool SelectDevice() {
  const unsigned shown = ShowDeviceMenu();
  if (Interruption() != 0) return false;
  std::fputs("Select=", stdout);
  FlushOutput();  // the prompt must be seen before the answer is read
  // An interrupt is no answer: whatever was typed so far selects nothing.
  if (!WaitForInput(STDIN_FILENO)) return false;
  int answer = g_selDevice;
  const bool read = ReadSelection(stdin, &answer);
  if (Interruption() != 0) return false;
  if (!read || answer <= 0 || static_cast<unsigned>(answer) > shown) {
    std::fputs("No Device Selected\r\n", stdout);
    return false;
  }
  g_selDevice = answer - 1;
  return true;
}
