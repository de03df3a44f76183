// printData against a plain formatter: byte-identical output for any input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame/trace.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int direction = data[0] % 3 - 1;
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  std::string expected = direction == 0 ? "Request:" : "Response:";
  char triple[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(triple, sizeof triple, "%02X ", b);
    expected += triple;
  }
  expected += '\n';

  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  printData(direction, bytes, out);
  std::fclose(out);
  const bool same = expected == std::string(text, length);
  std::free(text);
  Require(same, "printData matches the plain formatter");
  return 0;
}
