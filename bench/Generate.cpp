// kvo-gen: writes a random version 1.0 data file, the same bytes for the
// same seed. For tests, benchmarks and trying the tool out.
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "support/DatFile.h"
#include "support/Scenario.h"

namespace {

constexpr const char* kUsage =
    "Aufruf: kvo-gen [--seed N] [--mb M] [--count BLOCK=N]... DATEI\n"
    "       kvo-gen --edge-cases ORDNER\n"
    "       kvo-gen --contents AUSDRUCK DATEI\n"
    "Schreibt eine zufällige Datendatei der Version 1.0: zufällige Feldbytes,\n"
    "Textlängen 0 bis 255 mit Resten dahinter.\n"
    "  --seed N         Startwert (1)\n"
    "  --mb M           etwa M Megabyte, vor allem in den gezählten Blöcken\n"
    "  --count BLOCK=N  Satzanzahl eines gezählten Blocks (6-10, 12, 13, 17, 18)\n"
    "  --edge-cases     die Grenzfälle der Tests als Dateien in ORDNER\n"
    "  --contents       eine Datei, wie sie die Tabelle der Szenarien beschreibt\n"
    "                   (tests/scenarios.txt), etwa v10/1>11\n";

bool Write(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  if (file.flush()) return true;
  std::cerr << "kvo-gen: kann " << path << " nicht schreiben\n";
  return false;
}

// The files the reader's and the header check's tests are built from: for
// another implementation of the core to be compared with this one.
int EdgeCases(const std::string& folder) {
  using kvo::test::DatFile;
  using kvo::test::Version;
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  const auto v10 = kvo::test::HeaderOf(Version::V10);
  const std::vector<std::uint8_t> header(v10.begin(), v10.end());
  files.push_back({"leer", {}});
  files.push_back({"kopf-zu-kurz", {header.begin(), header.end() - 1}});
  files.push_back({"nur-kopf", header});
  files.push_back({"version-1.1", DatFile::Empty(Version::V11).Bytes()});
  for (const std::size_t at : {std::size_t{0}, std::size_t{22}}) {
    auto other = kvo::test::SmallFile(2);
    other[at] = at == 0 ? 21 : '_';
    files.push_back({"kopf-byte-" + std::to_string(at), other});
  }
  files.push_back({"alles-null", DatFile::Empty(Version::V10).Bytes()});
  // Cut short anywhere, and just before the end.
  const auto whole = kvo::test::SmallFile(7);
  std::vector<std::size_t> cuts;
  for (std::size_t cut = 23; cut < whole.size(); cut += 997) cuts.push_back(cut);
  for (const std::size_t back : {1, 2, 3, 4, 5, 70, 71, 128, 129})
    cuts.push_back(whole.size() - back);
  for (const std::size_t cut : cuts) {
    files.push_back({"gekuerzt-" + std::to_string(cut), {whole.begin(), whole.begin() + cut}});
  }
  // Bytes behind the last block.
  for (const std::size_t extra : {1, 1000}) {
    auto longer = whole;
    longer.resize(whole.size() + extra, 0x5a);
    files.push_back({"dahinter-" + std::to_string(extra), longer});
  }
  // Counts alone, without the records they announce.
  const std::pair<int, std::int32_t> counts[] = {
      {6, -1},
      {7, -5},
      {8, INT32_MIN},
      {9, -1},
      {10, -1},
      {12, -1},
      {13, -2},
      {6, 0x7FFFFFFF},
      {18, 0x7FFFFFFF / 70 + 1},
      {7, 0x7FFFFFFF / 350 + 1},
      {13, 0x7FFFFFFF / 14},
      {17, 1000},
      {17, -1},
      {18, INT32_MIN},
  };
  for (const auto& [block, count] : counts) {
    DatFile f = DatFile::Empty(Version::V10);
    f.counts[block] = count;
    files.push_back({"anzahl-b" + std::to_string(block) + "-" + std::to_string(count), f.Bytes()});
  }
  for (const auto& [name, bytes] : files) {
    if (!Write(folder + "/" + name + ".dat", bytes)) return 1;
  }
  return 0;
}

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
      if (arg == "--edge-cases" && hasValue) return EdgeCases(argv[i + 1]);
      if (arg == "--contents" && i + 2 < argc) {
        return Write(argv[i + 2], kvo::test::Contents(argv[i + 1])) ? 0 : 1;
      }
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
  if (!Write(out, f.Bytes())) return 1;
  return 0;
}
