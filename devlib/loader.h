// Loading the device library and reaching its entry points.
#pragma once

#include <dlfcn.h>

#include <cstdio>
#include <type_traits>

#include "process/interrupts.h"
#include "process/streams.h"

// The loader handle of ./Tolvarine.so; null while the library is not loaded.
extern void* g_handle;

// Loads ./Tolvarine.so from the current directory with immediate binding.
// Returns true on success; on failure prints the loader's text and "\n" on
// standard error and returns false. A library that another user could have
// put there (the file, or a folder holding it or a link to it, writable by
// others; a sticky folder only when the entry is not root's or the user's)
// is not loaded: "Refusing to load ./Tolvarine.so: <what> is writable by
// other users" instead.
bool Opendl();

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
// interrupt gives a grace period (interrupts.h). Returns kFailure without
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
    if (error != nullptr) ReportError("%s", error);
  }
  if (symbol == nullptr) {
    if constexpr (std::is_void_v<Result>) {
      return;
    } else {
      return static_cast<Result>(kFailure);
    }
  }
  FlushOutput();
  LibraryCallBegins();
  if constexpr (std::is_void_v<Result>) {
    reinterpret_cast<Fn*>(symbol)(args...);
    LibraryCallEnds();
  } else {
    const Result result = reinterpret_cast<Fn*>(symbol)(args...);
    LibraryCallEnds();
    return result;
  }
}
