// A record of every call into the device library, for support: with
// TOLVARINE_TRACE=FILE each call appends two lines to FILE, one when it
// starts (the entry point and its arguments) and one when it returns (its
// result, what it wrote back, its duration), so that a call that hangs
// shows by its first line. Loading and unloading the library are traced
// too, naming the file loaded. A line is
//   <microseconds since start> <pid> call tq_OpenDevice(L1, 0, 0)
//   <microseconds since start> <pid> return tq_OpenDevice -> D1 (0.004 ms)
// (dlopen and dlclose for the loading and unloading).
// Handles are named in the order first seen (L lists, D devices, H others,
// null); texts are JSON strings; byte buffers show their length and up to
// 64 bytes in hex; numbers are decimal. Each line is one write to a file
// opened for appending, so several runs can share one file.
//
// Without the variable nothing is opened, and a call pays one test.
// Library calls come from one thread; none of this is async-signal-safe.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string_view>
#include <type_traits>

#include "cli/json.h"
#include "devlib/contract.h"

// Opens the trace when TOLVARINE_TRACE names a file (O_APPEND, O_CREAT,
// O_NOFOLLOW, mode 0600); when it cannot, says so once on standard error,
// "TolvarineCli: cannot write the trace to FILE (<reason>)", and the run
// goes on untraced. Call once, first.
void OpenTrace();

// The trace's descriptor, or -1: test it before building a line.
extern int g_traceFd;
inline bool Tracing() { return g_traceFd >= 0; }

// The line being built: its text so far.
JsonText& TraceLine();
// Starts a line: time, process, "call" (a call starts) or "return", and
// what; returns the time in microseconds.
long long TraceBegin(bool call, const char* what);
// Writes the line built, with its line end, in one write.
void TraceEnd();
// " (N.NNN ms)" since `started`.
void TraceDuration(long long started);

// The name of a handle: "null", or L/D/H and its number, given in the
// order first seen; `kind` is the letter for one not seen before.
void TraceHandle(const void* handle, char kind = 'H');
void TraceBytes(const void* bytes, long long count);
void TraceText(const char* text);

// The loading and unloading of the library: the file checked, then how it
// went. TraceLoad and TraceUnload return the time they started.
long long TraceLoad(const struct stat& file);
void TraceLoaded(long long started, bool loaded);
long long TraceUnload();
void TraceUnloaded(long long started);

// Arguments, by type. Bytes are shown only where the contract gives their
// length: bytes sent (const unsigned char*, then their count) at the
// call's start, bytes read (char*, then the capacity, as many as the int
// result says and never more than the capacity) at its return; any other
// buffer is only named, so that the trace never reads past one.
namespace trace_detail {

struct None {};

template <typename T>
constexpr bool kCount = std::is_integral_v<T> && !std::is_same_v<T, bool>;

template <typename T>
void PutValue(T value) {
  JsonText& line = TraceLine();
  if constexpr (std::is_same_v<T, bool>) {
    PutRaw(line, value ? "true" : "false");
  } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
    PutNumber(line, static_cast<long long>(value));
  } else if constexpr (std::is_same_v<T, const char*>) {
    TraceText(value);
  } else if constexpr (std::is_same_v<T, void*>) {
    TraceHandle(value);
  } else if constexpr (std::is_same_v<T, void**>) {
    PutRaw(line, "&");
    TraceHandle(value != nullptr ? *value : nullptr);
  } else if constexpr (std::is_pointer_v<T>) {
    PutRaw(line, value != nullptr ? "&" : "null");
  } else {
    PutRaw(line, "{...}");  // a record passed by value, untouched
  }
}

template <typename T, typename Next>
void PutArgument(T value, const Next& next) {
  if constexpr (std::is_same_v<T, const unsigned char*> && kCount<Next>) {
    TraceBytes(value, static_cast<long long>(next));
  } else {
    PutValue(value);
  }
}

template <typename First, typename Second, typename... Rest>
void PutArguments(const First& first, const Second& second, const Rest&... rest) {
  PutArgument(first, second);
  if constexpr (!std::is_same_v<Second, None>) {
    PutRaw(TraceLine(), ", ");
    PutArguments(second, rest...);
  }
}

// What a pointer argument holds once the call has returned: a number it
// points to, the bytes read, a device record's kind and text. `read` is
// the int result (-1: none).
template <typename T, typename Next>
void PutWrittenBack(T value, const Next& next, long long read) {
  JsonText& line = TraceLine();
  if constexpr (std::is_same_v<T, unsigned*> || std::is_same_v<T, int*>) {
    if (value != nullptr) {
      PutRaw(line, ", ");
      PutNumber(line, *value);
    }
  } else if constexpr (std::is_same_v<T, char*> && kCount<Next>) {
    const long long capacity = static_cast<long long>(next);
    if (read >= 0) {
      PutRaw(line, ", ");
      TraceBytes(value, read < capacity ? read : capacity);
    }
  } else if constexpr (std::is_same_v<T, st_device_info*>) {
    if (value != nullptr) {
      PutRaw(line, ", kind ");
      PutNumber(line, value->kind);
      PutRaw(line, ", ");
      TraceText(value->info);  // cut at its 4096 bytes: never past the record
    }
  }
}

template <typename First, typename Second, typename... Rest>
void PutWrittenBacks(long long read, const First& first, const Second& second,
                     const Rest&... rest) {
  PutWrittenBack(first, second, read);
  if constexpr (!std::is_same_v<Second, None>) PutWrittenBacks(read, second, rest...);
}

}  // namespace trace_detail

// The start line of a call of `name` with `args`; returns its time.
template <typename... Args>
long long TraceCall(const char* name, const Args&... args) {
  const long long started = TraceBegin(true, name);
  PutRaw(TraceLine(), "(");
  if constexpr (sizeof...(Args) > 0) trace_detail::PutArguments(args..., trace_detail::None{});
  PutRaw(TraceLine(), ")");
  TraceEnd();
  return started;
}

// The return line: the result (a pointer returned by tq_EnumDevices names a
// list, by tq_OpenDevice a device), what the pointer arguments hold now,
// the duration.
template <typename Result, typename... Args>
void TraceReturn(const char* name, long long started, const Result* result, const Args&... args) {
  TraceBegin(false, name);
  long long read = -1;  // bytes an int result says were read
  if constexpr (!std::is_void_v<Result>) {
    PutRaw(TraceLine(), " -> ");
    if constexpr (std::is_same_v<Result, void*>) {
      const std::string_view entry(name);
      TraceHandle(*result, entry == "tq_EnumDevices" ? 'L' : entry == "tq_OpenDevice" ? 'D' : 'H');
    } else {
      trace_detail::PutValue(*result);
      if constexpr (std::is_same_v<Result, int>) read = *result;
    }
  }
  if constexpr (sizeof...(Args) > 0) {
    trace_detail::PutWrittenBacks(read, args..., trace_detail::None{});
  }
  TraceDuration(started);
  TraceEnd();
}
