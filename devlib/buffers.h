// Buffers handed to the device library: allocated with calloc (no exception
// to catch; large blocks come as fresh zero pages) and freed by the handler
// that owns them, on every return.
#pragma once

#include <cstdlib>
#include <memory>

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

template <typename T>
using CallocBuffer = std::unique_ptr<T, FreeDeleter>;
