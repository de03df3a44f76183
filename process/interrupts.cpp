#include "process/interrupts.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
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
constexpr std::size_t kInterruptCount = std::size(kInterrupts);
constexpr std::size_t kStopCount = std::size(kStops);
constexpr time_t kGraceSeconds = 2;
constexpr long long kRepeatNanoseconds = 100'000'000;

std::atomic<int> g_interruption{0};
// Who sent the first interrupt (0: the kernel, for a terminal's keys) and
// when, to tell a repeat of it from a second interrupt.
std::atomic<pid_t> g_firstSender{0};
std::atomic<long long> g_firstAt{0};
std::atomic<int> g_heldStop{0};  // the first stop signal held during a write
// While a write holds signals, one taken by any thread (a thread of the
// library that blocks nothing included) is recorded only, never acted on.
std::atomic<bool> g_holding{false};
std::atomic<bool> g_inLibrary{false};
// Wakes the helper of a held write when a handler recorded a signal.
std::atomic<int> g_pokeFd{-1};
// The time limit: a timer that signals the main thread, made when the
// first interrupt comes (a run that is never interrupted pays nothing).
enum GraceState { kGraceUnset, kGraceSettingUp, kGraceReady, kGraceFailed };
std::atomic<int> g_graceState{kGraceUnset};
int g_graceTimer = -1;   // the kernel's id
pid_t g_mainThread = 0;  // the main thread: the one that calls the library
int g_nullFd = -1;       // /dev/null, where blocked output goes after an interrupt
bool g_heldWriteFinished = false;
const char* g_progressPrefix = nullptr;  // JSON progress lines on standard output
std::atomic<void (*)()> g_lastWords{nullptr};

// Says the run's last words, if any, before the tool ends from a handler.
void SayLastWords() {
  if (void (*words)() = g_lastWords.load()) words();
}

// The disposition of every signal the tool governs outside a held write,
// as set at start: the interrupts. (A held write sets the stops' own for
// its time; the time limit's signal is taken when the first interrupt
// comes, after the library is loaded.)
constexpr std::size_t kGoverned = kInterruptCount;
int g_governed[kGoverned];
struct sigaction g_policy[kGoverned];

long long MonotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

sigset_t SetOf(std::span<const int> signals, std::span<const int> more = {}) {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : signals) sigaddset(&set, signal);
  for (int signal : more) sigaddset(&set, signal);
  return set;
}

// Writes a notice to standard error only when it can take it at once: a
// notice is not worth a blocked run. Async-signal-safe.
void Notice(std::string_view text) {
  pollfd ready{STDERR_FILENO, POLLOUT, 0};
  if (poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0) return;
  // A notice is shorter than PIPE_BUF: a pipe with room takes it whole.
  if (write(STDERR_FILENO, text.data(), text.size()) < 0) {
    // Dropped, as one that could not be taken at once.
  }
}

void OnGraceOver(int);

// Says why the time limit cannot be had. Async-signal-safe.
void GraceFailed(std::string_view what) {
  const int error = errno;
  char line[256];
  std::size_t at = 0;
  const auto put = [&](std::string_view text) {
    for (char c : text) {
      if (at < sizeof line) line[at++] = c;
    }
  };
  put("TolvarineCli: cannot ");
  put(what);
  put(" the time limit of a library call (error ");
  char digits[12];
  std::size_t count = 0;
  for (unsigned value = static_cast<unsigned>(error); count == 0 || value != 0; value /= 10) {
    digits[count++] = static_cast<char>('0' + value % 10);
  }
  while (count > 0) put({&digits[--count], 1});
  put("): after an interrupt, a call that hangs is waited for\n");
  Notice({line, at});
}

// Makes the timer, the first time; says once when it cannot.
// Async-signal-safe: raw system calls.
bool GraceReady() {
  int state = kGraceUnset;
  if (!g_graceState.compare_exchange_strong(state, kGraceSettingUp)) return state == kGraceReady;
  struct sigaction grace {};
  grace.sa_handler = OnGraceOver;
  grace.sa_flags = SA_RESTART;
  sigemptyset(&grace.sa_mask);
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = SIGRTMIN;
  event._sigev_un._tid = g_mainThread;
  const bool ready = sigaction(SIGRTMIN, &grace, nullptr) == 0 &&
                     syscall(SYS_timer_create, CLOCK_MONOTONIC, &event, &g_graceTimer) == 0;
  if (!ready) GraceFailed("set up");
  g_graceState.store(ready ? kGraceReady : kGraceFailed);
  return ready;
}

void ArmGrace() {
  const itimerspec once = {{0, 0}, {kGraceSeconds, 0}};
  if (GraceReady() && syscall(SYS_timer_settime, g_graceTimer, 0, &once, nullptr) != 0) {
    GraceFailed("start");
  }
}

