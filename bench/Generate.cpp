// kvo-gen: writes a random version 1.0 data file, the same bytes for the
// same seed. For tests, benchmarks and trying the tool out.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "support/DatFile.h"

namespace {

constexpr const char* kUsage =
    "Aufruf: kvo-gen [--seed N] [--mb M] [--count BLOCK=N]... DATEI\n"
    "Schreibt eine zufällige Datendatei der Version 1.0: zufällige Feldbytes,\n"
    "Textlängen 0 bis 255 mit Resten dahinter.\n"
    "  --seed N         Startwert (1)\n"
    "  --mb M           etwa M Megabyte, vor allem in den gezählten Blöcken\n"
    "  --count BLOCK=N  Satzanzahl eines gezählten Blocks (6-10, 12, 13, 17, 18)\n";

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seed = 1;
  double mb = 0;
  std::vector<std::pair<int, std::int32_t>> counts;
  std::string out;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      const bool hasValue = i + 1 < argc;
      if (arg == "--version") {
        std::cout << "kvo-gen " << KVO_VERSION << "\n";
        return 0;
      }
      if (arg == "--seed" && hasValue) {
        seed = std::stoull(argv[++i]);
      } else if (arg == "--mb" && hasValue) {
        mb = std::stod(argv[++i]);
      } else if (arg == "--count" && hasValue) {
        const std::string v = argv[++i];
        const auto eq = v.find('=');
        const int block = std::stoi(v.substr(0, eq));
        if (eq == std::string::npos || !kvo::test::BlockOf(block).counted)
          throw std::invalid_argument(v);
        counts.emplace_back(block, std::stoi(v.substr(eq + 1)));
      } else if (arg[0] != '-' && out.empty()) {
        out = arg;
      } else {
        throw std::invalid_argument(arg);
      }
    }
  } catch (const std::exception&) {
    std::cerr << kUsage;
    return 2;
  }
  if (out.empty()) {
    std::cerr << kUsage;
    return 2;
  }

  kvo::test::DatFile f;
  if (counts.empty()) {
    f = kvo::test::SizedFile(seed, static_cast<std::uint64_t>(mb * (1 << 20)));
  } else {
    f = kvo::test::DatFile::Empty(kvo::test::Version::V10);
    for (auto [block, count] : counts) f.SetCount(block, count);
    kvo::test::Random random(seed);
    kvo::test::Randomise(f, random);
  }
  const auto bytes = f.Bytes();
  std::ofstream file(out, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) {
    std::cerr << "kvo-gen: kann " << out << " nicht schreiben\n";
    return 1;
  }
  return 0;
}
