#include "devlib/callbacks.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "devlib/loader.h"
#include "devlib/wrappers.h"

namespace {

int FailingRead(int, int, char*, int*) { return -1; }

int FullRead(int, int, char* buffer, int* length) {
  std::memset(buffer, 'A', static_cast<std::size_t>(*length));  // no NUL left
  return 0;
}

TEST(Callbacks, DeviceStatusLines) {
  int token = 0;
  testing::internal::CaptureStdout();
  DevStatChangeCallback(&token, true);
  DevStatChangeCallback(nullptr, false);
  char expected[128];
  std::snprintf(expected, sizeof expected,
                "hDevice=%p, device is pushed in\nhDevice=%p, device is pushed out\n",
                static_cast<void*>(&token), static_cast<void*>(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
}

TEST(Callbacks, TcpServiceRead) {
  std::array<char, 4096> buffer{};
  std::strcpy(buffer.data(), "old");
  int length = 4096;
  testing::internal::CaptureStdout();
  ServeTcpOnce(3, buffer, &length, FailingRead);
  ServeTcpOnce(3, buffer, &length, ReadFromSocket);  // library not loaded: -1
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_STREQ(buffer.data(), "old");

  // A full buffer without NUL prints its 4096 bytes and nothing beyond.
  testing::internal::CaptureStdout();
  ServeTcpOnce(3, buffer, &length, FullRead);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "TcpServiceBack buf=" + std::string(4096, 'A') + "\n");
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[4095], '\0');
}

}  // namespace
