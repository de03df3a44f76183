// Interrupts (SIGINT, SIGTERM, SIGHUP, SIGQUIT) and job control.
//
// Outside a device write the first interrupt is recorded and the run stops
// in order at the next step (close, release, unload), then ends by that
// signal. The same signal from the same sender within 100 ms repeats the
// first (timeout(1) signals the tool and then its process group) and is
// not counted; any other interrupt ends the tool at once. When the library
// call in progress has not returned two seconds after the interrupt, the
// tool says so and ends by the signal without waiting for it; when the
// tool's own output is blocked by then (a reader that does not read), the
// rest of it is dropped, so that the run can still close the device.
//
// A device write (firmware update, configuration write) runs with
// interrupts and the stop signals (SIGTSTP, SIGTTIN, SIGTTOU) held: none
// cuts or freezes it, whichever thread takes it; a line says at once that
// the write will finish first; after it the write's outcome is printed,
// and then the run ends by the held interrupt, or stops for a held stop
// (StopIfHeld) and goes on when continued.
//
// Notices on standard error never block: one that standard error cannot
// take at once is dropped.
#pragma once

// Catches the four interrupts, except those ignored at start (as nohup and
// background jobs leave them), which stay ignored, and readies the time
// limit of a library call after an interrupt; says on standard error, once,
// what could not be set up. Call from the main thread, before any other
// thread exists.
void CatchInterrupts();

// Puts back the tool's handling of every signal it governs that the device
// library changed when it was loaded (a library that installs handlers of
// its own would otherwise undo the held write or the time limit). Call
// after loading the library.
void ReclaimSignals();

// The first interrupt received, or 0. Async-signal-safe.
int Interruption();

// Waits until `fd` has something to read, or an interrupt comes. Returns
// true when it can be read.
bool WaitForInput(int fd);

// Called around every call into the device library (its loading and
// unloading included): a call begun after an interrupt, or in progress
// when one comes, gets two seconds to return.
void LibraryCallBegins();
void LibraryCallEnds();

// Ends the process by the recorded interrupt, with the signal's default
// action, after everything has been released. Returns when there is none.
void EndByInterruption();

// What a device write says while signals are held.
struct HeldWrite {
  const char* what;      // "the firmware update"
  const char* progress;  // on a terminal, after a second, with the seconds
};

// Runs call(context) with interrupts and stop signals held, as `write`
// says. Returns false, without calling, when an interrupt came before:
// no device write starts after one. When the watch that announces held
// signals cannot be set up, it says so and the call runs all the same.
bool RunHeld(const HeldWrite& write, void (*call)(void* context), void* context);

// From now on a held write lasting over a second reports on standard
// output, once a second, the line `prefix` N "}\n" (N the seconds), and
// draws no progress line on standard error. `prefix` must outlive the run.
void ReportProgressAs(const char* prefix);

// True once a held write has run to its end (RunHeld called its call).
bool HeldWriteFinished();

// `words` is called, from a signal handler, when the tool ends there
// without returning to the run flow: a library call that did not return
// in time, or a second interrupt during a library call. It must be
// async-signal-safe.
void SetLastWords(void (*words)());

// A stop signal held during a device write takes effect now: the process
// stops, and returns from here when continued. Nothing happens when none
// was held, or when an interrupt ends the run anyway. Call once the
// write's outcome has been printed and handed to the system.
void StopIfHeld();
