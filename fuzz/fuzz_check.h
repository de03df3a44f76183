// What the fuzz targets share: a property check that stops the run.
#pragma once

#include <cstdio>
#include <cstdlib>

// Aborts (a finding for libFuzzer) when a property does not hold.
inline void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}
