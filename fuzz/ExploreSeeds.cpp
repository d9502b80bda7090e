// The explorer without libFuzzer: inputs from seeds, one after the other,
// for as long as asked. The same seed gives the same input, and so the same
// run. An input that breaks a promise is left as explore-seed-N in the
// current folder, to be kept in fuzz/explore-found. With --write, writes
// COUNT seeded inputs into a folder instead: a start for the guided search,
// which from nothing spends its first minutes on inputs of a few bytes.
// With --replay, runs the inputs in the files named, as ctest does with the
// kept ones: a promise broken again ends it.
//   explore-seeds FIRST-SEED SECONDS
//   explore-seeds --write FOLDER FIRST-SEED COUNT
//   explore-seeds --replay FILE...
//   explore-seeds --schedules PART PARTS   (every schedule of two runs; see
//                                           KvoEverySchedule in Explore.cpp)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int KvoEverySchedule(int part, int parts);

namespace {

std::vector<std::uint8_t> input(512);
char keep[64];  // the name it is left under, made before the run

void Seeded(std::uint64_t seed) {
  std::uint64_t x = seed * 0x9E3779B97F4A7C15u + 1;
  for (std::uint8_t& b : input) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<std::uint8_t>(x);
  }
}

void KeepInput(int) {
  const int fd = ::open(keep, O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd >= 0) {
    (void)!::write(fd, input.data(), input.size());
    ::close(fd);
  }
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--write") {
    const std::uint64_t first = std::strtoull(argv[3], nullptr, 10);
    for (std::uint64_t seed = first; seed < first + std::strtoull(argv[4], nullptr, 10); ++seed) {
      Seeded(seed);
      const std::string name = std::string(argv[2]) + "/seed-" + std::to_string(seed);
      std::FILE* f = std::fopen(name.c_str(), "wb");
      if (f == nullptr || std::fwrite(input.data(), 1, input.size(), f) != input.size() ||
          std::fclose(f) != 0) {
        std::perror(name.c_str());
        return 1;
      }
    }
    return 0;
  }
  if (argc == 4 && std::string(argv[1]) == "--schedules") {
    return KvoEverySchedule(std::atoi(argv[2]) - 1, std::atoi(argv[3]));
  }
  if (argc > 1 && std::string(argv[1]) == "--replay") {
    for (int i = 2; i < argc; ++i) {
      std::FILE* f = std::fopen(argv[i], "rb");
      if (f == nullptr) {
        std::perror(argv[i]);
        return 1;
      }
      std::vector<std::uint8_t> kept;
      for (int c; (c = std::fgetc(f)) != EOF;) kept.push_back(static_cast<std::uint8_t>(c));
      std::fclose(f);
      std::fprintf(stderr, "%s\n", argv[i]);
      LLVMFuzzerTestOneInput(kept.data(), kept.size());
    }
    std::printf("%d kept inputs replayed, every promise kept\n", argc - 2);
    return 0;
  }
  std::uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
  const double seconds = argc > 2 ? std::strtod(argv[2], nullptr) : 60;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::signal(SIGABRT, KeepInput);
  std::uint64_t runs = 0;
  for (; std::chrono::steady_clock::now() < end; ++seed, ++runs) {
    Seeded(seed);
    std::snprintf(keep, sizeof keep, "explore-seed-%llu", static_cast<unsigned long long>(seed));
    if (runs % 100 == 0) std::fprintf(stderr, "seed %llu\n", static_cast<unsigned long long>(seed));
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::fprintf(stderr, "\n%llu runs, up to seed %llu, nothing broken\n",
               static_cast<unsigned long long>(runs), static_cast<unsigned long long>(seed - 1));
  return 0;
}
