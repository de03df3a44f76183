#include "frame/exchange.h"

#include <sys/mman.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
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
constexpr long kPauseNanoseconds = 50000;
constexpr std::size_t kPage = 4096;
// Made before the first read: the first piece of a large answer lands in
// pages that exist already, and a small exchange stays small.
constexpr std::size_t kFirstPages = 64 * 1024;
constexpr std::size_t kPagesPerRun = 4;
// Bytes encoded per block written: 192 KiB of text, few writes for 10 MiB.
constexpr std::size_t kBytesPerBlock = std::size_t{64} * 1024;

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
    made += PauseBetweenReads({response + made, wanted > made ? wanted - made : 0});
    count =
        Read(device, buffer + total, static_cast<unsigned>(kBufferSize - total), followUpTimeout);
    if (count < 1) break;
  }
  return static_cast<long>(total);
}

Outcome Exchange(void* device, std::span<const std::uint8_t> request, std::uint8_t* response,
                 unsigned followUpTimeout) {
  printData(0, request);
  Write(device, request.data(), static_cast<unsigned>(request.size()), false);
  if (Interruption() != 0) return Outcome::kFailed;
  const long received = ReadAnswer(device, response, followUpTimeout);
  if (received < 0) {
    // Nothing came, but an interrupt cut the wait: that is no time-out.
    if (Interruption() == 0) std::puts("Response: time out");
    return Outcome::kFailed;
  }
  printData(1, {response, static_cast<std::size_t>(received)});
  return Outcome::kDone;
}

}  // namespace

void MakePages(std::span<std::uint8_t> bytes) {
  if (bytes.empty()) return;
  const auto first = reinterpret_cast<std::uintptr_t>(bytes.data()) & ~(kPage - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(bytes.data() + bytes.size());
#ifdef MADV_POPULATE_WRITE
  // One call for them all where the kernel has it (5.14 and later); it
  // changes no byte, so the page the library has begun to fill may be in.
  if (madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) == 0) return;
#endif
  // Otherwise one write per page, of the zero the page holds anyway, never
  // below `bytes`: what lies there may be the library's.
  *reinterpret_cast<volatile std::uint8_t*>(bytes.data()) = 0;
  for (std::uintptr_t page = first + kPage; page < end; page += kPage) {
    *reinterpret_cast<volatile std::uint8_t*>(page) = 0;
  }
}

std::size_t PauseBetweenReads(std::span<std::uint8_t> ahead) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long deadline = now.tv_sec * 1000000000LL + now.tv_nsec + kPauseNanoseconds;
  const auto elapsed = [&] {
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec >= deadline;
  };
  // A sleep lasts 20 to 80 us more than asked; spinning on the clock keeps
  // the pause at 50 us. Pages are made in runs that take a few us each.
  std::size_t made = 0;
  while (made < ahead.size() && !elapsed()) {
    const std::size_t run = std::min(kPagesPerRun * kPage, ahead.size() - made);
    MakePages(ahead.subspan(made, run));
    made += run;
  }
  while (!elapsed()) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  return made;
}

std::size_t EncodeHexTraceTable(std::span<const std::uint8_t> bytes, char* text) {
  char* at = text;
  for (std::uint8_t b : bytes) {
    std::memcpy(at, kHexTriples[b].data(), 4);
    at += 3;
  }
  return static_cast<std::size_t>(at - text);
}

#if defined(__x86_64__)
// 16 bytes at a time: the digits of each half-byte by table look-up in a
// register (pshufb), interleaved, then spread into three 16-byte stores
// with the spaces put in between.
__attribute__((target("ssse3"))) std::size_t EncodeHexTraceSsse3(
    std::span<const std::uint8_t> bytes, char* text) {
  const __m128i digits =
      _mm_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F');
  const __m128i lowHalf = _mm_set1_epi8(0x0F);
  // Where each output character comes from among the 32 interleaved digits
  // (H0 L0 H1 L1 ... in `a`, H8 L8 ... in `b`); -1 leaves a zero for a space.
  const __m128i first = _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10);
  const __m128i secondA =
      _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i secondB = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, -1, 2, 3, -1, 4, 5);
  const __m128i third = _mm_setr_epi8(-1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12, 13, -1, 14, 15, -1);
  const __m128i firstSpaces =
      _mm_setr_epi8(0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0);
  const __m128i secondSpaces =
      _mm_setr_epi8(0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0);
  const __m128i thirdSpaces =
      _mm_setr_epi8(' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ');
  std::size_t i = 0;
  char* at = text;
  for (; i + 16 <= bytes.size(); i += 16, at += 48) {
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i));
    const __m128i high = _mm_shuffle_epi8(digits, _mm_and_si128(_mm_srli_epi16(in, 4), lowHalf));
    const __m128i low = _mm_shuffle_epi8(digits, _mm_and_si128(in, lowHalf));
    const __m128i a = _mm_unpacklo_epi8(high, low);
    const __m128i b = _mm_unpackhi_epi8(high, low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                     _mm_or_si128(_mm_shuffle_epi8(a, first), firstSpaces));
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(at + 16),
        _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, secondA), _mm_shuffle_epi8(b, secondB)),
                     secondSpaces));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 32),
                     _mm_or_si128(_mm_shuffle_epi8(b, third), thirdSpaces));
  }
  return static_cast<std::size_t>(at - text) + EncodeHexTraceTable(bytes.subspan(i), at);
}

