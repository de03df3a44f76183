// The standard streams: standard output as the tool hands it to the system
// around the device library (nothing printed is left in a buffer when the
// library runs, and a write error is reported once, at the end), and the
// lines that go to standard error.
#pragma once

#include <cstdio>

// Prints one line (the format, then "\n") on standard error, after handing
// what standard output holds to the system, so that both streams keep
// their order when they share a file.
void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no descriptor the library opens later becomes a standard stream, and
// ignores SIGPIPE, so that a reader going away shows as a write error
// instead of ending the tool with the device open. Call before loading the
// library.
void PrepareStandardStreams();

// Hands what standard output holds to the system; no call when nothing is
// pending. Called before every library call and before the unload.
void FlushOutput();

// Records that a write to `stream` failed with `error` (an errno value);
// only the first failure of standard output counts.
void NoteOutputFailure(std::FILE* stream, int error);

// Flushes standard output; when any write to it failed, prints
// "TolvarineCli: cannot write output: <reason>" on standard error and
// returns false, except when the reader went away (EPIPE), which ends the
// output silently. Returns true otherwise.
bool FinishOutput();
