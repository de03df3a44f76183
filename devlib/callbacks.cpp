#include "devlib/callbacks.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "devlib/wrappers.h"

static_assert(std::is_same_v<decltype(&TcpServiceBack), TcpServiceCallback>);
static_assert(std::is_same_v<decltype(&ReadCallback), ListenerCallback>);
static_assert(std::is_same_v<decltype(&DevStatChangeCallback), DevStatusCallback>);

namespace {
constexpr int kReadTimeout = 2000;
constexpr useconds_t kPauseMicroseconds = 500;
}  // namespace

void ServeTcpOnce(int connection, std::span<char> buffer, int* length, SocketReader read) {
  if (read(connection, kReadTimeout, buffer.data(), length) != 0) return;
  // The library may fill the whole buffer and leave no NUL.
  std::printf("TcpServiceBack buf=%.*s\n", static_cast<int>(strnlen(buffer.data(), buffer.size())),
              buffer.data());
  std::memset(buffer.data(), 0, buffer.size());
}

void TcpServiceBack(int connection, const char* clientAddress) {
  std::printf("clientIp=%s\n", clientAddress);
  char buffer[4096] = {};
  int length = sizeof buffer;
  for (;;) {
    ServeTcpOnce(connection, buffer, &length, ReadFromSocket);
    usleep(kPauseMicroseconds);
  }
}

void ReadCallback(void* /*handle*/, const char* /*text*/, int /*length*/) {}

void DevStatChangeCallback(void* device, bool arrived) {
  std::printf(arrived ? "hDevice=%p, device is pushed in\n" : "hDevice=%p, device is pushed out\n",
              device);
}
