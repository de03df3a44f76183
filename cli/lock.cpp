#include "cli/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "process/streams.h"

namespace {

constexpr char kDefaultFolder[] = "/run/lock";
constexpr char kPrefix[] = "TolvarineCli-sn-";
constexpr std::size_t kNameLimit = 200;
constexpr char kHexDigits[] = "0123456789abcdef";

bool Plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

std::uint64_t Fnv1a(std::string_view text) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  return hash;
}

// The lock file's name for `serial` into `name` (NUL-terminated): letters,
// digits, '.', '_' and '-' as they are, other bytes as %HH, and a serial
// whose name would pass 200 characters cut, ended by '~' and a hash of the
// whole serial.
void LockFileName(std::string_view serial, std::span<char> name) {
  // Room for the prefix, the limit, a last %HH, '~', 16 digits, ".lock".
  static_assert(sizeof kPrefix + kNameLimit + 3 + 1 + 16 + 6 < 256);
  std::size_t at = 0;
  const auto put = [&](char c) {
    if (at + 1 < name.size()) name[at++] = c;
  };
  for (char c : std::string_view(kPrefix)) put(c);
  bool cut = false;
  for (char c : serial) {
    if (at >= kNameLimit) {
      cut = true;
      break;
    }
    if (Plain(c)) {
      put(c);
    } else {
      put('%');
      put(kHexDigits[static_cast<unsigned char>(c) >> 4]);
      put(kHexDigits[c & 0xF]);
    }
  }
  if (cut) {
    put('~');
    const std::uint64_t hash = Fnv1a(serial);
    for (int shift = 60; shift >= 0; shift -= 4) put(kHexDigits[(hash >> shift) & 0xF]);
  }
  for (char c : std::string_view(".lock")) put(c);
  if (!name.empty()) name[at] = '\0';
}

}  // namespace

int LockDevice(std::string_view serial) {
  const char* folder = std::getenv("TOLVARINE_LOCK_DIR");
  if (folder == nullptr || *folder == '\0') folder = kDefaultFolder;
  char name[256];
  LockFileName(serial, name);
  char path[4096 + 256];
  std::snprintf(path, sizeof path, "%s/%s", folder, name);
  // Not following a link, not waiting on a FIFO planted there.
  const int fd = open(path, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
  int error = fd < 0 ? errno : 0;
  struct stat info {};
  if (error == 0 && fstat(fd, &info) != 0) error = errno;
  if (error == 0 && !S_ISREG(info.st_mode)) error = EINVAL;
  if (error == 0) {
    // A lock file this user made stays open to the others' runs.
    if (info.st_uid == geteuid() && (info.st_mode & 0044) != 0044 && fchmod(fd, 0644) != 0) {
      error = errno;
    }
  }
  if (error == 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
  if (error == 0) error = errno;
  if (fd >= 0) close(fd);
  if (error == EWOULDBLOCK) return kDeviceBusy;
  ReportError(
      "TolvarineCli: cannot lock the device with serial number [%.*s] (%s: %s); going on "
      "without the lock",
      static_cast<int>(serial.size()), serial.data(), path, std::strerror(error));
  return kNoLock;
}

void UnlockDevice(int lock) {
  if (lock >= 0) close(lock);
}
