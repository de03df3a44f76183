#include "frame/exchange.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "devlib/buffers.h"
#include "devlib/wrappers.h"
#include "frame/frame.h"
#include "frame/pause.h"
#include "frame/slave_options.h"
#include "frame/trace.h"
#include "process/interrupts.h"
#include "process/outcome.h"
#include "settings/settings.h"

namespace {

constexpr std::size_t kBufferSize = 0xA00000;  // 10 MiB per direction
constexpr unsigned kPlainFollowUpTimeout = 200;
constexpr unsigned kSlaveFollowUpTimeout = 100;
// Made before the first read: the first piece of a large answer lands in
// pages that exist already, and a small exchange stays small.
constexpr std::size_t kFirstPages = 64 * 1024;

using Buffer = CallocBuffer<std::uint8_t>;

// calloc hands out fresh zero pages for blocks this large: an exchange
// touches only the pages it uses.
Buffer AllocateExchangeBuffer() {
  return Buffer(static_cast<std::uint8_t*>(std::calloc(kBufferSize, 1)));
}

// Gathers the answer into `response`; returns the bytes received, or -1
// when nothing came within the first time-out. An interrupt ends the loop
// when the pending read returns; what came until then counts.
long ReadAnswer(void* device, std::uint8_t* response, unsigned followUpTimeout,
                std::span<std::uint8_t> spare) {
  const std::int32_t setting = getReadTimeout();
  char* buffer = reinterpret_cast<char*>(response);
  int count = Read(device, buffer, kBufferSize, static_cast<unsigned>(setting));
  if (count < 1) return -1;
  std::size_t total = 0;
  std::size_t made = kFirstPages;  // the pages below exist
  for (;;) {
    // A library claiming more than it was offered gets only the space.
    const std::size_t piece = std::min(static_cast<std::size_t>(count), kBufferSize - total);
    total += piece;
    if (total >= kBufferSize || Interruption() != 0) break;
    // The next piece is likely as large as this one: its pages are made
    // during the pause, not by the library's read.
    made = std::max(made, total);
    const std::size_t wanted = std::min(kBufferSize, total + piece);
    made += PauseBetweenReads({response + made, wanted > made ? wanted - made : 0}, &spare);
    count =
        Read(device, buffer + total, static_cast<unsigned>(kBufferSize - total), followUpTimeout);
    if (count < 1) break;
  }
  return static_cast<long>(total);
}

// `room` is lent to the trace of the answer (kTraceRoom bytes, or none):
// the pauses between reads make its pages while they have time to spare.
Outcome Exchange(void* device, std::span<const std::uint8_t> request, std::uint8_t* response,
                 unsigned followUpTimeout, std::span<char> room) {
  const bool json = ReportsAsJson();  // the result line carries both directions
  if (json) room = {};                // no trace, whose room the pauses would make
  if (!json) printData(0, request);
  NoteRequest(request);
  Write(device, request.data(), static_cast<unsigned>(request.size()), false);
  if (Interruption() != 0) return Outcome::kFailed;
  const long received = ReadAnswer(device, response, followUpTimeout,
                                   {reinterpret_cast<std::uint8_t*>(room.data()), room.size()});
  if (received < 0) {
    // Nothing came, but an interrupt cut the wait: that is no time-out.
    if (Interruption() == 0) SayOutcome("Response: time out");
    return Outcome::kFailed;
  }
  const std::span<const std::uint8_t> answer(response, static_cast<std::size_t>(received));
  NoteResponse(answer);
  if (!json) printData(1, answer, stdout, room);
  return Outcome::kDone;
}

}  // namespace

Outcome HandleExecute(void* device, int argc, char** argv) {
  if (argc <= 2) {
    SayOutcome("No execute command");
    return Outcome::kRefused;
  }
  if (std::string_view(argv[argc - 1]) == "IMGGET") {
    SayOutcome("Get picture use [--Gpic]");
    return Outcome::kRefused;
  }
  std::optional<SlaveOptions> options;
  const bool slave = std::string_view(argv[2]) == "--custom";
  if (slave) {
    options = ParseSlaveOptions(argc, argv);
    if (!options) return Outcome::kRefused;
    if (!ReportsAsJson()) {
      std::printf("prefix=%s, surfix=%s, lenType=%s\n", options->prefix, options->suffix,
                  options->lengthType);
    }
  }
  const Buffer request = AllocateExchangeBuffer();
  const Buffer response = AllocateExchangeBuffer();
  if (!request || !response) {
    SayOutcome("Not enough memory for the exchange");
    return Outcome::kFailed;
  }
  MakePages({response.get(), kFirstPages});
  const std::span<std::uint8_t> requestSpace(request.get(), kBufferSize);
  std::size_t length = 0;
  if (slave) {
    packPreSurFullData(options->payload, options->prefix, options->suffix, options->lengthType,
                       requestSpace, &length);
  } else {
    packUnifyCommand(requestSpace, argv[2], &length);
  }
  if (length == 0) {  // only a command larger than the buffer gets here
    SayOutcome("The command is too long");
    return Outcome::kRefused;
  }
  // The end of the request buffer is free but for a very long command: the
  // answer's trace is made there.
  const std::span<char> room =
      length <= kBufferSize - kTraceRoom
          ? std::span<char>(reinterpret_cast<char*>(request.get() + kBufferSize - kTraceRoom),
                            kTraceRoom)
          : std::span<char>();
  return Exchange(device, requestSpace.first(length), response.get(),
                  slave ? kSlaveFollowUpTimeout : kPlainFollowUpTimeout, room);
}
