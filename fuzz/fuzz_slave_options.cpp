// The "--custom" option parser over arbitrary argument vectors: input split
// at NUL bytes gives arguments 3 and beyond.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frame/slave_options.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  return std::freopen("/dev/null", "w", stdout) == nullptr;  // its messages are not the point
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {"TolvarineCli", "--execute", "--custom"};
  std::string word;
  for (std::size_t i = 0; i < size && args.size() < 14; ++i) {
    if (data[i] == 0) {
      args.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (args.size() < 14) args.push_back(word);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  const auto options = ParseSlaveOptions(argc, argv.data());
  if (!options) return 0;
  Require(argc == 6 || argc == 8 || argc == 10, "only 6, 8 or 10 arguments parse");
  Require(options->payload == argv[argc - 1], "the payload is the last argument");
  Require(std::strlen(options->prefix) < 128 && std::strlen(options->suffix) < 128 &&
              std::strlen(options->lengthType) < 3,
          "values fit their fields");
  for (const char* value : {options->prefix, options->lengthType, options->suffix}) {
    bool known = *value == '\0';
    for (int i = 4; i < argc - 1 && !known; i += 2) known = value == argv[i];
    Require(known, "a value is the second word of a pair");
  }
  return 0;
}
