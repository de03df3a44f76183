// Device info extraction: [kind byte] then the info text, which may fill all
// 4096 bytes without NUL. Every field stays NUL-terminated within 128 bytes,
// each whole value lies within the record, and the device's JSON object
// fits its bound and is well-formed UTF-8 without a control byte.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cli/json.h"
#include "cli/listing.h"
#include "cli/text.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  st_device_info record;
  std::memset(&record, 0, sizeof record);
  record.kind = data[0] % 2 == 0 ? 4 : data[0];
  const std::size_t length = std::min(size - 1, sizeof record.info);
  std::memcpy(record.info, data + 1, length);
  if (length > 0 && length < sizeof record.info && data[0] & 2) {
    // Repeat the text over the whole record, leaving no NUL.
    for (std::size_t i = length; i < sizeof record.info; ++i)
      record.info[i] = record.info[i % length];
  }
  const DeviceFields fields = ExtractDeviceFields(record);
  for (const auto* field : {&fields.product, &fields.serial, &fields.firmware}) {
    Require(std::memchr(field->data(), '\0', field->size()) != nullptr,
            "field is NUL-terminated within 128 bytes");
  }
  const DeviceValues values = ExtractDeviceValues(record);
  for (std::string_view value : {values.product, values.serial, values.firmware}) {
    Require(value.empty() || (value.data() >= record.info &&
                              value.data() + value.size() <= record.info + sizeof record.info),
            "a whole value lies within the record");
  }
  static char json[kDeviceObjectSize];
  JsonText object = JsonInto(json);
  PutDeviceObject(object, 0, record);
  Require(!object.cut, "the device object fits its bound");
  for (std::string_view rest = JsonWritten(json, object); !rest.empty();) {
    const std::size_t length = Utf8SequenceLength(rest);
    Require(length > 0, "JSON text is well-formed UTF-8");
    Require(rest[0] < 0 ? rest.substr(0, 2) >= "\xC2\xA0" : rest[0] >= 0x20 && rest[0] != 0x7F,
            "JSON text holds no control character");
    rest.remove_prefix(length);
  }

  // SplitDevData with the text's own first bytes as key and delimiter.
  const std::string_view text(record.info, strnlen(record.info, sizeof record.info));
  std::array<char, 16> small{};
  if (text.size() >= 3 && SplitDevData(text, text.substr(0, 2), text.substr(2, 1), small) == 0) {
    Require(std::memchr(small.data(), '\0', small.size()) != nullptr, "value fits its field");
  }
  return 0;
}
