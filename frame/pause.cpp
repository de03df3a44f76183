#include "frame/pause.h"

#include <sys/mman.h>

#include <algorithm>
#include <ctime>

namespace {

constexpr long kPauseNanoseconds = 50000;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kPagesPerRun = 4;

}  // namespace

void MakePages(std::span<std::uint8_t> bytes) {
  if (bytes.empty()) return;
  const auto first = reinterpret_cast<std::uintptr_t>(bytes.data()) & ~(kPage - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(bytes.data() + bytes.size());
#ifdef MADV_POPULATE_WRITE
  // One call for them all where the kernel has it (5.14 and later); it
  // changes no byte, so the page the library has begun to fill may be in.
  if (madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) == 0) return;
#endif
  // Otherwise one write per page, of the zero the page holds anyway, never
  // below `bytes`: what lies there may be the library's.
  *reinterpret_cast<volatile std::uint8_t*>(bytes.data()) = 0;
  for (std::uintptr_t page = first + kPage; page < end; page += kPage) {
    *reinterpret_cast<volatile std::uint8_t*>(page) = 0;
  }
}

std::size_t PauseBetweenReads(std::span<std::uint8_t> ahead) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long deadline = now.tv_sec * 1000000000LL + now.tv_nsec + kPauseNanoseconds;
  const auto elapsed = [&] {
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec >= deadline;
  };
  // A sleep lasts 20 to 80 us more than asked; spinning on the clock keeps
  // the pause at 50 us. Pages are made in runs that take a few us each.
  std::size_t made = 0;
  while (made < ahead.size() && !elapsed()) {
    const std::size_t run = std::min(kPagesPerRun * kPage, ahead.size() - made);
    MakePages(ahead.subspan(made, run));
    made += run;
  }
  while (!elapsed()) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  return made;
}
