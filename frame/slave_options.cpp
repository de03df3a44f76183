#include "frame/slave_options.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "process/outcome.h"

namespace {

struct OptionWord {
  std::string_view word;
  const char* nameInMessages;
  std::size_t fieldSize;  // characters plus the terminating NUL
  const char* SlaveOptions::*value;
};

constexpr std::array<OptionWord, 3> kOptionWords = {{
    {"--prefix", "[--prefix]", 128, &SlaveOptions::prefix},
    {"--len", "[--len]", 3, &SlaveOptions::lengthType},
    {"--surfix", "[--suffix]", 128, &SlaveOptions::suffix},
}};

}  // namespace

std::optional<SlaveOptions> ParseSlaveOptions(int argc, char** argv) {
  if (argc <= 4) {
    SayOutcome("There must be one of the [--prefix],[--len],[--suffix] options");
    return std::nullopt;
  }
  if (argc != 6 && argc != 8 && argc != 10) {
    SayOutcome("Check [--prefix],[--len],[--suffix] options");
    return std::nullopt;
  }
  SlaveOptions options;
  const int last = argc - 1;
  for (int i = 3; i < last; i += 2) {
    for (const OptionWord& option : kOptionWords) {
      if (argv[i] != option.word) continue;
      if (std::strlen(argv[i + 1]) >= option.fieldSize) {
        SayOutcomeFormat("The value of %s is too long", option.nameInMessages);
        return std::nullopt;
      }
      options.*option.value = argv[i + 1];
    }
  }
  options.payload = argv[last];
  return options;
}
