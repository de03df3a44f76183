// StringToHex: the result is 0 or length / 2, and the upper- or lower-case
// hex of any bytes decodes back to those bytes.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::uint8_t> out(size / 2);
  const std::size_t result = StringToHex(text, out);
  Require(result == 0 || result == size / 2, "result is 0 or length / 2");
  Require(StringToHex(text, {}) == result, "counting agrees with decoding");

  for (const char* digits : {"0123456789ABCDEF", "0123456789abcdef"}) {
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
      hex += digits[data[i] >> 4];
      hex += digits[data[i] & 15];
    }
    std::vector<std::uint8_t> back(size);
    Require(StringToHex(hex, back) == size, "hex of any bytes decodes");
    Require(size == 0 || std::memcmp(back.data(), data, size) == 0,
            "decoding gives the bytes back");
  }
  return 0;
}
