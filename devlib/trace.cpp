#include "devlib/trace.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "process/streams.h"

int g_traceFd = -1;

namespace {

// A line holds at most a 4 KiB text, quoted, or 64 bytes in hex, besides
// the few fixed parts.
constexpr std::size_t kLineSize = 32 * 1024;
constexpr long long kShownBytes = 64;
constexpr std::size_t kMaxText = 4096;
constexpr std::size_t kMaxHandles = 64;
constexpr char kHexDigits[] = "0123456789abcdef";

char g_line[kLineSize];
JsonText g_text = JsonInto(g_line);
long long g_start = 0;
pid_t g_pid = 0;

struct NamedHandle {
  const void* handle;
  char kind;
  int number;
};
NamedHandle g_handles[kMaxHandles];
std::size_t g_handleCount = 0;
int g_kindCounts[3] = {};  // L, D, H

long long Microseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000LL + now.tv_nsec / 1000;
}

}  // namespace

void OpenTrace() {
  const char* file = std::getenv("TOLVARINE_TRACE");
  if (file == nullptr || *file == '\0') return;
  g_start = Microseconds();
  g_pid = getpid();
  g_traceFd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (g_traceFd < 0) {
    ReportError("TolvarineCli: cannot write the trace to %s (%s)", file, std::strerror(errno));
  }
}

JsonText& TraceLine() { return g_text; }

long long TraceBegin(bool call, const char* what) {
  const long long now = Microseconds();
  g_text = JsonInto(g_line);
  PutNumber(g_text, now - g_start);
  PutRaw(g_text, " ");
  PutNumber(g_text, g_pid);
  PutRaw(g_text, call ? " call " : " return ");
  PutRaw(g_text, what);
  return now;
}

void TraceEnd() {
  PutRaw(g_text, "\n");
  const std::string_view line = JsonWritten(g_line, g_text);
  // One write: lines of runs sharing the file never mix.
  if (write(g_traceFd, line.data(), line.size()) < 0) {
    // A trace that fails to take a line does not stop the run.
  }
}

void TraceDuration(long long started) {
  PutRaw(g_text, " (");
  const long long micros = Microseconds() - started;
  PutNumber(g_text, micros / 1000);
  const char fraction[] = {'.', static_cast<char>('0' + micros / 100 % 10),
                           static_cast<char>('0' + micros / 10 % 10),
                           static_cast<char>('0' + micros % 10)};
  PutRaw(g_text, {fraction, sizeof fraction});
  PutRaw(g_text, " ms)");
}

void TraceHandle(const void* handle, char kind) {
  if (handle == nullptr) {
    PutRaw(g_text, "null");
    return;
  }
  const NamedHandle* named = nullptr;
  for (std::size_t i = 0; i < g_handleCount && named == nullptr; ++i) {
    if (g_handles[i].handle == handle) named = &g_handles[i];
  }
  if (named == nullptr && g_handleCount < kMaxHandles) {
    const int slot = kind == 'L' ? 0 : kind == 'D' ? 1 : 2;
    g_handles[g_handleCount] = {handle, kind, ++g_kindCounts[slot]};
    named = &g_handles[g_handleCount++];
  }
  if (named == nullptr) {
    PutRaw(g_text, "H?");
    return;
  }
  PutRaw(g_text, {&named->kind, 1});
  PutNumber(g_text, named->number);
}

void TraceBytes(const void* bytes, long long count) {
  if (bytes == nullptr) {
    PutRaw(g_text, "null");
    return;
  }
  PutRaw(g_text, "bytes[");
  PutNumber(g_text, count);
  PutRaw(g_text, "]");
  if (count > 0) PutRaw(g_text, " ");
  const auto* at = static_cast<const unsigned char*>(bytes);
  for (long long i = 0; i < count && i < kShownBytes; ++i) {
    const char pair[] = {kHexDigits[at[i] >> 4], kHexDigits[at[i] & 0xF]};
    PutRaw(g_text, {pair, sizeof pair});
  }
  if (count > kShownBytes) PutRaw(g_text, "...");
}

void TraceText(const char* text) {
  if (text == nullptr) {
    PutRaw(g_text, "null");
  } else {
    PutString(g_text, {text, strnlen(text, kMaxText)});
  }
}

long long TraceLoad(const struct stat& file) {
  const long long started = TraceBegin(true, "dlopen ./Tolvarine.so (device ");
  PutNumber(g_text, major(file.st_dev));
  PutRaw(g_text, ":");
  PutNumber(g_text, minor(file.st_dev));
  PutRaw(g_text, ", inode ");
  PutNumber(g_text, static_cast<long long>(file.st_ino));
  PutRaw(g_text, ", ");
  PutNumber(g_text, static_cast<long long>(file.st_size));
  PutRaw(g_text, " bytes, modified ");
  char when[64];
  tm utc{};
  const time_t seconds = file.st_mtim.tv_sec;
  const std::size_t length = gmtime_r(&seconds, &utc) != nullptr
                                 ? std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc)
                                 : 0;
  PutRaw(g_text, {when, length});
  PutRaw(g_text, ")");
  TraceEnd();
  return started;
}

void TraceLoaded(long long started, bool loaded) {
  TraceBegin(false, "dlopen");
  PutRaw(g_text, loaded ? " -> loaded" : " -> failed");
  TraceDuration(started);
  TraceEnd();
}

long long TraceUnload() {
  const long long started = TraceBegin(true, "dlclose");
  TraceEnd();
  return started;
}

void TraceUnloaded(long long started) {
  TraceBegin(false, "dlclose");
  TraceDuration(started);
  TraceEnd();
}
