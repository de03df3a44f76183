#include "cli/listing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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

DeviceFields FieldsOfDevice(unsigned index) {
  st_device_info record;
  ReadDeviceRecord(index, record);
  return ExtractDeviceFields(record);
}

// How the text listing and the menu show a device: a head with its
// number, each value after its label, a tail.
struct TextLayout {
  const char* head;  // printf format of the one-based number
  const char* FieldKeys::*label;
  const char* afterValue;
  const char* tail;
};
constexpr TextLayout kListing = {"Device: %d\r\n", &FieldKeys::listLabel, "\r\n",
                                 "/*************************************/\r\n"};
constexpr TextLayout kMenu = {"%d.", &FieldKeys::menuLabel, "", "\r\n"};

// The devices to list or offer as text; beyond kMaxShownDevices the first
// that many, which standard error says.
unsigned ShownDevices() {
  if (g_deviceCounts <= kMaxShownDevices) return g_deviceCounts;
  ReportError("TolvarineCli: the device library reports %u devices; only the first %u are shown",
              g_deviceCounts, kMaxShownDevices);
  return kMaxShownDevices;
}

// Shows the devices (at most kMaxShownDevices) as `layout` says; returns
// how many.
unsigned ShowDevices(const TextLayout& layout) {
  const unsigned shown = ShownDevices();
  for (unsigned i = 0; i < shown && Interruption() == 0; ++i) {
    const DeviceFields fields = FieldsOfDevice(i);
    std::printf(layout.head, static_cast<int>(i + 1));
    for (const FieldKeys& keys : kFieldKeys) {
      std::fputs(keys.*layout.label, stdout);
      PutDeviceText((fields.*keys.field).data());
      std::fputs(layout.afterValue, stdout);
    }
    std::fputs(layout.tail, stdout);
  }
  return shown;
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

void ShowDevice() { ShowDevices(kListing); }

void ShowDevicesAsJson() {
  std::fputs("[", stdout);
  char object[kDeviceObjectSize];
  for (unsigned i = 0; i < g_deviceCounts && Interruption() == 0; ++i) {
    st_device_info record;
    ReadDeviceRecord(i, record);
    JsonText text = JsonInto(object);
    PutRaw(text, i == 0 ? "\n  " : ",\n  ");
    PutDeviceObject(text, i, record);
    const std::string_view written = JsonWritten(object, text);
    std::fwrite(written.data(), 1, written.size(), stdout);
  }
  if (Interruption() == 0) std::fputs("\n]\n", stdout);
}

unsigned ShowDeviceMenu() { return ShowDevices(kMenu); }

void ReadDeviceRecord(unsigned index, st_device_info& record) {
  std::memset(&record, 0, sizeof record);
  GetDeviceInfo(g_hDeviceList, index, &record);
}

void PutDeviceObject(JsonText& text, unsigned index, const st_device_info& record) {
  const DeviceValues values = ExtractDeviceValues(record);
  PutRaw(text, "{\"device\": ");
  PutNumber(text, index + 1LL);
  for (const FieldKeys& keys : kFieldKeys) {
    PutRaw(text, ", \"");
    PutRaw(text, keys.jsonName);
    PutRaw(text, "\": ");
    PutString(text, values.*keys.value);
  }
  PutRaw(text, "}");
}
