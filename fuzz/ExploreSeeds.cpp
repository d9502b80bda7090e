// The explorer without libFuzzer: inputs from seeds, one after the other,
// for as long as asked. The same seed gives the same input, and so the same
// run.
//   explore-seeds FIRST-SEED SECONDS
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
  const double seconds = argc > 2 ? std::strtod(argv[2], nullptr) : 60;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::uint64_t runs = 0;
  for (; std::chrono::steady_clock::now() < end; ++seed, ++runs) {
    std::uint64_t x = seed * 0x9E3779B97F4A7C15u + 1;
    std::vector<std::uint8_t> input(256);
    for (std::uint8_t& b : input) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      b = static_cast<std::uint8_t>(x);
    }
    if (runs % 100 == 0) std::fprintf(stderr, "seed %llu\n", static_cast<unsigned long long>(seed));
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::fprintf(stderr, "\n%llu runs, up to seed %llu, nothing broken\n",
               static_cast<unsigned long long>(runs), static_cast<unsigned long long>(seed - 1));
  return 0;
}
