#include "frame/trace.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "process/streams.h"

namespace {

// Bytes encoded per block written: 192 KiB of text, few writes for 10 MiB.
constexpr std::size_t kBytesPerBlock = kTraceBytesPerBlock;

// Hands `text` to `out`, after what the stream holds. Straight to its file
// where it has one: one system call, where the stream makes two for a large
// block (it fills its own buffer first). What the system does not take the
// stream writes, so that a failure is noted in it (ferror) as always.
bool WriteText(std::FILE* out, std::string_view text) {
  const int fd = fileno(out);
  if (fd >= 0 && (__fpending(out) == 0 || std::fflush(out) == 0)) {
    while (!text.empty()) {
      const ssize_t written = write(fd, text.data(), text.size());
      if (written <= 0) break;
      text.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  return text.empty() || std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

// "XX " for every byte value, padded to 4 bytes: each byte is encoded by one
// 4-byte store, whose last byte the next store overwrites.
constexpr std::array<std::array<char, 4>, 256> kHexTriples = [] {
  constexpr char kDigits[] = "0123456789ABCDEF";
  std::array<std::array<char, 4>, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = {kDigits[b >> 4], kDigits[b & 15], ' ', ' '};
  return table;
}();

#if defined(__x86_64__)
// The vector encoders' constants, 16 bytes each; the 32-byte encoder uses
// each in both of its lanes. A piece of 16 bytes becomes 32 digits,
// interleaved (H0 L0 H1 L1 ... in `a`, H8 L8 ... in `b`); the shuffles say
// where each of the 48 output characters comes from, -1 leaving a zero
// that the spaces fill.
enum Pattern {
  kDigits,
  kFirst,
  kSecondA,
  kSecondB,
  kThird,
  kFirstSpaces,
  kSecondSpaces,
  kThirdSpaces
};
alignas(16) constexpr std::int8_t kPatterns[][16] = {
    {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'},
    {0, 1, -1, 2, 3, -1, 4, 5, -1, 6, 7, -1, 8, 9, -1, 10},
    {11, -1, 12, 13, -1, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, -1, 2, 3, -1, 4, 5},
    {-1, 6, 7, -1, 8, 9, -1, 10, 11, -1, 12, 13, -1, 14, 15, -1},
    {0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0},
    {0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0},
    {' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' ', 0, 0, ' '},
};

__attribute__((target("ssse3"))) __m128i Load128(Pattern pattern) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(kPatterns[pattern]));
}

__attribute__((target("avx2"))) __m256i Load256(Pattern pattern) {
  return _mm256_broadcastsi128_si256(Load128(pattern));
}
#endif

}  // namespace

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
// with the spaces put in between (kPatterns).
__attribute__((target("ssse3"))) std::size_t EncodeHexTraceSsse3(
    std::span<const std::uint8_t> bytes, char* text) {
  const __m128i digits = Load128(kDigits);
  const __m128i lowHalf = _mm_set1_epi8(0x0F);
  const __m128i first = Load128(kFirst);
  const __m128i secondA = Load128(kSecondA);
  const __m128i secondB = Load128(kSecondB);
  const __m128i third = Load128(kThird);
  const __m128i firstSpaces = Load128(kFirstSpaces);
  const __m128i secondSpaces = Load128(kSecondSpaces);
  const __m128i thirdSpaces = Load128(kThirdSpaces);
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
  const __m256i digits = Load256(kDigits);
  const __m256i lowHalf = _mm256_set1_epi8(0x0F);
  const __m256i first = Load256(kFirst);
  const __m256i secondA = Load256(kSecondA);
  const __m256i secondB = Load256(kSecondB);
  const __m256i third = Load256(kThird);
  const __m256i firstSpaces = Load256(kFirstSpaces);
  const __m256i secondSpaces = Load256(kSecondSpaces);
  const __m256i thirdSpaces = Load256(kThirdSpaces);
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
  alignas(64) std::array<char, kTraceRoom> room;
  printData(direction, bytes, out, room);
}

void printData(int direction, std::span<const std::uint8_t> bytes, std::FILE* out,
               std::span<char> room) {
  if (room.size() < kTraceRoom) return printData(direction, bytes, out);
  if (std::ferror(out) != 0) return;  // the reader went away, or the disk is full
  const std::string_view lead = direction == 0 ? "Request:" : "Response:";
  // Every block's text starts on a 64-byte boundary, so that no store of the
  // vector encoders straddles two cache lines; the first has the lead before it.
  const auto base = reinterpret_cast<std::uintptr_t>(room.data());
  char* const text = room.data() + (((base + 16 + 63) & ~std::uintptr_t{63}) - base);
  char* start = text - lead.size();
  std::memcpy(start, lead.data(), lead.size());
  for (;;) {
    const auto piece = bytes.first(std::min(bytes.size(), kBytesPerBlock));
    bytes = bytes.subspan(piece.size());
    char* end = text + EncodeHexTrace(piece, text);
    if (bytes.empty()) *end++ = '\n';
    if (!WriteText(out, {start, static_cast<std::size_t>(end - start)})) {
      NoteOutputFailure(out, errno);
      return;
    }
    if (bytes.empty()) return;
    start = text;
  }
}
