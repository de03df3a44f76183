#include "settings/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "process/streams.h"

namespace {

constexpr std::int32_t kDefaultTimeout = 2000;
constexpr int kPieceSize = 1024;  // a longer line is read as several pieces
constexpr std::size_t kMaxKey = 63;
constexpr std::size_t kMaxValue = 127;

// As atoi converts: leading white space, an optional sign, decimal digits up
// to the first other character, no digits giving 0; but clamped to the int32
// range instead of overflowing.
std::int32_t ParseTimeoutValue(const char* text) {
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (*text - '0');
  }
  if (negative) {
    return static_cast<std::int32_t>(-std::min(magnitude, kLimit));
  }
  return static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
}

// Opens the settings file for reading when it is a regular file, without
// ever blocking (a FIFO without a writer, a device). Returns null with the
// reason in *reason otherwise.
std::FILE* OpenSettingsFile(int* reason) {
  const int fd = open("setting.ini", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *reason = errno;
    return nullptr;
  }
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *reason = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "r");
  if (file == nullptr) {
    *reason = errno;
    close(fd);
  }
  return file;
}

}  // namespace

std::int32_t getReadTimeout() {
  int reason = 0;
  std::FILE* file = OpenSettingsFile(&reason);
  if (file == nullptr) {
    ReportError("Error opening file: %s", std::strerror(reason));
    return kDefaultTimeout;
  }
  char line[kPieceSize];
  char value[kMaxValue + 1] = "";
  bool found = false;
  while (!found && std::fgets(line, sizeof line, file) != nullptr) {
    line[std::strcspn(line, "\n")] = '\0';
    if (line[0] == ';' || line[0] == '#' || line[0] == '\0') continue;
    const char* equals = std::strchr(line, '=');
    if (equals == nullptr) continue;
    const std::string_view key(line, std::min(static_cast<std::size_t>(equals - line), kMaxKey));
    if (key != "readtimeout") continue;
    std::size_t length = std::min(std::strlen(equals + 1), kMaxValue);
    std::memcpy(value, equals + 1, length);
    if (length > 0 && (value[length - 1] == ' ' || value[length - 1] == '\t')) {
      --length;
    }
    value[length] = '\0';
    found = true;
  }
  std::fclose(file);
  if (!found || value[0] == '\0') return kDefaultTimeout;
  return ParseTimeoutValue(value);
}
