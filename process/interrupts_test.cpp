#include "process/interrupts.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace {

pthread_t g_library;  // a thread of the "library", blocking no signal
std::atomic<bool> g_seam{false};

// Sleeps on through the signals it takes.
void Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void* Idle(void*) {
  for (;;) pause();
}

}  // namespace

// The seam: right after a thread blocks signals, the library's thread takes
// two different interrupts, as it can before the hold would be marked.
extern "C" int pthread_sigmask(int how, const sigset_t* set, sigset_t* previous) {
  using Mask = int (*)(int, const sigset_t*, sigset_t*);
  static const auto real = reinterpret_cast<Mask>(dlsym(RTLD_NEXT, "pthread_sigmask"));
  const int result = real(how, set, previous);
  if (how == SIG_BLOCK && g_seam.exchange(false)) {
    pthread_kill(g_library, SIGINT);
    Sleep(20);
    pthread_kill(g_library, SIGTERM);
    Sleep(50);
  }
  return result;
}

namespace {

struct Pattern {
  const char* name;
  bool hold;                                 // sent during a held write
  bool thread;                               // to the library's thread
  std::vector<std::pair<int, int>> signals;  // signal, milliseconds after the previous
  int endedBy;                               // the signal that ends the process, or 0
};

// Runs the pattern in a child; returns its exit code (the interrupt it
// recorded), or 128 + the signal that ended it.
int RunPattern(const Pattern& p, bool seam) {
  const pid_t child = fork();
  if (child == 0) {
    dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);  // the hold's notice
    CatchInterrupts();
    pthread_create(&g_library, nullptr, Idle, nullptr);
    const auto send = [](void* context) {
      const Pattern& pattern = *static_cast<const Pattern*>(context);
      for (auto [signal, after] : pattern.signals) {
        Sleep(after);
        pattern.thread ? pthread_kill(g_library, signal) : kill(getpid(), signal);
      }
      Sleep(50);
    };
    void* context = const_cast<Pattern*>(&p);
    g_seam = seam;
    if (p.hold || seam) {
      RunHeld({"the test write", "Testing..."}, seam ? +[](void*) {} : +send, context);
    } else {
      send(context);
    }
    _exit(Interruption());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Interrupts, RepeatsCountOnceSecondsEndAtOnceWritesHoldThemAll) {
  const std::vector<Pattern> patterns = {
      {"a repeat within 100 ms", false, false, {{SIGTERM, 0}, {SIGTERM, 5}}, 0},
      {"a repeat taken by another thread", false, true, {{SIGTERM, 0}, {SIGTERM, 5}}, 0},
      {"the same signal 150 ms later", false, false, {{SIGINT, 0}, {SIGINT, 150}}, SIGINT},
      {"another signal", false, false, {{SIGTERM, 0}, {SIGHUP, 5}}, SIGHUP},
      {"during a write", true, false, {{SIGINT, 0}, {SIGTERM, 150}, {SIGINT, 150}}, 0},
      {"during a write, by the library's thread", true, true, {{SIGINT, 0}, {SIGTERM, 150}}, 0},
  };
  for (const Pattern& p : patterns) {
    EXPECT_EQ(RunPattern(p, false), p.endedBy != 0 ? 128 + p.endedBy : p.signals[0].first)
        << p.name;
  }
  // Interrupts as the hold begins are recorded, and no write starts.
  EXPECT_EQ(RunPattern({"as the hold begins", false, true, {}, 0}, true), SIGINT);
}

}  // namespace
