// Micro-benchmarks of the hex trace, the frame builders and the pause
// between reads.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "frame/frame.h"
#include "frame/pause.h"
#include "frame/trace.h"

namespace {

std::vector<std::uint8_t> Answer(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return bytes;
}

// A stream that takes every byte and keeps none.
std::FILE* DiscardingSink() {
  cookie_io_functions_t io{};
  io.write = [](void*, const char*, std::size_t size) -> ssize_t {
    return static_cast<ssize_t>(size);
  };
  return fopencookie(nullptr, "w", io);
}

void SetBytes(benchmark::State& state, std::size_t size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// The encoders at cache speed, as the floor is measured: 16 KiB of the
// answer at a time from a block that stays in the cache, into a reused
// 48 KiB block, no output; state.range(0) bytes in all. The vector one (as
// the tool chooses it) and the table one it falls back to.
void Encode(benchmark::State& state, std::size_t (*encoder)(std::span<const std::uint8_t>, char*)) {
  const auto size = static_cast<std::size_t>(state.range(0));
  const auto bytes = Answer(16 * 1024);
  std::vector<char> block(16 * 1024 * 3 + 1);
  for (auto _ : state) {
    for (std::size_t at = 0; at < size; at += 16 * 1024) {
      const std::size_t n = std::min<std::size_t>(16 * 1024, size - at);
      benchmark::DoNotOptimize(encoder({bytes.data(), n}, block.data()));
      benchmark::ClobberMemory();
    }
  }
  SetBytes(state, size);
}
void BM_Encode(benchmark::State& state) { Encode(state, EncodeHexTrace); }
void BM_EncodeTable(benchmark::State& state) { Encode(state, EncodeHexTraceTable); }

// The bound no encoder beats: storing the text's bytes (three per byte of
// the answer) into the same reused block.
void BM_MemsetFloor(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  std::vector<char> block(16 * 1024 * 3 + 1);
  for (auto _ : state) {
    for (std::size_t at = 0; at < size; at += 16 * 1024) {
      const std::size_t n = std::min<std::size_t>(16 * 1024, size - at);
      std::memset(block.data(), static_cast<int>(at & 0x7F), n * 3);
      benchmark::ClobberMemory();
    }
  }
  SetBytes(state, size);
}

// printData of state.range(0) bytes into `sink`, which it closes.
void PrintDataInto(benchmark::State& state, std::FILE* sink) {
  const auto bytes = Answer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) printData(1, bytes, sink);
  std::fclose(sink);
  SetBytes(state, bytes.size());
}
void BM_PrintDataDiscard(benchmark::State& state) { PrintDataInto(state, DiscardingSink()); }
void BM_PrintDataDevNull(benchmark::State& state) {
  PrintDataInto(state, std::fopen("/dev/null", "w"));
}

// The per-byte formatted print the trace must beat.
void BM_PrintfPerByteDevNull(benchmark::State& state) {
  const auto bytes = Answer(static_cast<std::size_t>(state.range(0)));
  std::FILE* sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    std::fputs("Response:", sink);
    for (std::uint8_t b : bytes) std::fprintf(sink, "%02X ", b);
    std::fputc('\n', sink);
  }
  std::fclose(sink);
  SetBytes(state, bytes.size());
}

void BM_PackUnifyCommand(benchmark::State& state) {
  std::vector<std::uint8_t> dst(64);
  std::size_t length = 0;
  for (auto _ : state) {
    packUnifyCommand(dst, "RRDDUR2000", &length);
    benchmark::DoNotOptimize(dst.data());
  }
}

void BM_PackPreSurFullData(benchmark::State& state) {
  std::vector<std::uint8_t> dst(64);
  std::size_t length = 0;
  for (auto _ : state) {
    packPreSurFullData("RRDDUR2000", "7b3e", "007d", "2l", dst, &length);
    benchmark::DoNotOptimize(dst.data());
  }
}

// The real length of the pause between reads, as the read loop makes it.
void BM_PauseReadLoop(benchmark::State& state) {
  double total = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    PauseBetweenReads({});
    total +=
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["mean_us"] = total / static_cast<double>(state.iterations());
}

constexpr std::int64_t k10MiB = 10 * 1024 * 1024;

}  // namespace

BENCHMARK(BM_Encode)->Arg(k10MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeTable)->Arg(k10MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemsetFloor)->Arg(k10MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrintDataDiscard)->Arg(19)->Arg(4096)->Arg(k10MiB);
BENCHMARK(BM_PrintDataDevNull)->Arg(19)->Arg(4096)->Arg(k10MiB);
BENCHMARK(BM_PrintfPerByteDevNull)->Arg(k10MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackUnifyCommand);
BENCHMARK(BM_PackPreSurFullData);
BENCHMARK(BM_PauseReadLoop)->Iterations(2000);

BENCHMARK_MAIN();
