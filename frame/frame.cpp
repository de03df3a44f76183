#include "frame/frame.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::uint8_t, 7> kHeader = {0x7E, 0x01, 0x30, 0x30, 0x30, 0x30, 0x40};
constexpr std::array<std::uint8_t, 2> kTrailer = {0x3B, 0x03};
constexpr std::size_t kMarkerOffset = 6;

constexpr bool IsMarker(std::string_view command) {
  return !command.empty() && (command[0] == '@' || command[0] == '#');
}

// Value of each byte as a hex digit, or -1.
constexpr std::array<std::int8_t, 256> kHexValue = [] {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) {
    table[c] = static_cast<std::int8_t>(c - 'A' + 10);
    table[c + 0x20] = static_cast<std::int8_t>(c - 'A' + 10);
  }
  return table;
}();

std::uint8_t* Append(std::uint8_t* at, std::span<const std::uint8_t> bytes) {
  return std::copy(bytes.begin(), bytes.end(), at);
}

}  // namespace

std::size_t StringToHex(std::string_view text, std::span<std::uint8_t> out) {
  if (text.size() % 2 != 0) return 0;
  const std::size_t count = text.size() / 2;
  if (out.data() != nullptr && out.size() < count) return 0;
  for (char c : text) {
    if (kHexValue[static_cast<unsigned char>(c)] < 0) return 0;
  }
  if (out.data() != nullptr) {
    for (std::size_t i = 0; i < count; ++i) {
      out[i] = static_cast<std::uint8_t>(kHexValue[static_cast<unsigned char>(text[2 * i])] << 4 |
                                         kHexValue[static_cast<unsigned char>(text[2 * i + 1])]);
    }
  }
  return count;
}

void packUnifyCommand(std::span<std::uint8_t> dst, std::string_view command,
                      std::size_t* outLength) {
  if (!command.empty() && command.back() == ';') command.remove_suffix(1);
  std::uint8_t marker = kHeader[kMarkerOffset];
  if (IsMarker(command)) {
    marker = static_cast<std::uint8_t>(command[0]);
    command.remove_prefix(1);
  }
  const std::size_t length = command.size() + kHeader.size() + kTrailer.size();
  const bool fits = length <= dst.size();
  if (outLength != nullptr) *outLength = fits ? length : 0;
  if (!fits) return;
  std::uint8_t* at = Append(dst.data(), kHeader);
  at[-1] = marker;
  at = std::copy(command.begin(), command.end(), at);
  Append(at, kTrailer);
}

void packPreSurFullData(std::string_view command, std::string_view prefix, std::string_view suffix,
                        std::string_view lengthType, std::span<std::uint8_t> dst,
                        std::size_t* outLength) {
  if (outLength == nullptr) return;
  *outLength = 0;
  const std::size_t prefixBytes = StringToHex(prefix, {});
  const std::size_t suffixBytes = StringToHex(suffix, {});
  const bool marker = IsMarker(command);
  // The unified portion: header (whose marker a '@'/'#' command supplies
  // itself), the command bytes, the trailer.
  const std::size_t unified = kHeader.size() - (marker ? 1 : 0) + command.size() + kTrailer.size();
  const std::size_t field = lengthType == "1"                          ? 1
                            : lengthType == "2l" || lengthType == "2b" ? 2
                                                                       : 0;
  const std::size_t total = prefixBytes + field + unified + suffixBytes;
  if (total > dst.size()) return;

  std::uint8_t* at = dst.data();
  at += StringToHex(prefix, dst.subspan(0, prefixBytes));
  const auto low = static_cast<std::uint8_t>(unified & 0xFF);
  const auto high = static_cast<std::uint8_t>((unified >> 8) & 0xFF);
  if (lengthType == "1") {
    *at++ = low;
  } else if (lengthType == "2l") {
    *at++ = high;
    *at++ = low;
  } else if (lengthType == "2b") {
    *at++ = low;
    *at++ = high;
  }
  at = Append(at, kHeader);
  if (marker) --at;  // the command's own first character is the marker
  at = std::copy(command.begin(), command.end(), at);
  at = Append(at, kTrailer);
  StringToHex(suffix, {at, suffixBytes});
  *outLength = total;
}
