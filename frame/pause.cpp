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

std::size_t PauseBetweenReads(std::span<std::uint8_t> ahead, std::span<std::uint8_t>* spare) {
  const auto now = [] {
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time.tv_sec * 1000000000LL + time.tv_nsec;
  };
  long long at = now();
  const long long deadline = at + kPauseNanoseconds;
  // A sleep lasts 20 to 80 us more than asked; spinning on the clock keeps
  // the pause at 50 us. Pages are made in runs that take a few us each, and
  // a run is begun only when one as long as the last would end in time.
  long long last = 0;
  std::size_t made = 0;
  while (at + last < deadline) {
    std::span<std::uint8_t> run;
    if (made < ahead.size()) {
      run = ahead.subspan(made, std::min(kPagesPerRun * kPage, ahead.size() - made));
      made += run.size();
    } else if (spare != nullptr && !spare->empty()) {
      run = spare->first(std::min(kPagesPerRun * kPage, spare->size()));
      *spare = spare->subspan(run.size());
    } else {
      break;
    }
    MakePages(run);
    const long long before = at;
    at = now();
    last = at - before;
  }
  while (now() < deadline) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  return made;
}
