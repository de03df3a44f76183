#include "devlib/loader.h"

#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

void* g_handle = nullptr;

namespace {

constexpr char kLibraryPath[] = "./Tolvarine.so";
constexpr int kMaxLinks = 40;  // as the kernel follows at most
constexpr std::size_t kPathSize = 2 * PATH_MAX;

// Root, the user the tool runs as, and under sudo (the real user is root)
// the user in SUDO_UID: the owners whose files and folders are trusted.
bool Trusted(uid_t owner) {
  if (owner == 0 || owner == geteuid()) return true;
  const char* sudo = getuid() == 0 ? std::getenv("SUDO_UID") : nullptr;
  if (sudo == nullptr || *sudo < '0' || *sudo > '9') return false;
  char* end = nullptr;
  const unsigned long id = std::strtoul(sudo, &end, 10);
  return *end == '\0' && id == owner;
}

// "<what> is owned by user <name> (<uid>)", or "user <uid>" without a name.
void OwnedBy(const char* what, uid_t owner, char* reason, std::size_t size) {
  const passwd* user = getpwuid(owner);
  if (user != nullptr) {
    std::snprintf(reason, size, "%s is owned by user %s (%u)", what, user->pw_name, owner);
  } else {
    std::snprintf(reason, size, "%s is owned by user %u", what, owner);
  }
}

// Why another user could have put the library in place, written into
// `reason` (empty when no one could). Walks the library's path from / as
// the kernel does, link by link: every folder on the way, and the file,
// must belong to a trusted owner; no folder on the way may be writable by
// others, unless it is sticky and the entry in it has a trusted owner. A
// path that leads to no file is not judged: the loader then says why.
void WhyUntrusted(char* reason, std::size_t size) {
  reason[0] = '\0';
  char folder[kPathSize] = "/";  // where the walk is, without links
  char rest[kPathSize];          // what is still to walk
  struct stat holder {};         // the folder's
  if (getcwd(rest, PATH_MAX) == nullptr || lstat("/", &holder) != 0) return;
  std::strcat(rest, kLibraryPath + 1);
  if (!Trusted(holder.st_uid)) return OwnedBy("folder /", holder.st_uid, reason, size);
  const char* next = rest;
  for (int links = 0;;) {
    while (*next == '/') ++next;
    if (*next == '\0') return;
    const char* end = std::strchr(next, '/');
    const int length = static_cast<int>(end != nullptr ? end - next : std::strlen(next));
    const bool parent = length == 2 && next[0] == '.' && next[1] == '.';
    char entry[kPathSize];
    if (length == 1 && next[0] == '.') {
      next += length;
      continue;
    }
    if (parent) {
      std::snprintf(entry, sizeof entry, "%s", folder);
      char* slash = std::strrchr(entry, '/');
      slash[slash == entry ? 1 : 0] = '\0';
    } else if (std::snprintf(entry, sizeof entry, "%s%s%.*s", folder, folder[1] == '\0' ? "" : "/",
                             length, next) >= static_cast<int>(sizeof entry)) {
      std::snprintf(reason, size, "its path is too long to check");
      return;
    }
    next += length;
    struct stat info {};
    if (lstat(entry, &info) != 0) return;
    if (!parent && (holder.st_mode & S_IWOTH) != 0 &&
        ((holder.st_mode & S_ISVTX) == 0 || !Trusted(info.st_uid))) {
      std::snprintf(reason, size, "folder %s is writable by other users", folder);
      return;
    }
    if (S_ISLNK(info.st_mode)) {
      char target[PATH_MAX];
      const ssize_t count = readlink(entry, target, sizeof target - 1);
      if (++links > kMaxLinks || count < 0) return;
      target[count] = '\0';
      char joined[kPathSize];
      if (std::snprintf(joined, sizeof joined, "%s/%s", target, next) >=
          static_cast<int>(sizeof joined)) {
        std::snprintf(reason, size, "its path is too long to check");
        return;
      }
      std::memcpy(rest, joined, sizeof rest);
      next = rest;
      if (target[0] == '/') {
        std::snprintf(folder, sizeof folder, "/");
        lstat("/", &holder);
      }
      continue;
    }
    if (S_ISDIR(info.st_mode)) {
      char what[kPathSize + 8];
      std::snprintf(what, sizeof what, "folder %s", entry);
      if (!Trusted(info.st_uid)) return OwnedBy(what, info.st_uid, reason, size);
      std::memcpy(folder, entry, sizeof folder);
      holder = info;
      continue;
    }
    while (*next == '/') ++next;
    if (*next != '\0') return;  // a file in the middle of the path
    if (!Trusted(info.st_uid)) return OwnedBy(entry, info.st_uid, reason, size);
    if ((info.st_mode & S_IWOTH) != 0) {
      std::snprintf(reason, size, "%s is writable by other users", entry);
    }
    return;
  }
}

}  // namespace

bool Opendl() {
  char reason[kPathSize + 256];
  WhyUntrusted(reason, sizeof reason);
  if (reason[0] != '\0') {
    ReportError("Refusing to load %s: %s", kLibraryPath, reason);
    return false;
  }
  LibraryCallBegins();  // its initialisers are the library's code
  g_handle = dlopen(kLibraryPath, RTLD_NOW);
  LibraryCallEnds();
  if (g_handle == nullptr) {
    const char* error = dlerror();
    ReportError("%s", error != nullptr ? error : "./Tolvarine.so: cannot load");
    return false;
  }
  return true;
}

void Closedl() {
  if (g_handle != nullptr) {
    FlushOutput();  // a library that crashes in its teardown takes nothing with it
    LibraryCallBegins();
    dlclose(g_handle);
    LibraryCallEnds();
    g_handle = nullptr;
  }
}
