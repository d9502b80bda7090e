// Converting a large version 1.0 file in memory, beside a plain copy of the
// same bytes as the floor. Run: build/bench/convert_bench
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <memory>
#include <vector>

#include "Container.h"
#include "support/DatFile.h"

namespace {

// About 256 MB, most of it in the counted blocks, with random field bytes
// and text lengths.
const std::vector<std::uint8_t>& LargeFile() {
  static const std::vector<std::uint8_t> bytes = kvo::test::SizedFile(1, 256u << 20).Bytes();
  return bytes;
}

double PeakResidentMB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_PlainCopy(benchmark::State& state) {
  const auto& in = LargeFile();
  {
    std::vector<std::uint8_t> warmUp(in.begin(), in.end());
    benchmark::DoNotOptimize(warmUp.data());
  }
  for (auto _ : state) {
    std::vector<std::uint8_t> copy(in.begin(), in.end());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
  state.counters["file_MB"] = static_cast<double>(in.size()) / (1 << 20);
}

void BM_Convert(benchmark::State& state) {
  const auto& in = LargeFile();
  const auto tables = std::make_unique<kvo::TableSets>();
  // Both benchmarks run one untimed round first: the first touch of fresh
  // memory costs the same page faults whatever fills it.
  benchmark::DoNotOptimize(kvo::ConvertImage(in, *tables).data());
  for (auto _ : state) {
    auto out = kvo::ConvertImage(in, *tables);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.size()));
  state.counters["file_MB"] = static_cast<double>(in.size()) / (1 << 20);
  // Input and output buffers (about 2 x file); the tables hold one window.
  state.counters["peak_RSS_MB"] = PeakResidentMB();
}

BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Convert)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
