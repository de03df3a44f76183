// Interrupts: SIGINT, SIGTERM, SIGHUP and SIGQUIT.
//
// Outside a device write the first interrupt is recorded and the run stops
// in order at the next step (close, release, unload), then ends by that
// signal; a second one ends the tool at once. During a device write
// (firmware update, configuration write) every interrupt is held back: the
// calling thread never sees it, a helper thread says at once that the write
// will finish first, and the run ends by the signal after it.
#pragma once

#include <pthread.h>
#include <signal.h>

#include <ctime>

// Catches the four interrupts, except those ignored at start (as nohup and
// background jobs leave them), which stay ignored.
void CatchInterrupts();

// The first interrupt received, or 0.
int Interruption();

// Waits until `fd` has something to read, or an interrupt comes. Returns
// true when it can be read.
bool WaitForInput(int fd);

// Ends the process by the recorded interrupt, with the signal's default
// action, after everything has been released. Returns when there is none.
void EndByInterruption();

// What a device write says while interrupts are held.
struct HeldWrite {
  const char* progress;  // on a terminal, after a second, with the seconds
  const char* notice;    // when an interrupt comes
};

struct Hold {
  const HeldWrite* write = nullptr;
  sigset_t previousMask;
  timespec start{};
  int signalFd = -1;
  int wakeFd = -1;
  pthread_t helper{};
  bool helperRunning = false;
};

// Holds interrupts back from here to ReleaseInterrupts, on the same thread;
// `hold` must stay in place in between.
void HoldInterrupts(const HeldWrite& write, Hold* hold);
void ReleaseInterrupts(Hold* hold);
