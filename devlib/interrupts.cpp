#include "devlib/interrupts.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

std::atomic<int> g_interruption{0};
// While a write holds interrupts, one delivered to a thread of the library
// that does not block them is recorded only, never acted on.
std::atomic<bool> g_holding{false};
sigset_t g_caught;  // the interrupts whose handler is ours

sigset_t InterruptSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterrupts) sigaddset(&set, signal);
  return set;
}

void Record(int signal) {
  int none = 0;
  g_interruption.compare_exchange_strong(none, signal);
}

// From now on an interrupt ends the tool at once.
void RestoreDefaultActions() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int signal : kInterrupts) {
    if (sigismember(&g_caught, signal) == 1) sigaction(signal, &action, nullptr);
  }
}

void OnInterrupt(int signal) {
  const int savedErrno = errno;
  Record(signal);
  if (!g_holding.load()) RestoreDefaultActions();
  errno = savedErrno;
}

void WriteToStandardError(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

long ElapsedMilliseconds(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

void TakeHeldSignals(int signalFd) {
  signalfd_siginfo info{};
  while (read(signalFd, &info, sizeof info) == sizeof info)
    Record(static_cast<int>(info.ssi_signo));
}

// The helper thread of a held write: takes the interrupts, says once that
// the write goes on, and shows the elapsed seconds on a terminal.
void* WatchHeldWrite(void* argument) {
  const Hold& hold = *static_cast<const Hold*>(argument);
  const bool terminal = isatty(STDERR_FILENO) == 1;
  bool noticed = false;
  bool progressShown = false;
  for (;;) {
    TakeHeldSignals(hold.signalFd);
    if (g_interruption.load() != 0 && !noticed) {
      if (progressShown) WriteToStandardError("\n");
      progressShown = false;
      char line[256];
      std::snprintf(line, sizeof line, "TolvarineCli: %s\n", hold.write->notice);
      WriteToStandardError(line);
      noticed = true;
    }
    const long elapsed = ElapsedMilliseconds(hold.start);
    if (terminal && elapsed >= 1000) {
      char line[256];
      std::snprintf(line, sizeof line, "\r%s %ld s", hold.write->progress, elapsed / 1000);
      WriteToStandardError(line);
      progressShown = true;
    }
    pollfd fds[2] = {{hold.wakeFd, POLLIN, 0}, {hold.signalFd, POLLIN, 0}};
    // Wakes at each whole second, which also shows an interrupt that a
    // library thread not blocking them has recorded.
    if (poll(fds, 2, static_cast<int>(1000 - elapsed % 1000)) > 0 && fds[0].revents != 0) break;
  }
  if (progressShown) WriteToStandardError("\n");
  return nullptr;
}

}  // namespace

void CatchInterrupts() {
  sigemptyset(&g_caught);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  // Restarted system calls: an interrupt never fails a write of our output
  // or a read of the library's; the prompt waits with ppoll, which returns.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterrupts) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    if (sigaction(signal, &action, nullptr) == 0) sigaddset(&g_caught, signal);
  }
}

int Interruption() { return g_interruption.load(); }

bool WaitForInput(int fd) {
  const sigset_t interrupts = InterruptSet();
  sigset_t previous;
  // Blocked until ppoll unblocks them atomically: an interrupt that comes
  // just before the wait cannot be missed.
  pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
  pollfd input{fd, POLLIN, 0};
  while (g_interruption.load() == 0 && ppoll(&input, 1, nullptr, &previous) < 0 && errno == EINTR) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return g_interruption.load() == 0;
}

void EndByInterruption() {
  const int signal = g_interruption.load();
  if (signal == 0) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

void HoldInterrupts(const HeldWrite& write, Hold* hold) {
  hold->write = &write;
  const sigset_t interrupts = InterruptSet();
  // Threads started from here on, the library's included, inherit the mask.
  pthread_sigmask(SIG_BLOCK, &interrupts, &hold->previousMask);
  g_holding.store(true);
  clock_gettime(CLOCK_MONOTONIC, &hold->start);
  hold->signalFd = signalfd(-1, &interrupts, SFD_CLOEXEC | SFD_NONBLOCK);
  hold->wakeFd = eventfd(0, EFD_CLOEXEC);
  hold->helperRunning = hold->signalFd >= 0 && hold->wakeFd >= 0 &&
                        pthread_create(&hold->helper, nullptr, WatchHeldWrite, hold) == 0;
}

void ReleaseInterrupts(Hold* hold) {
  if (hold->helperRunning) {
    const std::uint64_t one = 1;
    if (write(hold->wakeFd, &one, sizeof one) != sizeof one) {
      // An eventfd counter of 1 cannot overflow: the helper always wakes.
    }
    pthread_join(hold->helper, nullptr);
  }
  // Interrupts that came after the helper's last look are held all the same.
  if (hold->signalFd >= 0) {
    TakeHeldSignals(hold->signalFd);
    close(hold->signalFd);
  }
  if (hold->wakeFd >= 0) close(hold->wakeFd);
  if (g_interruption.load() != 0) RestoreDefaultActions();
  g_holding.store(false);
  pthread_sigmask(SIG_SETMASK, &hold->previousMask, nullptr);
}
