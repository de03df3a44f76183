// The settings reader over arbitrary file contents, against a plain
// reference reading of the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "settings/settings.h"

namespace {

// The first "readtimeout" value read the simplest way: the file in pieces of
// at most 1023 bytes ending at a line feed, each taken up to its first NUL.
std::int32_t Reference(const std::string& file) {
  std::size_t at = 0;
  while (at < file.size()) {
    std::size_t end = file.find('\n', at);
    end = end == std::string::npos ? file.size() : end + 1;
    end = std::min(end, at + 1023);
    std::string line = file.substr(at, end - at);
    at = end;
    line = line.substr(0, line.find('\0'));
    line = line.substr(0, line.find('\n'));
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos ||
        line.substr(0, std::min<std::size_t>(equals, 63)) != "readtimeout")
      continue;
    std::string value = line.substr(equals + 1, 127);
    if (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
    if (value.empty()) return 2000;
    const long long parsed = std::strtoll(value.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(
        std::max<long long>(INT32_MIN, std::min<long long>(INT32_MAX, parsed)));
  }
  return 2000;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/tolvarine-fuzz-settings-XXXXXX";
  return mkdtemp(folder) == nullptr || chdir(folder) != 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  std::FILE* file = std::fopen("setting.ini", "wb");
  if (file == nullptr) return 0;
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
  Require(getReadTimeout() == Reference(content), "reader agrees with the reference");
  return 0;
}
