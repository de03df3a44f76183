#include "sim/journal.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace sim {

namespace {

// Read by the library's destructor, which must not depend on the state's.
bool g_crashAtUnload = false;
// A thread of the library's own, as vendor libraries keep one for device
// events: it blocks no signal, so a signal sent to the process may be
// delivered to it. Woken through the pipe and joined at unload.
pthread_t g_thread;
int g_threadWake[2] = {-1, -1};

void* WaitForUnload(void*) {
  pollfd wake{g_threadWake[0], POLLIN, 0};
  while (poll(&wake, 1, -1) < 0 && errno == EINTR) {
  }
  return nullptr;
}

// A vendor library's handler that claims a signal and does nothing with it.
void Swallow(int) {}

int JournalFd() {
  static const int fd = [] {
    const char* path = std::getenv("TOLVARINE_SIM_JOURNAL");
    if (path == nullptr || *path == '\0') return -1;
    return open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  }();
  return fd;
}

__attribute__((destructor)) void AtUnload() {
  if (g_threadWake[1] >= 0) {
    close(g_threadWake[1]);
    pthread_join(g_thread, nullptr);
  }
  if (g_crashAtUnload) {
    Journal("unload crashes");
    std::abort();
  }
}

}  // namespace

void Journal(const char* format, ...) {
  const int fd = JournalFd();
  if (fd < 0) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string line(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
  std::vsnprintf(line.data(), line.size(), format, again);
  va_end(again);
  line.back() = '\n';
  // One write per line: a crash right after it loses nothing.
  for (std::size_t at = 0; at < line.size();) {
    const ssize_t written = write(fd, line.data() + at, line.size() - at);
    if (written <= 0 && errno != EINTR) return;
    if (written > 0) at += static_cast<std::size_t>(written);
  }
}

std::string Quoted(const char* text) {
  if (text == nullptr) return "null";
  std::string out = "\"";
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p == '"' || *p == '\\') {
      out += '\\';
      out += static_cast<char>(*p);
    } else if (*p < 0x20 || *p >= 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", *p);
      out += escaped;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

std::string Hex(const unsigned char* bytes, std::size_t count) {
  std::string out;
  char pair[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += pair;
  }
  return out;
}

const char* BoolText(bool value) { return value ? "true" : "false"; }

bool ApplyFaults(const Scenario& scenario, const char* call, bool waits) {
  if (scenario.crash == call) {
    Journal("%s crashes", call);
    std::abort();
  }
  for (const SlowCall& slow : scenario.slowCalls) {
    if (slow.name != call || !waits) continue;
    const bool forever = slow.milliseconds == kForever;
    Journal("%s waits %s", call,
            forever ? "forever" : (std::to_string(slow.milliseconds) + " ms").c_str());
    timespec rest{forever ? 3600 : slow.milliseconds / 1000,
                  forever ? 0 : slow.milliseconds % 1000 * 1000000};
    while (nanosleep(&rest, &rest) != 0 || forever) {
      if (forever) {
        rest = {3600, 0};
      } else if (errno == EINTR) {
        Journal("%s gives up: interrupted", call);
        return false;
      }
    }
  }
  return true;
}

void ArmLifetimeFaults(const Scenario& scenario) {
  g_crashAtUnload = scenario.crash == "unload";
  if (scenario.claimSignals) {
    struct sigaction claim {};
    claim.sa_handler = Swallow;
    sigemptyset(&claim.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) {
      sigaction(signal, &claim, nullptr);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaction(signal, &claim, nullptr);
    Journal("signals claimed");
  }
  if (scenario.thread && pipe2(g_threadWake, O_CLOEXEC) == 0 &&
      pthread_create(&g_thread, nullptr, WaitForUnload, nullptr) != 0) {
    close(g_threadWake[0]);
    close(g_threadWake[1]);
    g_threadWake[1] = -1;
  }
}

}  // namespace sim
