// Interrupts (SIGINT, SIGTERM, SIGHUP, SIGQUIT) and job control.
//
// Outside a device write the first interrupt is recorded and the run stops
// in order at the next step (close, release, unload), then ends by that
// signal; a second one ends the tool at once. When the library call in
// progress has not returned two seconds after the interrupt, the tool says
// so and ends by the signal without waiting for it.
//
// A device write (firmware update, configuration write) runs with
// interrupts and the stop signals (SIGTSTP, SIGTTIN, SIGTTOU) held: none
// cuts or freezes it, a line says at once that the write will finish
// first, and after it the run stops (for a held stop: the process stops,
// and continues when told to) or ends by the held interrupt.
#pragma once

// Catches the four interrupts, except those ignored at start (as nohup and
// background jobs leave them), which stay ignored.
void CatchInterrupts();

// The first interrupt received, or 0.
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