// The same, 32 bytes at a time: each 128-bit lane encodes 16 bytes as
// above, and the lanes' three pieces are put in order as they are stored.
__attribute__((target("avx2"))) std::size_t EncodeHexTraceAvx2(std::span<const std::uint8_t> bytes,
                                                               char* text) {
  const __m256i digits = _mm256_broadcastsi128_si256(_mm_setr_epi8(
      '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'));
  const __m256i lowHalf = _mm256_set1_epi8(0x0F);
  const __m256i first = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10));
  const __m256i secondA = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  const __m256i secondB = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, -1, 2, 3, -1, 4, 5));
  const __m256i third = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(-1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12, 13, -1, 14, 15, -1));
  const __m256i firstSpaces = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0));
  const __m256i secondSpaces = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0));
  const __m256i thirdSpaces = _mm256_broadcastsi128_si256(
      _mm_setr_epi8(' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' '));
  std::size_t i = 0;
  char* at = text;
  for (; i + 32 <= bytes.size(); i += 32, at += 96) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes.data() + i));
    const __m256i high =
        _mm256_shuffle_epi8(digits, _mm256_and_si256(_mm256_srli_epi16(in, 4), lowHalf));
    const __m256i low = _mm256_shuffle_epi8(digits, _mm256_and_si256(in, lowHalf));
    const __m256i a = _mm256_unpacklo_epi8(high, low);
    const __m256i b = _mm256_unpackhi_epi8(high, low);
    const __m256i one = _mm256_or_si256(_mm256_shuffle_epi8(a, first), firstSpaces);
    const __m256i two = _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(a, secondA), _mm256_shuffle_epi8(b, secondB)),
        secondSpaces);
    const __m256i three = _mm256_or_si256(_mm256_shuffle_epi8(b, third), thirdSpaces);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), _mm256_permute2x128_si256(one, two, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + 32),
                        _mm256_permute2x128_si256(three, one, 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at + 64),
                        _mm256_permute2x128_si256(two, three, 0x31));
  }
  return static_cast<std::size_t>(at - text) + EncodeHexTraceSsse3(bytes.subspan(i), at);
}
#endif

std::size_t EncodeHexTrace(std::span<const std::uint8_t> bytes, char* text) {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("avx2")) return EncodeHexTraceAvx2(bytes, text);
  if (__builtin_cpu_supports("ssse3")) return EncodeHexTraceSsse3(bytes, text);
#endif
  return EncodeHexTraceTable(bytes, text);
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

Outcome HandleExecute(void* device, int argc, char** argv) {
  if (argc <= 2) {
    std::puts("No execute command");
    return Outcome::kRefused;
  }
  if (std::string_view(argv[argc - 1]) == "IMGGET") {
    std::puts("Get picture use [--Gpic]");
    return Outcome::kRefused;
  }
  std::optional<SlaveOptions> options;
  const bool slave = std::string_view(argv[2]) == "--custom";
  if (slave) {
    options = ParseSlaveOptions(argc, argv);
    if (!options) return Outcome::kRefused;
    std::printf("prefix=%s, surfix=%s, lenType=%s\n", options->prefix, options->suffix,
                options->lengthType);
  }
  const Buffer request = AllocateExchangeBuffer();
  const Buffer response = AllocateExchangeBuffer();
  if (!request || !response) {
    std::puts("Not enough memory for the exchange");
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
    std::puts("The command is too long");
    return Outcome::kRefused;
  }
  return Exchange(device, requestSpace.first(length), response.get(),
                  slave ? kSlaveFollowUpTimeout : kPlainFollowUpTimeout);
}
