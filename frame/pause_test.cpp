#include "frame/pause.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

// Pages are made for what the next read may fill; what the library put in
// the same page before it stays as it was.
TEST(ReadLoop, MakingPagesChangesNoByte) {
  const std::size_t size = 64 * 1024;
  auto* buffer = static_cast<std::uint8_t*>(std::calloc(size, 1));
  ASSERT_NE(buffer, nullptr);
  std::memset(buffer, 0xAB, 5000);
  MakePages({buffer + 5000, 20000});
  EXPECT_LE(PauseBetweenReads({buffer + 25000, 30000}), 30000u);
  for (std::size_t i = 0; i < size; ++i) {
    ASSERT_EQ(buffer[i], i < 5000 ? 0xAB : 0) << i;
  }
  std::free(buffer);
}

// Never shorter than the 50 us the device is given between two reads.
TEST(ReadLoop, PauseLastsAtLeastFiftyMicroseconds) {
  for (int i = 0; i < 20; ++i) {
    const auto start = std::chrono::steady_clock::now();
    PauseBetweenReads({});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(50));
  }
}

}  // namespace
