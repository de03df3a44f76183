#include "frame/exchange.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "devlib/buffers.h"
#include "devlib/interrupts.h"
#include "devlib/streams.h"
#include "devlib/wrappers.h"
#include "frame/exchange_internal.h"
#include "frame/frame.h"
#include "frame/slave_options.h"
#include "settings/settings.h"

namespace {

constexpr std::size_t kBufferSize = 0xA00000;  // 10 MiB per direction
constexpr unsigned kPlainFollowUpTimeout = 200;
constexpr unsigned kSlaveFollowUpTimeout = 100;
constexpr useconds_t kPauseMicroseconds = 50;
// Bytes encoded per block written: 48 KiB of text, few writes for 10 MiB.
constexpr std::size_t kBytesPerBlock = std::size_t{16} * 1024;

// "XX " for every byte value, padded to 4 bytes: each byte is encoded by one
// 4-byte store, whose last byte the next store overwrites.
constexpr std::array<std::array<char, 4>, 256> kHexTriples = [] {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<std::array<char, 4>, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = {kDigits[b >> 4], kDigits[b & 15], ' ', ' '};
  return table;
}();

using Buffer = CallocBuffer<std::uint8_t>;

// calloc hands out fresh zero pages for blocks this large: an exchange
// touches only the pages it uses.
Buffer AllocateExchangeBuffer() {
  return Buffer(static_cast<std::uint8_t*>(std::calloc(kBufferSize, 1)));
}

// Gathers the answer into `response`; returns the bytes received, or -1
// when nothing came within the first time-out. An interrupt ends the loop
// when the pending read returns; what came until then counts.
long ReadAnswer(void* device, std::uint8_t* response, unsigned followUpTimeout) {
  const std::int32_t setting = getReadTimeout();
  char* buffer = reinterpret_cast<char*>(response);
  int count = Read(device, buffer, kBufferSize, static_cast<unsigned>(setting));
  if (count < 1) return -1;
  const int previousSlack = LowerTimerSlack();
  std::size_t total = 0;
  for (;;) {
    // A library claiming more than it was offered gets only the space.
    total += std::min(static_cast<std::size_t>(count), kBufferSize - total);
    if (total >= kBufferSize || Interruption() != 0) break;
    PauseBetweenReads();
    count =
        Read(device, buffer + total, static_cast<unsigned>(kBufferSize - total), followUpTimeout);
    if (count < 1) break;
  }
  RestoreTimerSlack(previousSlack);
  return static_cast<long>(total);
}

void Exchange(void* device, std::span<const std::uint8_t> request, std::uint8_t* response,
              unsigned followUpTimeout) {
  printData(0, request);
  Write(device, request.data(), static_cast<unsigned>(request.size()), false);
  if (Interruption() != 0) return;
  const long received = ReadAnswer(device, response, followUpTimeout);
  if (received < 0) {
    // Nothing came, but an interrupt cut the wait: that is no time-out.
    if (Interruption() == 0) std::puts("Response: time out");
    return;
  }
  printData(1, {response, static_cast<std::size_t>(received)});
}

}  // namespace

int LowerTimerSlack() {
  const int previous = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
  return previous;
}

void RestoreTimerSlack(int previous) {
  if (previous > 0) prctl(PR_SET_TIMERSLACK, previous, 0, 0, 0);
}

void PauseBetweenReads() { usleep(kPauseMicroseconds); }

std::size_t EncodeHexTrace(std::span<const std::uint8_t> bytes, char* text) {
  char* at = text;
  for (std::uint8_t b : bytes) {
    std::memcpy(at, kHexTriples[b].data(), 4);
    at += 3;
  }
  return static_cast<std::size_t>(at - text);
}

void printData(int direction, std::span<const std::uint8_t> bytes, std::FILE* out) {
  if (std::ferror(out) != 0) return;  // the reader went away, or the disk is full
  std::fputs(direction == 0 ? "Request:" : "Response:", out);
  std::array<char, kBytesPerBlock * 3 + 1> block;
  for (;;) {
    const auto piece = bytes.first(std::min(bytes.size(), kBytesPerBlock));
    bytes = bytes.subspan(piece.size());
    std::size_t length = EncodeHexTrace(piece, block.data());
    if (bytes.empty()) block[length++] = '\n';
    if (std::fwrite(block.data(), 1, length, out) != length) {
      NoteOutputFailure(out, errno);
      return;
    }
    if (bytes.empty()) return;
  }
}

void HandleExecute(void* device, int argc, char** argv) {
  if (argc <= 2) {
    std::puts("No execute command");
    return;
  }
  if (std::string_view(argv[argc - 1]) == "IMGGET") {
    std::puts("Get picture use [--Gpic]");
    return;
  }
  std::optional<SlaveOptions> options;
  const bool slave = std::string_view(argv[2]) == "--custom";
  if (slave) {
    options = ParseSlaveOptions(argc, argv);
    if (!options) return;
    std::printf("prefix=%s, surfix=%s, lenType=%s\n", options->prefix, options->suffix,
                options->lengthType);
  }
  const Buffer request = AllocateExchangeBuffer();
  const Buffer response = AllocateExchangeBuffer();
  if (!request || !response) {
    std::puts("Not enough memory for the exchange");
    return;
  }
  const std::span<std::uint8_t> requestSpace(request.get(), kBufferSize);
  std::size_t length = 0;
  if (slave) {
    packPreSurFullData(options->payload, options->prefix, options->suffix, options->lengthType,
                       requestSpace, &length);
  } else {
    packUnifyCommand(requestSpace, argv[2], &length);
  }
  if (length == 0) {  // only a command larger than the buffer gets here
    std::puts("The command is too long");
    return;
  }
  Exchange(device, requestSpace.first(length), response.get(),
           slave ? kSlaveFollowUpTimeout : kPlainFollowUpTimeout);
}
