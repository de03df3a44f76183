// Listing the attached devices: their values, the text and JSON listings,
// the menu.
#pragma once

#include <array>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

#include "cli/json.h"
#include "devlib/contract.h"

// Printable values of one device, each NUL-terminated within its field
// (empty when the info text does not give it).
struct DeviceFields {
  std::array<char, 128> product{};
  std::array<char, 128> serial{};
  std::array<char, 128> firmware{};
};

// The value that follows the first `key` in `text`, up to the first
// `delimiter` after it, without surrounding blanks (space, tab, CR, LF); a
// view into `text`. nullopt when the key or the delimiter after it is
// missing.
std::optional<std::string_view> FindDevData(std::string_view text, std::string_view key,
                                            std::string_view delimiter);

// Stores FindDevData's value in `out`, cut to out.size() - 1 characters
// and NUL-terminated. Returns 0 when a value was stored; -1, leaving `out`
// unchanged, when out is empty or there is no value.
int SplitDevData(std::string_view text, std::string_view key, std::string_view delimiter,
                 std::span<char> out);

// The three values of a record, whole, as views into it (empty when the
// info text does not give one): kind code 4 means "Key=value;" items, any
// other "Key: value" lines. An info text without NUL counts as 4096 bytes.
struct DeviceValues {
  std::string_view product, serial, firmware;
};
DeviceValues ExtractDeviceValues(const st_device_info& record);

// The same values cut to 127 characters, as the listing and the menu show
// them.
DeviceFields ExtractDeviceFields(const st_device_info& record);

// At most this many devices are listed or offered as text: a library
// reporting billions would fill screens for hours. The JSON listing and
// the choice by serial number read every device, one at a time.
constexpr unsigned kMaxShownDevices = 1024;

// Prints one block per device of g_hDeviceList.
void ShowDevice();

// Prints every device of g_hDeviceList, with its whole values, as one JSON
// array of objects {"device": N, "product": ..., "serial": ...,
// "firmware": ...} in device order, N one-based, and a line feed.
// Interrupted, it leaves the array unclosed, so that no reader takes part
// of the list for all of it.
void ShowDevicesAsJson();

// Prints the menu, a line per device (at most kMaxShownDevices), and
// returns how many it offers.
unsigned ShowDeviceMenu();

// Asks the library for the record of device `index` of g_hDeviceList into
// `record`, zero-filled first (and so when the call fails).
void ReadDeviceRecord(unsigned index, st_device_info& record);

// The JSON object of device `index` (zero-based) with its whole values:
// {"device": N, "product": ..., "serial": ..., "firmware": ...}, N
// one-based. At most kDeviceObjectSize characters.
void PutDeviceObject(JsonText& text, unsigned index, const st_device_info& record);
constexpr std::size_t kDeviceObjectSize = 3 * JsonStringBound(sizeof st_device_info{}.info) + 128;
