#include "process/interrupts.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <span>
#include <string_view>

#include "process/streams.h"

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kStops[] = {SIGTSTP, SIGTTIN, SIGTTOU};
constexpr time_t kGraceSeconds = 2;

std::atomic<int> g_interruption{0};
std::atomic<int> g_heldStop{0};  // the first stop signal held during a write
// While a write holds signals, one delivered to a thread of the library
// that does not block them is recorded only, never acted on.
std::atomic<bool> g_holding{false};
std::atomic<bool> g_inLibrary{false};
// Wakes the helper of a held write when a library thread took a signal.
std::atomic<int> g_pokeFd{-1};
sigset_t g_caught;  // the interrupts whose handler is ours
timer_t g_grace;    // signals when the grace period of a library call is over
bool g_graceReady = false;

void Record(std::atomic<int>& first, int signal) {
  int none = 0;
  first.compare_exchange_strong(none, signal);
}

sigset_t SetOf(std::span<const int> signals, std::span<const int> more = {}) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : signals) sigaddset(&set, signal);
  for (int signal : more) sigaddset(&set, signal);
  return set;
}

// From now on an interrupt ends the tool at once.
void RestoreDefaultActions() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int signal : kInterrupts) {
    if (sigismember(&g_caught, signal) == 1) sigaction(signal, &action, nullptr);
  }
}

void ArmGrace() {
  const itimerspec once = {{0, 0}, {kGraceSeconds, 0}};
  if (g_graceReady) timer_settime(g_grace, 0, &once, nullptr);
}

void WriteToStandardError(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

void Poke() {
  const std::uint64_t one = 1;
  const int fd = g_pokeFd.load();
  if (fd >= 0 && write(fd, &one, sizeof one) != sizeof one) {
    // Already poked: the counter is not read yet.
  }
}

void OnInterrupt(int signal) {
  const int savedErrno = errno;
  Record(g_interruption, signal);
  if (g_holding.load()) {
    Poke();
  } else {
    RestoreDefaultActions();
    ArmGrace();
  }
  errno = savedErrno;
}

void OnStop(int signal) {
  const int savedErrno = errno;
  Record(g_heldStop, signal);
  Poke();
  errno = savedErrno;
}

// Ends the process by `signal` with its default action. Async-signal-safe.
void EndBy(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
}

// The grace period is over: a library call that has not returned by now may
// never return. Outside a held write, the tool ends by the interrupt.
void OnGraceOver(int) {
  const int signal = g_interruption.load();
  if (!g_inLibrary.load() || g_holding.load() || signal == 0) return;
  WriteToStandardError(
      "TolvarineCli: the device library did not return; ending without closing the device\n");
  EndBy(signal);
}

// A held write in progress: what its helper thread needs.
struct Hold {
  const HeldWrite* write;
  timespec start;
  int signalFd;
  int wakeFd;  // the write has returned
  int pokeFd;  // a handler recorded a signal
};

long ElapsedMilliseconds(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

void TakeHeldSignals(int signalFd) {
  signalfd_siginfo info{};
  while (read(signalFd, &info, sizeof info) == sizeof info) {
    const int signal = static_cast<int>(info.ssi_signo);
    const bool stop = signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU;
    Record(stop ? g_heldStop : g_interruption, signal);
  }
}

// A background job writes to its terminal only when let: the progress line
// is for the job in the foreground (or a terminal that is not ours).
bool MayDrawProgress() {
  const pid_t foreground = tcgetpgrp(STDERR_FILENO);
  return foreground < 0 || foreground == getpgrp();
}

// The helper thread of a held write: takes the held signals, says once that
// the write goes on, and shows the elapsed seconds on a terminal.
void* WatchHeldWrite(void* argument) {
  const Hold& hold = *static_cast<const Hold*>(argument);
  const bool terminal = isatty(STDERR_FILENO) == 1;
  bool noticed = false;
  bool progressShown = false;
  for (;;) {
    TakeHeldSignals(hold.signalFd);
    if ((g_interruption.load() != 0 || g_heldStop.load() != 0) && !noticed) {
      if (progressShown) WriteToStandardError("\n");
      progressShown = false;
      char line[256];
      std::snprintf(line, sizeof line,
                    "TolvarineCli: %s is in progress and will finish before the tool stops\n",
                    hold.write->what);
      WriteToStandardError(line);
      noticed = true;
    }
    const long elapsed = ElapsedMilliseconds(hold.start);
    if (terminal && elapsed >= 1000 && MayDrawProgress()) {
      char line[256];
      std::snprintf(line, sizeof line, "\r%s %ld s", hold.write->progress, elapsed / 1000);
      WriteToStandardError(line);
      progressShown = true;
    }
    pollfd fds[3] = {
        {hold.wakeFd, POLLIN, 0}, {hold.signalFd, POLLIN, 0}, {hold.pokeFd, POLLIN, 0}};
    if (poll(fds, 3, static_cast<int>(1000 - elapsed % 1000)) > 0 && fds[0].revents != 0) break;
    std::uint64_t pokes = 0;
    if (fds[2].revents != 0 && read(hold.pokeFd, &pokes, sizeof pokes) != sizeof pokes) {
      // Nothing to take: the next look shows what the handler recorded.
    }
  }
  if (progressShown) WriteToStandardError("\n");
  return nullptr;
}

}  // namespace

void CatchInterrupts() {
  sigemptyset(&g_caught);
  struct sigaction action {};
  // Restarted system calls: an interrupt never fails a write of our output
  // or a read of the library's; the prompt waits with ppoll, which returns.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  // The grace timer first, ready for the first interrupt. A real-time
  // signal of its own: a library that uses SIGALRM keeps it.
  action.sa_handler = OnGraceOver;
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGRTMIN;
  g_graceReady = sigaction(SIGRTMIN, &action, nullptr) == 0 &&
                 timer_create(CLOCK_MONOTONIC, &event, &g_grace) == 0;
  action.sa_handler = OnInterrupt;
  for (int signal : kInterrupts) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    if (sigaction(signal, &action, nullptr) == 0) sigaddset(&g_caught, signal);
  }
}

