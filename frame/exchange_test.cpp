#include "frame/exchange.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

}  // namespace
