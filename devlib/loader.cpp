#include "devlib/loader.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

void* g_handle = nullptr;

namespace {

constexpr char kLibraryPath[] = "./Tolvarine.so";
constexpr int kMaxLinks = 40;  // as the kernel follows at most

// Whether another user can replace the entry `entry` of `folder`: the folder
// is writable by others, and not sticky with the entry owned by root or by
// the user running the tool (a sticky folder lets only the owner replace it).
bool OthersCanReplace(const char* folder, const struct stat& entry) {
  struct stat info {};
  if (stat(folder, &info) != 0 || (info.st_mode & S_IWOTH) == 0) return false;
  return (info.st_mode & S_ISVTX) == 0 || (entry.st_uid != 0 && entry.st_uid != geteuid());
}

// The absolute name of `path` when it can be had, for a message.
void NameOf(const char* path, const char* kind, char* name, std::size_t size) {
  char resolved[PATH_MAX];
  std::snprintf(name, size, "%s%s", kind, ::realpath(path, resolved) != nullptr ? resolved : path);
}

// Follows ./Tolvarine.so link by link. Returns true, with what others can
// write named in `culprit`, when another user could have put the library
// there; false when no one could, or when the path does not lead to a file
// (the loader then says why).
bool OthersCouldHavePlaced(char* culprit, std::size_t size) {
  char path[PATH_MAX];
  std::snprintf(path, sizeof path, "%s", kLibraryPath);
  for (int link = 0; link <= kMaxLinks; ++link) {
    struct stat entry {};
    if (lstat(path, &entry) != 0) return false;
    char folder[PATH_MAX];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr) {
      std::snprintf(folder, sizeof folder, ".");
    } else {
      slash[slash == folder ? 1 : 0] = '\0';
    }
    if (OthersCanReplace(folder, entry)) {
      NameOf(folder, "folder ", culprit, size);
      return true;
    }
    if (!S_ISLNK(entry.st_mode)) {
      if ((entry.st_mode & S_IWOTH) == 0) return false;
      NameOf(path, "", culprit, size);
      return true;
    }
    char target[PATH_MAX];
    const ssize_t length = readlink(path, target, sizeof target - 1);
    if (length < 0) return false;
    target[length] = '\0';
    const int written = target[0] == '/'
                            ? std::snprintf(path, sizeof path, "%s", target)
                            : std::snprintf(path, sizeof path, "%s/%s", folder, target);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof path) return false;
  }
  return false;
}

}  // namespace

void ReportLoaderError(const char* text) {
  FlushOutput();
  std::fprintf(stderr, "%s\n", text);
}

bool Opendl() {
  char culprit[PATH_MAX + 16];
  if (OthersCouldHavePlaced(culprit, sizeof culprit)) {
    char message[sizeof culprit + 64];
    std::snprintf(message, sizeof message, "Refusing to load %s: %s is writable by other users",
                  kLibraryPath, culprit);
    ReportLoaderError(message);
    return false;
  }
  g_handle = dlopen(kLibraryPath, RTLD_NOW);
  if (g_handle == nullptr) {
    const char* error = dlerror();
    ReportLoaderError(error != nullptr ? error : "./Tolvarine.so: cannot load");
    return false;
  }
  return true;
}

void Closedl() {
  if (g_handle != nullptr) {
    FlushOutput();  // a library that crashes in its teardown takes nothing with it
    dlclose(g_handle);
    g_handle = nullptr;
  }
}
