// Frame builders: input is [size byte][length-type byte]prefix\nsuffix\ncommand.
// The destination is exactly as large as chosen, so any write past it is
// caught by AddressSanitizer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t capacity = static_cast<std::size_t>(data[0]) * 3;
  static const char* const kTypes[] = {"", "1", "2l", "2b", "2", "l", "2L"};
  const std::string_view lengthType = kTypes[data[1] % 7];
  std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
  const auto cut = [&text]() {
    const std::size_t end = text.find('\n');
    const std::string_view part = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    return part;
  };
  const std::string_view prefix = cut();
  const std::string_view suffix = cut();
  const std::string_view command = text;
  const bool marker = !command.empty() && (command[0] == '@' || command[0] == '#');

  std::vector<std::uint8_t> dst(capacity);
  std::size_t length = 12345;
  packUnifyCommand(dst, command, &length);
  std::size_t body = command.size();
  if (body > 0 && command.back() == ';') --body;
  const bool unifiedMarker = body > 0 && (command[0] == '@' || command[0] == '#');
  if (unifiedMarker) --body;
  Require(length == (body + 9 <= capacity ? body + 9 : 0),
          "unified frame is 9 bytes longer than its body");
  if (length != 0) {
    Require(dst[0] == 0x7E && dst[1] == 0x01 && dst[length - 2] == 0x3B && dst[length - 1] == 0x03,
            "unified frame header and trailer");
  }

  std::vector<std::uint8_t> slave(capacity);
  packPreSurFullData(command, prefix, suffix, lengthType, slave, &length);
  const std::size_t prefixBytes = StringToHex(prefix, {});
  const std::size_t suffixBytes = StringToHex(suffix, {});
  const std::size_t field = lengthType == "1"                            ? 1
                            : (lengthType == "2l" || lengthType == "2b") ? 2
                                                                         : 0;
  const std::size_t unified = command.size() + 9 - (marker ? 1 : 0);
  const std::size_t total = prefixBytes + field + unified + suffixBytes;
  Require(length == (total <= capacity ? total : 0), "slave frame length");
  if (length == 0) return 0;
  const std::uint8_t* l = slave.data() + prefixBytes;
  std::size_t stated = unified;
  if (lengthType == "1") stated = l[0];
  if (lengthType == "2l") stated = l[0] * 256u + l[1];
  if (lengthType == "2b") stated = l[1] * 256u + l[0];
  Require(stated == unified % (field == 1 ? 256 : 65536),
          "L equals the bytes from header to trailer");
  const std::uint8_t* frame = l + field;
  Require(frame[0] == 0x7E && frame[unified - 1] == 0x03 && frame[unified - 2] == 0x3B,
          "slave frame holds the unified frame");
  return 0;
}
