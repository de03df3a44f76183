#include "cli/listing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct SplitCase {
  std::string text, key, delimiter;
  int result;
  std::string value;
};

TEST(SplitDevData, FindsTheValueAfterTheFirstKey) {
  const std::vector<SplitCase> cases = {
      {"Product Name: X1\r\nSerial Number: 1\r\n", "Product Name:", "\n", 0, "X1"},
      {"Product Name=X1;Serial Number=123;", "Serial Number=", ";", 0, "123"},
      {"Firmware Version=2.0", "Firmware Version=", ";", -1, "unchanged"},
      {"Serial Number:   \n", "Serial Number:", "\n", 0, ""},
      {"Serial Number:\n", "Serial Number:", "\n", 0, ""},
      {"A: one\nA: two\n", "A:", "\n", 0, "one"},
      {"xxA:\t v a l \r\n", "A:", "\n", 0, "v a l"},
      {"no key here\n", "A:", "\n", -1, "unchanged"},
      {"A:value", "A:", "::", -1, "unchanged"},
      {"A:va::lue", "A:", "::", 0, "va"},
      {"", "", "\n", -1, "unchanged"},
      {std::string(300, 'x') + "K=" + std::string(200, 'v') + ";", "K=", ";", 0,
       std::string(127, 'v')},
  };
  for (const SplitCase& c : cases) {
    std::array<char, 128> out{};
    std::strcpy(out.data(), "unchanged");
    EXPECT_EQ(SplitDevData(c.text, c.key, c.delimiter, out), c.result) << c.text;
    EXPECT_EQ(std::string(out.data()), c.value) << c.text;
  }
  EXPECT_EQ(SplitDevData("A:1\n", "A:", "\n", {}), -1);
}

st_device_info Record(const std::string& text, int kind) {
  st_device_info record{};
  std::memcpy(record.info, text.data(), std::min(text.size(), sizeof record.info));
  record.kind = kind;
  return record;
}

TEST(ExtractDeviceFields, ChoosesTheLayoutByKind) {
  struct Case {
    std::string text;
    int kind;
    std::string product, serial, firmware;
  };
  const std::vector<Case> cases = {
      {"Product Name: X1\r\nSerial Number: 123\r\nFirmware Version: 2.0\r\n", 0, "X1", "123",
       "2.0"},
      {"Product Name=X1;Serial Number=123;Firmware Version=2.0", 4, "X1", "123", ""},
      {"Product Name=X1;Serial Number=123;", 5, "", "", ""},
      {"Product Name: X1\nSerial Number=9;", 4, "", "9", ""},
      {"Product Name: X1\n", -1, "X1", "", ""},
  };
  for (const Case& c : cases) {
    const DeviceFields fields = ExtractDeviceFields(Record(c.text, c.kind));
    EXPECT_EQ(std::string(fields.product.data()), c.product) << c.text;
    EXPECT_EQ(std::string(fields.serial.data()), c.serial) << c.text;
    EXPECT_EQ(std::string(fields.firmware.data()), c.firmware) << c.text;
  }
}

TEST(ExtractDeviceFields, InfoWithoutNulIsTakenAs4096Bytes) {
  std::string text(4096, 'y');
  const std::string tail = "Serial Number=abc;";
  text.replace(4096 - tail.size(), tail.size(), tail);
  const DeviceFields fields = ExtractDeviceFields(Record(text, 4));
  EXPECT_STREQ(fields.serial.data(), "abc");
}

}  // namespace
