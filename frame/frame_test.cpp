#include "frame/frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string out;
  char pair[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X ", b);
    out += pair;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

void ExpectUnified(const std::string& command, const std::string& hex) {
  std::array<std::uint8_t, 64> dst;
  dst.fill(0xEE);
  std::size_t length = 999;
  packUnifyCommand(dst, command, &length);
  EXPECT_EQ(Hex(std::span(dst).first(length)), hex) << command;
  EXPECT_EQ(dst[length], 0xEE) << command;
}

void ExpectSlave(const std::string& command, const std::string& prefix,
                 const std::string& lengthType, const std::string& suffix, const std::string& hex) {
  std::array<std::uint8_t, 64> dst;
  dst.fill(0xEE);
  std::size_t length = 999;
  packPreSurFullData(command, prefix, suffix, lengthType, dst, &length);
  EXPECT_EQ(Hex(std::span(dst).first(length)), hex)
      << command << " " << prefix << " " << lengthType;
  EXPECT_EQ(dst[length], 0xEE) << command;
}

TEST(UnifiedFrame, WorkedExamplesAndEdges) {
  ExpectUnified("RRDDUR2000", "7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03");
  ExpectUnified("RRDDUR2000;", "7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03");
  ExpectUnified("#ABC;", "7E 01 30 30 30 30 23 41 42 43 3B 03");
  ExpectUnified("@ABC", "7E 01 30 30 30 30 40 41 42 43 3B 03");
  ExpectUnified("", "7E 01 30 30 30 30 40 3B 03");
  ExpectUnified(";", "7E 01 30 30 30 30 40 3B 03");
  ExpectUnified("@;", "7E 01 30 30 30 30 40 3B 03");
  ExpectUnified("#", "7E 01 30 30 30 30 23 3B 03");
  ExpectUnified("AB;;", "7E 01 30 30 30 30 40 41 42 3B 3B 03");
  ExpectUnified("A@#", "7E 01 30 30 30 30 40 41 40 23 3B 03");
}

TEST(UnifiedFrame, DoesNotWritePastTheDestination) {
  std::array<std::uint8_t, 12> dst;
  dst.fill(0xEE);
  std::size_t length = 999;
  packUnifyCommand(std::span(dst).first(11), "ABC", &length);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(dst[0], 0xEE);
  packUnifyCommand(dst, "ABC", &length);
  EXPECT_EQ(length, 12u);
  dst.fill(0xEE);
  packUnifyCommand(dst, "ABC", nullptr);  // the length is optional
  EXPECT_EQ(dst[11], 0x03);
}

TEST(SlaveFrame, WorkedExamplesAndEdges) {
  const std::string frame = "7E 01 30 30 30 30 40 52 52 44 44 55 52 32 30 30 30 3B 03";
  ExpectSlave("RRDDUR2000", "7b3e", "2l", "007d", "7B 3E 00 13 " + frame + " 00 7D");
  ExpectSlave("RRDDUR2000", "7b3e", "2b", "007d", "7B 3E 13 00 " + frame + " 00 7D");
  ExpectSlave("@ABC", "", "1", "", "0C 7E 01 30 30 30 30 40 41 42 43 3B 03");
  ExpectSlave("#AB", "", "1", "", "0B 7E 01 30 30 30 30 23 41 42 3B 03");
  ExpectSlave("ABC;", "", "", "", "7E 01 30 30 30 30 40 41 42 43 3B 3B 03");
  ExpectSlave("A", "7g", "2x", "123", "7E 01 30 30 30 30 40 41 3B 03");
  ExpectSlave("", "ff", "1", "EE", "FF 09 7E 01 30 30 30 30 40 3B 03 EE");
}

TEST(SlaveFrame, LengthFieldWrapsAndNothingIsWrittenWhenItDoesNotFit) {
  std::vector<std::uint8_t> dst(400);
  std::size_t length = 0;
  const std::string command(300, 'C');  // L = 309 = 0x135
  packPreSurFullData(command, "", "", "1", dst, &length);
  EXPECT_EQ(length, 310u);
  EXPECT_EQ(dst[0], 0x35);
  packPreSurFullData(command, "", "", "2l", dst, &length);
  EXPECT_EQ(dst[0], 0x01);
  EXPECT_EQ(dst[1], 0x35);

  // Prefix, length field, the 16-byte unified frame, suffix: 19 bytes.
  std::array<std::uint8_t, 19> small;
  small.fill(0xEE);
  packPreSurFullData("ABCDEFG", "aa", "bb", "1", std::span(small).first(18), &length);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(small[0], 0xEE);
  packPreSurFullData("ABCDEFG", "aa", "bb", "1", small, nullptr);
  EXPECT_EQ(small[0], 0xEE);
  packPreSurFullData("ABCDEFG", "aa", "bb", "1", small, &length);
  EXPECT_EQ(length, 19u);
  EXPECT_EQ(small[18], 0xBB);
}

TEST(StringToHex, DecodesEitherCaseOrFails) {
  struct Case {
    std::string text;
    std::size_t result;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"7B3E", 2, "7B 3E"},
      {"7b3e", 2, "7B 3E"},
      {"7B3e", 2, "7B 3E"},
      {"7g", 0, ""},
      {"7B3", 0, ""},
      {"", 0, ""},
      {"00ff", 2, "00 FF"},
      {"0{", 0, ""},
      {"G0", 0, ""},
      {"\xE1"
       "0",
       0, ""},
  };
  for (const Case& c : cases) {
    std::array<std::uint8_t, 8> out{};
    EXPECT_EQ(StringToHex(c.text, {}), c.result) << c.text;
    ASSERT_EQ(StringToHex(c.text, out), c.result) << c.text;
    EXPECT_EQ(Hex(std::span(out).first(c.result)), c.bytes) << c.text;
  }
  std::array<std::uint8_t, 1> tooSmall{0xEE};
  EXPECT_EQ(StringToHex("1234", tooSmall), 0u);
  EXPECT_EQ(tooSmall[0], 0xEE);
}

}  // namespace
