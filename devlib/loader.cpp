#include "devlib/loader.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "devlib/trust.h"
#include "process/outcome.h"

void* g_handle = nullptr;

namespace {

constexpr char kLibraryPath[] = "./Tolvarine.so";

// The name the library was loaded under, "/proc/self/fd/<n>"; the loader's
// texts name it, and the user knows it as kLibraryPath.
char g_loadedName[kDescriptorPathSize] = "";

// Whether opening `name` gives the checked file: not so when /proc is not
// mounted there, and the name would lead to whatever / holds instead.
bool LeadsToChecked(const char* name, const struct stat& checked) {
  struct stat shown {};
  if (stat(name, &shown) != 0) {
    ReportFailure("Refusing to load %s: cannot reach the checked file through /proc/self/fd: %s",
                  kLibraryPath, std::strerror(errno));
    return false;
  }
  if (shown.st_dev != checked.st_dev || shown.st_ino != checked.st_ino) {
    ReportFailure("Refusing to load %s: /proc/self/fd does not lead to the checked file",
                  kLibraryPath);
    return false;
  }
  return true;
}

}  // namespace

void ReportLoaderText(const char* text, bool failsTheRun) {
  const std::string_view name = g_loadedName;
  std::string_view rest = text;
  char shown[2 * PATH_MAX];
  std::size_t used = 0;
  while (used < sizeof shown) {
    // "/proc/self/fd/1" is not the start of "/proc/self/fd/12".
    std::size_t hit = name.empty() ? rest.npos : rest.find(name);
    while (hit != rest.npos && hit + name.size() < rest.size() &&
           std::isdigit(static_cast<unsigned char>(rest[hit + name.size()])) != 0) {
      hit = rest.find(name, hit + 1);
    }
    const bool found = hit != rest.npos;
    const int before = static_cast<int>(found ? hit : rest.size());
    used += std::snprintf(shown + used, sizeof shown - used, "%.*s%s", before, rest.data(),
                          found ? kLibraryPath : "");
    if (!found) break;
    rest.remove_prefix(hit + name.size());
  }
  failsTheRun ? ReportFailure("%s", shown) : ReportError("%s", shown);
}

bool Opendl() {
  char reason[2 * PATH_MAX];
  struct stat checked {};
  const int fd = OpenCheckedLibrary(reason, checked);
  if (fd < 0 && reason[0] == '\0') {
    // The loader's text for a missing file, without asking it to look the
    // path up again.
    ReportFailure("%s: cannot open shared object file: %s", kLibraryPath, std::strerror(ENOENT));
    return false;
  }
  if (fd < 0) {
    ReportFailure("Refusing to load %s: %s", kLibraryPath, reason);
    return false;
  }
  // The very file that was checked, whatever the path leads to by now.
  char name[kDescriptorPathSize];
  DescriptorPath(fd, name);
  const bool reached = LeadsToChecked(name, checked);
  if (reached) {
    std::memcpy(g_loadedName, name, sizeof name);
    const long long started = Tracing() ? TraceLoad(checked) : 0;
    LibraryCallBegins();  // its initialisers are the library's code
    g_handle = dlopen(name, RTLD_NOW);
    LibraryCallEnds();
    if (Tracing()) TraceLoaded(started, g_handle != nullptr);
  }
  const char* error = reached && g_handle == nullptr ? dlerror() : nullptr;
  if (close(fd) != 0) {
    ReportError("TolvarineCli: cannot close %s: %s", kLibraryPath, std::strerror(errno));
  }
  if (reached && g_handle == nullptr) {
    ReportLoaderText(error != nullptr ? error : "./Tolvarine.so: cannot load", true);
  }
  return g_handle != nullptr;
}

void Closedl() {
  if (g_handle != nullptr) {
    FlushOutput();  // a library that crashes in its teardown takes nothing with it
    const long long started = Tracing() ? TraceUnload() : 0;
    LibraryCallBegins();
    dlclose(g_handle);
    LibraryCallEnds();
    if (Tracing()) TraceUnloaded(started);
    g_handle = nullptr;
  }
}