void Poke() {
  const std::uint64_t one = 1;
  const int fd = g_pokeFd.load();
  if (fd >= 0 && write(fd, &one, sizeof one) != sizeof one) {
    // Already poked: the counter is not read yet.
  }
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

// An interrupt from `sender` (0: the kernel), taken by a handler or read
// from a held write's signalfd. Async-signal-safe.
void TakeInterrupt(int signal, pid_t sender) {
  const long long at = MonotonicNanoseconds();
  if (g_interruption.load() == 0) {
    g_firstSender.store(sender);
    g_firstAt.store(at);
  }
  int none = 0;
  if (g_interruption.compare_exchange_strong(none, signal)) {
    if (g_holding.load()) {
      Poke();
    } else {
      ArmGrace();
    }
  } else if (g_holding.load()) {
    Poke();
  } else if (signal != none || sender != g_firstSender.load() ||
             at - g_firstAt.load() >= kRepeatNanoseconds) {
    // A second interrupt, not a repeat: the user wants out now. In a
    // library call the run's state stands still and can be told.
    if (g_inLibrary.load()) SayLastWords();
    EndBy(signal);
  }
}

// The sender of a signal sent by a process (kill, sigqueue, tgkill), or 0
// for one the kernel sent.
pid_t SenderOf(int code, pid_t pid) { return code <= 0 ? pid : 0; }

void OnInterrupt(int signal, siginfo_t* info, void*) {
  const int savedErrno = errno;
  TakeInterrupt(signal, info != nullptr ? SenderOf(info->si_code, info->si_pid) : 0);
  errno = savedErrno;
}

void OnStop(int signal) {
  const int savedErrno = errno;
  int none = 0;
  g_heldStop.compare_exchange_strong(none, signal);
  Poke();
  errno = savedErrno;
}

bool Writable(int fd) {
  pollfd ready{fd, POLLOUT, 0};
  return poll(&ready, 1, 0) == 1 && (ready.revents & POLLOUT) != 0;
}

// The time limit after an interrupt is over; runs on the main thread.
// Outside a held write: a library call that has not returned by now may
// never return, and the tool ends by the interrupt; output of the tool's
// own that is blocked (a reader that does not read, a stopped terminal)
// goes to /dev/null from here on, so that the write in progress, restarted
// after this handler, completes and the run can close the device.
void OnGraceOver(int) {
  const int savedErrno = errno;
  const int signal = g_interruption.load();
  if (signal != 0 && !g_holding.load()) {
    if (g_inLibrary.load()) {
      Notice(
          "TolvarineCli: the device library did not return; ending without closing the device\n");
      SayLastWords();
      EndBy(signal);
    }
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
      if (Writable(fd)) continue;
      if (g_nullFd < 0) g_nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
      if (g_nullFd >= 0) dup2(g_nullFd, fd);
    }
    ArmGrace();  // the next step may block too
  }
  errno = savedErrno;
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
    if (signal == SIGTSTP || signal == SIGTTIN || signal == SIGTTOU) {
      OnStop(signal);
    } else {
      TakeInterrupt(signal, SenderOf(info.ssi_code, static_cast<pid_t>(info.ssi_pid)));
    }
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
  long reported = 0;  // seconds reported as JSON
  for (;;) {
    TakeHeldSignals(hold.signalFd);
    if ((g_interruption.load() != 0 || g_heldStop.load() != 0) && !noticed) {
      if (progressShown) Notice("\n");
      progressShown = false;
      char line[256];
      std::snprintf(line, sizeof line,
                    "TolvarineCli: %s is in progress and will finish before the tool stops\n",
                    hold.write->what);
      Notice(line);
      noticed = true;
    }
    const long elapsed = ElapsedMilliseconds(hold.start);
    if (g_progressPrefix != nullptr && elapsed >= 1000 && elapsed / 1000 > reported) {
      reported = elapsed / 1000;
      char line[256];
      const int length =
          std::snprintf(line, sizeof line, "%s%ld}\n", g_progressPrefix, elapsed / 1000);
      if (length > 0 && static_cast<std::size_t>(length) < sizeof line && Writable(STDOUT_FILENO) &&
          write(STDOUT_FILENO, line, length) < 0) {
        // Dropped, as a line nobody reads at once is: progress never holds
        // the write up.
      }
    } else if (terminal && elapsed >= 1000 && MayDrawProgress()) {
      char line[256];
      std::snprintf(line, sizeof line, "\r%s %ld s", hold.write->progress, elapsed / 1000);
      Notice(line);
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
  if (progressShown) Notice("\n");
  return nullptr;
}

// Sets `signal`'s disposition, saying on standard error when it cannot.
bool SetAction(int signal, const struct sigaction& action, struct sigaction* previous) {
  if (sigaction(signal, &action, previous) == 0) return true;
  ReportError("TolvarineCli: cannot set the handling of signal %d: %s", signal,
              std::strerror(errno));
  return false;
}

bool SameAction(const struct sigaction& a, const struct sigaction& b) {
  return (a.sa_flags & SA_SIGINFO) == (b.sa_flags & SA_SIGINFO) &&
         ((a.sa_flags & SA_SIGINFO) != 0 ? a.sa_sigaction == b.sa_sigaction
                                         : a.sa_handler == b.sa_handler);
}

void SetMask(int how, const sigset_t* set, sigset_t* previous) {
  const int error = pthread_sigmask(how, set, previous);
  if (error != 0) {
    ReportError("TolvarineCli: cannot change the signal mask: %s", std::strerror(error));
  }
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action {};
  // Restarted system calls: an interrupt never fails a write of our output
  // or a read of the library's; the prompt waits with ppoll, which returns.
  action.sa_flags = SA_RESTART | SA_SIGINFO;
  action.sa_mask = SetOf(kInterrupts);  // one at a time, in the order they come
  action.sa_sigaction = OnInterrupt;
  std::size_t governed = 0;
  for (int signal : kInterrupts) {
    struct sigaction previous {};
    if (!SetAction(signal, action, &previous)) continue;
    g_governed[governed] = signal;
    g_policy[governed++] = action;
    if (previous.sa_handler == SIG_IGN) {  // nohup's choice stays
      SetAction(signal, previous, nullptr);
      g_policy[governed - 1] = previous;
    }
  }
  // The time limit's timer signals this thread, the one that makes the
  // library calls and writes the output (the process's first: its id is
  // the process's). A real-time signal of its own: a library that uses
  // SIGALRM keeps it.
  g_mainThread = getpid();
  for (std::size_t i = governed; i < kGoverned; ++i) g_governed[i] = 0;
}

void ReclaimSignals() {
  for (std::size_t i = 0; i < kGoverned && g_governed[i] != 0; ++i) {
    struct sigaction now {};
    if (sigaction(g_governed[i], nullptr, &now) != 0 || !SameAction(now, g_policy[i])) {
      SetAction(g_governed[i], g_policy[i], nullptr);
    }
  }
}

int Interruption() { return g_interruption.load(); }

bool WaitForInput(int fd) {
  const sigset_t interrupts = SetOf(kInterrupts);
  sigset_t previous;
  // Blocked until ppoll unblocks them atomically: an interrupt that comes
  // just before the wait cannot be missed.
  SetMask(SIG_BLOCK, &interrupts, &previous);
  pollfd input{fd, POLLIN, 0};
  while (g_interruption.load() == 0 && ppoll(&input, 1, nullptr, &previous) < 0 && errno == EINTR) {
  }
  SetMask(SIG_SETMASK, &previous, nullptr);
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
  // Marked before signals are blocked: from here on an interrupt taken by
  // any thread is only recorded, so none can end the tool in the write.
  g_holding.store(true);
  // Threads started from here on, the library's included, inherit the mask.
  const sigset_t held = SetOf(kInterrupts, kStops);
  sigset_t previousMask;
  SetMask(SIG_BLOCK, &held, &previousMask);
  if (g_interruption.load() != 0) {
    SetMask(SIG_SETMASK, &previousMask, nullptr);
    g_holding.store(false);
    return false;
  }
  // A library thread that existed before blocks none of them: a stop with
  // its default action would stop the whole process through it.
  struct sigaction onStop {};
  onStop.sa_handler = OnStop;
  onStop.sa_flags = SA_RESTART;
  sigemptyset(&onStop.sa_mask);
  struct sigaction previousStop[kStopCount] = {};
  bool stopCaught[kStopCount] = {};
  for (std::size_t i = 0; i < kStopCount; ++i) {
    stopCaught[i] = sigaction(kStops[i], nullptr, &previousStop[i]) == 0 &&
                    previousStop[i].sa_handler != SIG_IGN && SetAction(kStops[i], onStop, nullptr);
  }
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
  g_heldWriteFinished = true;
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
  // Unblocked while the hold and its stop handlers stand: what is pending
  // now is recorded like the rest, and a stop waits for StopIfHeld.
  SetMask(SIG_SETMASK, &previousMask, nullptr);
  for (std::size_t i = 0; i < kStopCount; ++i) {
    if (stopCaught[i]) SetAction(kStops[i], previousStop[i], nullptr);
  }
  g_holding.store(false);
  return true;
}

void StopIfHeld() {
  const int stop = g_heldStop.exchange(0);
  if (stop != 0 && g_interruption.load() == 0) raise(stop);
}

bool HeldWriteFinished() { return g_heldWriteFinished; }

void SetLastWords(void (*words)()) { g_lastWords.store(words); }

void ReportProgressAs(const char* prefix) { g_progressPrefix = prefix; }
