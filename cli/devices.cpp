#include "cli/devices.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <limits>

#include "cli/run.h"
#include "cli/text.h"
#include "devlib/wrappers.h"
#include "process/interrupts.h"
#include "process/streams.h"

namespace {

// Each value: its keys in the info text, and how the listing, the menu
// and the JSON listing name it.
struct FieldKeys {
  std::string_view itemKey;  // kind code 4
  std::string_view lineKey;  // other kinds
  const char* listLabel;
  const char* menuLabel;
  const char* jsonName;
  std::array<char, 128> DeviceFields::*field;
  std::string_view DeviceValues::*value;
};

constexpr FieldKeys kFieldKeys[] = {
    {"Product Name=", "Product Name:", "Product name: ", " ", "product", &DeviceFields::product,
     &DeviceValues::product},
    {"Serial Number=", "Serial Number:", "Serial number: ", " SN:", "serial", &DeviceFields::serial,
     &DeviceValues::serial},
    {"Firmware Version=", "Firmware Version:", "Firmware version: ", " Fireware Ver:", "firmware",
     &DeviceFields::firmware, &DeviceValues::firmware},
};
constexpr std::int32_t kItemKind = 4;
constexpr std::string_view kBlanks = " \t\n\r";
constexpr std::size_t kSelectorLength = 9;  // "vid:pid", four characters each
constexpr std::size_t kIdLength = 4;

// Asks the library for the record of device `index` into `record`.
void ReadRecord(unsigned index, st_device_info& record) {
  std::memset(&record, 0, sizeof record);
  GetDeviceInfo(g_hDeviceList, index, &record);
}

DeviceFields FieldsOfDevice(unsigned index) {
  st_device_info record;
  ReadRecord(index, record);
  return ExtractDeviceFields(record);
}

// The devices to list or offer as text; beyond kMaxShownDevices the first
// that many, which standard error says.
unsigned ShownDevices() {
  if (g_deviceCounts <= kMaxShownDevices) return g_deviceCounts;
  ReportError("TolvarineCli: the device library reports %u devices; only the first %u are shown",
              g_deviceCounts, kMaxShownDevices);
  return kMaxShownDevices;
}

int DigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

std::optional<std::string_view> FindDevData(std::string_view text, std::string_view key,
                                            std::string_view delimiter) {
  const std::size_t keyAt = text.find(key);
  if (keyAt == std::string_view::npos) return std::nullopt;
  // Positions only, no substr: nothing here may throw.
  std::string_view value = text;
  value.remove_prefix(keyAt + key.size());
  const std::size_t end = value.find(delimiter);
  if (end == std::string_view::npos) return std::nullopt;
  value.remove_suffix(value.size() - end);
  const std::size_t first = value.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return std::string_view();
  value.remove_suffix(value.size() - 1 - value.find_last_not_of(kBlanks));
  value.remove_prefix(first);
  return value;
}

int SplitDevData(std::string_view text, std::string_view key, std::string_view delimiter,
                 std::span<char> out) {
  if (out.empty()) return -1;
  std::optional<std::string_view> value = FindDevData(text, key, delimiter);
  if (!value) return -1;
  value->remove_suffix(value->size() - std::min(value->size(), out.size() - 1));
  std::copy(value->begin(), value->end(), out.data());
  out[value->size()] = '\0';
  return 0;
}

DeviceValues ExtractDeviceValues(const st_device_info& record) {
  const std::string_view text(record.info, strnlen(record.info, sizeof record.info));
  const bool items = record.kind == kItemKind;
  DeviceValues values;
  for (const FieldKeys& keys : kFieldKeys) {
    values.*keys.value =
        FindDevData(text, items ? keys.itemKey : keys.lineKey, items ? ";" : "\n").value_or("");
  }
  return values;
}

DeviceFields ExtractDeviceFields(const st_device_info& record) {
  const DeviceValues values = ExtractDeviceValues(record);
  DeviceFields fields;
  for (const FieldKeys& keys : kFieldKeys) {
    std::array<char, 128>& field = fields.*keys.field;
    const std::string_view value = values.*keys.value;
    const std::size_t length = std::min(value.size(), field.size() - 1);
    std::copy_n(value.begin(), length, field.begin());
    field[length] = '\0';
  }
  return fields;
}

void ShowDevice() {
  const unsigned shown = ShownDevices();
  for (unsigned i = 0; i < shown && Interruption() == 0; ++i) {
    const DeviceFields fields = FieldsOfDevice(i);
    std::printf("Device: %d\r\n", static_cast<int>(i + 1));
    for (const FieldKeys& keys : kFieldKeys) {
      std::fputs(keys.listLabel, stdout);
      PutDeviceText((fields.*keys.field).data());
      std::fputs("\r\n", stdout);
    }
    std::fputs("/*************************************/\r\n", stdout);
  }
}

void ShowDevicesAsJson() {
  std::fputs("[", stdout);
  for (unsigned i = 0; i < g_deviceCounts && Interruption() == 0; ++i) {
    st_device_info record;
    ReadRecord(i, record);
    const DeviceValues values = ExtractDeviceValues(record);
    std::printf("%s\n  {\"device\": %u", i == 0 ? "" : ",", i + 1);
    for (const FieldKeys& keys : kFieldKeys) {
      std::printf(", \"%s\": ", keys.jsonName);
      PutJsonString(values.*keys.value, stdout);
    }
    std::fputs("}", stdout);
  }
  if (Interruption() == 0) std::fputs("\n]\n", stdout);
}

Outcome SelectDeviceByIds(const char* value) {
  // A short selector cannot be split: asking for it would name no device
  // the user meant.
  if (strnlen(value, kSelectorLength) < kSelectorLength) {
    std::printf("no device [%s]\n", value);
    return Outcome::kNoDevice;
  }
  char vid[10] = {};
  char pid[10] = {};
  std::memcpy(vid, value, kIdLength);
  std::memcpy(pid, value + kIdLength + 1, kIdLength);
  std::printf("pid:%s,vid:%s.\r\n", pid, vid);
  const int index = FindDeviceIndexByPIDVID(g_hDeviceList, vid, pid);
  if (Interruption() != 0) return Outcome::kNoDevice;
  // Only an index of the list is a device; anything else names none.
  if (index < 0 || static_cast<std::uint32_t>(index) >= g_deviceCounts) {
    std::printf("no device [%s]\n", value);
    return Outcome::kNoDevice;
  }
  g_selDevice = index;
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
    ReadRecord(i, record);
    if (ExtractDeviceValues(record).serial != serial) continue;
    if (matches++ == 0) g_selDevice = static_cast<std::int32_t>(i);
  }
  if (Interruption() != 0) return Outcome::kNoDevice;
  if (matches == 1) return Outcome::kDone;
  g_selDevice = -1;
  if (matches == 0) {
    std::fputs("no device [", stdout);
  } else {
    std::printf("%u devices have serial number [", matches);
  }
  PutDeviceText(value);
  std::fputs("]\n", stdout);
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
  const unsigned shown = ShownDevices();
  for (unsigned i = 0; i < shown && Interruption() == 0; ++i) {
    const DeviceFields fields = FieldsOfDevice(i);
    std::printf("%d.", static_cast<int>(i + 1));
    for (const FieldKeys& keys : kFieldKeys) {
      std::fputs(keys.menuLabel, stdout);
      PutDeviceText((fields.*keys.field).data());
    }
    std::fputs("\r\n", stdout);
  }
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