int Interruption() { return g_interruption.load(); }

bool WaitForInput(int fd) {
  const sigset_t interrupts = SetOf(kInterrupts);
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

void LibraryCallBegins() {
  g_inLibrary.store(true);
  if (g_interruption.load() != 0) ArmGrace();
}

void LibraryCallEnds() { g_inLibrary.store(false); }

void EndByInterruption() {
  const int signal = g_interruption.load();
  if (signal != 0) EndBy(signal);
}

bool RunHeld(const HeldWrite& write, void (*call)(void* context), void* context) {
  // Threads started from here on, the library's included, inherit the mask.
  const sigset_t held = SetOf(kInterrupts, kStops);
  sigset_t previousMask;
  pthread_sigmask(SIG_BLOCK, &held, &previousMask);
  if (g_interruption.load() != 0) {
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    return false;
  }
  // A library thread that existed before blocks none of them: a stop with
  // its default action would stop the whole process through it.
  struct sigaction onStop {};
  onStop.sa_handler = OnStop;
  onStop.sa_flags = SA_RESTART;
  constexpr std::size_t kStopCount = std::size(kStops);
  struct sigaction previousStop[kStopCount] = {};
  bool stopCaught[kStopCount] = {};
  for (std::size_t i = 0; i < kStopCount; ++i) {
    stopCaught[i] = sigaction(kStops[i], nullptr, &previousStop[i]) == 0 &&
                    previousStop[i].sa_handler != SIG_IGN &&
                    sigaction(kStops[i], &onStop, nullptr) == 0;
  }
  g_holding.store(true);
  Hold hold = {&write,
               {},
               signalfd(-1, &held, SFD_CLOEXEC | SFD_NONBLOCK),
               eventfd(0, EFD_CLOEXEC),
               eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  clock_gettime(CLOCK_MONOTONIC, &hold.start);
  g_pokeFd.store(hold.pokeFd);
  pthread_t helper{};
  int failure = hold.signalFd < 0 || hold.wakeFd < 0 || hold.pokeFd < 0 ? errno : 0;
  if (failure == 0) failure = pthread_create(&helper, nullptr, WatchHeldWrite, &hold);
  const bool helperRunning = failure == 0;
  if (!helperRunning) {
    ReportError("TolvarineCli: cannot watch %s (%s): signals wait for its end without notice",
                write.what, std::strerror(failure));
  }
  call(context);
  if (helperRunning) {
    const std::uint64_t one = 1;
    if (::write(hold.wakeFd, &one, sizeof one) != sizeof one) {
      // An eventfd counter of 1 cannot overflow: the helper always wakes.
    }
    pthread_join(helper, nullptr);
  }
  // Signals that came after the helper's last look are held all the same.
  if (hold.signalFd >= 0) {
    TakeHeldSignals(hold.signalFd);
    close(hold.signalFd);
  }
  g_pokeFd.store(-1);
  for (int fd : {hold.wakeFd, hold.pokeFd}) {
    if (fd >= 0) close(fd);
  }
  for (std::size_t i = 0; i < kStopCount; ++i) {
    if (stopCaught[i]) sigaction(kStops[i], &previousStop[i], nullptr);
  }
  if (g_interruption.load() != 0) RestoreDefaultActions();
  g_holding.store(false);
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  // A held stop takes effect now that the write is done, unless the run
  // is ending anyway; continued, the run goes on.
  const int stop = g_heldStop.exchange(0);
  if (stop != 0 && g_interruption.load() == 0) raise(stop);
  return true;
}
