// Loading the device library and reaching its entry points.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <type_traits>

#include "devlib/trace.h"
#include "process/interrupts.h"
#include "process/streams.h"

// The loader handle of ./Tolvarine.so; null while the library is not loaded.
extern void* g_handle;

// Loads ./Tolvarine.so from the current directory with immediate binding:
// the very file that was checked (trust.h), through its descriptor, so that
// a file swapped in after the check is never loaded. Returns true on
// success; on failure prints one line on standard error and returns false:
// the loader's text, naming the library ./Tolvarine.so (for a missing file
// "./Tolvarine.so: cannot open shared object file: No such file or
// directory"), or for a library that another user could have put there,
// or that cannot be checked, "Refusing to load ./Tolvarine.so: <reason>"
// with one of these reasons (<what> is "folder <path>" or the file's
// "<path>"; when the path is longer than PATH_MAX, "(inode <n> on device
// <major>:<minor>)" stands for it):
//   "<what> is owned by user <name> (<uid>)"      or "... by user <uid>"
//   "<what> is writable by other users"
//   "<what> is writable by group <name> (<gid>)"  or "... by group <gid>"
//   "<what> is writable by user <name> (<uid>) through its ACL"
//   "<what> is writable by group <name> (<gid>) through its ACL"
//   "the current folder is not reachable from /"
//   "cannot check <what>: <system's reason>"
//   "cannot read the ACL of <what>: <system's reason>"
//   "its path is too long to check"
//   "cannot reach the checked file through /proc/self/fd: <system's reason>"
//   "/proc/self/fd does not lead to the checked file"
bool Opendl();

// Prints a text of the system's loader and "\n" on standard error, with
// ./Tolvarine.so for the descriptor's name the library was loaded under;
// when it `failsTheRun`, it is the result's message too (ReportFailure).
void ReportLoaderText(const char* text, bool failsTheRun = false);

// Unloads the library when it is loaded, after handing what standard output
// holds to the system; g_handle is null afterwards.
void Closedl();

template <typename Fn>
struct EntryResult;
template <typename R, typename... P>
struct EntryResult<R(P...)> {
  using type = R;
};

// Calls the entry point `name` of type Fn, looked up afresh on every call,
// after handing what standard output holds to the system (a crash inside
// the library loses nothing printed before it), as a library call that an
// interrupt gives a grace period (interrupts.h), traced when asked
// (trace.h). Returns kFailure without
// printing when the library is not loaded, and kFailure after printing the
// loader's text when the entry point is missing.
template <typename Fn, auto kFailure, typename... Args>
typename EntryResult<Fn>::type CallEntry(const char* name, Args... args) {
  using Result = typename EntryResult<Fn>::type;
  void* symbol = nullptr;
  const char* error = nullptr;
  if (g_handle != nullptr) {
    dlerror();  // a stale text must not be taken for this lookup's
    symbol = dlsym(g_handle, name);
    error = dlerror();
    if (error != nullptr) ReportLoaderText(error);
  }
  if (symbol == nullptr) {
    if constexpr (std::is_void_v<Result>) {
      return;
    } else {
      return static_cast<Result>(kFailure);
    }
  }
  FlushOutput();
  const long long started = Tracing() ? TraceCall(name, args...) : 0;
  LibraryCallBegins();
  if constexpr (std::is_void_v<Result>) {
    reinterpret_cast<Fn*>(symbol)(args...);
    LibraryCallEnds();
    if (Tracing()) TraceReturn<void>(name, started, nullptr, args...);
  } else {
    const Result result = reinterpret_cast<Fn*>(symbol)(args...);
    LibraryCallEnds();
    if (Tracing()) TraceReturn(name, started, &result, args...);
    return result;
  }
}
