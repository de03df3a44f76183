#include "frame/trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Printed(int direction, const std::vector<std::uint8_t>& bytes) {
  char* text = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&text, &size);
  printData(direction, bytes, out);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

std::string Reference(int direction, const std::vector<std::uint8_t>& bytes) {
  std::string out = direction == 0 ? "Request:" : "Response:";
  char triple[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(triple, sizeof triple, "%02X ", b);
    out += triple;
  }
  return out + "\n";
}

TEST(PrintData, MatchesThePlainFormatAtEverySize) {
  EXPECT_EQ(Printed(0, {0x06, 0x0D}), "Request:06 0D \n");
  EXPECT_EQ(Printed(1, {}), "Response:\n");
  EXPECT_EQ(Printed(-5, {0xFF}), "Response:FF \n");
  // Sizes around the block the encoder writes at once.
  for (std::size_t size : {1u, 255u, 16383u, 16384u, 16385u, 32768u, 50000u}) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    EXPECT_EQ(Printed(size % 2, bytes), Reference(size % 2, bytes)) << size;
  }
}

// The vector encoders write what the table encoder writes, for every byte
// value, at every offset within a 32-byte block, and on random data.
TEST(EncodeHexTrace, VectorAndTableEncodersAgree) {
#if defined(__x86_64__)
  if (!__builtin_cpu_supports("ssse3")) GTEST_SKIP() << "no SSSE3 on this processor";
  std::vector<std::uint8_t> bytes(256 + 4096 + 33);
  for (std::size_t i = 0; i < 256; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  std::mt19937 random(20261208);
  for (std::size_t i = 256; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(random());
  for (std::size_t offset = 0; offset < 33; ++offset) {
    const std::span<const std::uint8_t> input(bytes.data() + offset, bytes.size() - offset);
    std::string table(input.size() * 3 + 1, '?');
    EXPECT_EQ(EncodeHexTraceTable(input, table.data()), input.size() * 3);
    table.resize(input.size() * 3);
    for (const bool avx2 : {false, true}) {
      if (avx2 && !__builtin_cpu_supports("avx2")) continue;
      std::string vector(input.size() * 3 + 1, '?');
      EXPECT_EQ((avx2 ? EncodeHexTraceAvx2 : EncodeHexTraceSsse3)(input, vector.data()),
                input.size() * 3);
      vector.resize(input.size() * 3);
      ASSERT_EQ(vector, table) << offset << (avx2 ? " avx2" : " ssse3");
    }
  }
#else
  GTEST_SKIP() << "no vector encoder on this processor";
#endif
}

}  // namespace
