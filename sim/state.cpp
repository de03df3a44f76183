#include "sim/state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/journal.h"

namespace sim {

namespace {

// Says once why the state folder cannot be used: a rehearsal without
// contention is still a rehearsal, but the technician must know.
void Unusable(const std::string& what, const std::string& why) {
  static bool said = false;
  if (said) return;
  said = true;
  std::fprintf(stderr,
               "Tolvarine.so (simulated): state folder unusable, devices are not shared between "
               "processes: %s: %s\n",
               what.c_str(), why.c_str());
  Journal("state folder unusable: %s: %s", what.c_str(), why.c_str());
}

// The state folder, opened afresh on every use so that a test may name
// another one; -1 when it cannot be used.
int OpenFolder(std::string* path) {
  const char* named = std::getenv("TOLVARINE_SIM_STATE");
  const bool byDefault = named == nullptr || *named == '\0';
  if (byDefault) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    *path = std::string(runtime != nullptr && *runtime != '\0' ? runtime : "/tmp") +
            "/tolvarine-sim-" + std::to_string(geteuid());
  } else {
    *path = named;
  }
  const int made = mkdir(path->c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
  // The default folder is in a place others may write to (/tmp): a link or
  // a folder of someone else's planted there is refused.
  const int folder =
      open(path->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (byDefault ? O_NOFOLLOW : 0));
  struct stat status {};
  if (folder < 0) {
    Unusable(*path, std::strerror(made != 0 ? made : errno));
  } else if (byDefault && (fstat(folder, &status) != 0 || status.st_uid != geteuid())) {
    Unusable(*path, "not owned by the user");
    close(folder);
    return -1;
  }
  return folder;
}

// Opens (or makes) one file of the state folder; -1 when it cannot.
int OpenStateFile(const std::string& name) {
  std::string path;
  const int folder = OpenFolder(&path);
  if (folder < 0) return -1;
  const int fd = openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) Unusable(path + "/" + name, std::strerror(errno));
  close(folder);
  return fd;
}

// A serial number as the info text gives it, or "".
std::string SerialNumber(const std::string& info) {
  const std::string label = "Serial Number";
  std::size_t at = info.find(label);
  if (at == std::string::npos) return "";
  at = info.find_first_not_of(' ', at + label.size());
  if (at == std::string::npos || (info[at] != ':' && info[at] != '=')) return "";
  at = info.find_first_not_of(' ', at + 1);
  if (at == std::string::npos) return "";
  std::string serial = info.substr(at, info.find_first_of("\r\n;", at) - at);
  return serial.substr(0, serial.find_last_not_of(' ') + 1);
}

}  // namespace

std::string StateName(const Device& device, std::size_t position) {
  std::string identity = SerialNumber(device.info);
  if (identity.empty()) identity = device.vid + ":" + device.pid + "@" + std::to_string(position);
  std::string name;
  for (const char c : identity) {
    if (std::isalnum(static_cast<unsigned char>(c)) ||
        (std::strchr("-_.:@+", c) != nullptr && c != '\0' && !(c == '.' && name.empty()))) {
      name += c;
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      name += escaped;
    }
  }
  if (name.size() <= kMaxStateName) return name;
  // Cut, with a hash of the whole (FNV-1a) so that long names stay apart.
  std::uint64_t hash = 14695981039346656037u;
  for (const char c : identity) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  char tail[18];
  std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(hash));
  return name.substr(0, kMaxStateName - 17) + tail;
}

Claim LockDevice(const std::string& name, int* fd) {
  const int lock = OpenStateFile(name + ".lock");
  if (lock < 0) return Claim::kUnshared;
  if (flock(lock, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    if (!busy) Unusable(name + ".lock", std::strerror(errno));
    close(lock);
    return busy ? Claim::kBusy : Claim::kUnshared;
  }
  *fd = lock;
  return Claim::kTaken;
}

unsigned FlakyAttempt(const std::string& name, FlakyCall& flaky) {
  const int counter = OpenStateFile(name + "." + flaky.call + ".count");
  // The count is read and written under the file's lock: two tools that
  // call at once take two attempts, not one.
  while (counter >= 0 && flock(counter, LOCK_EX) != 0 && errno == EINTR) {
  }
  if (counter >= 0) {
    char text[16] = {};
    flaky.made = pread(counter, text, sizeof text - 1, 0) > 0
                     ? static_cast<unsigned>(std::strtoul(text, nullptr, 10))
                     : 0;
  }
  const unsigned attempt = flaky.made < flaky.times ? ++flaky.made : 0;
  if (counter >= 0) {
    if (attempt != 0) {
      const std::string text = std::to_string(flaky.made) + "\n";
      if (pwrite(counter, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        Unusable(name + "." + flaky.call + ".count", std::strerror(errno));
      }
    }
    close(counter);  // and with it the lock
  }
  return attempt;
}

}  // namespace sim
