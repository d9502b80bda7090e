// What holding a file through its last step costs a run of 1,000 files: per
// file, the look for another run at work (the file's name and its temporary
// names) and the hold of its new file (opened, locked, let go of), made as
// the run makes them, beside the time the tool takes to convert the same
// files. Prints both and their ratio. Run by bench/run-bench.sh, on the disk
// and on exFAT.
//   kvo-hold-bench CLI FOLDER
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Files.h"
#include "NameSteps.h"
#include "Names.h"
#include "support/DatFile.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 1000;

void Put(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Aufruf: kvo-hold-bench KVO-UMSETZER-CLI ORDNER\n");
    return 2;
  }
  const fs::path folder = fs::path(argv[2]) / "hold-bench";
  fs::remove_all(folder);
  fs::create_directories(folder / "converted");
  fs::create_directories(folder / "held");
  const auto v10 = kvo::test::SmallFile(3);
  std::vector<std::string> held;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i) + ".dat";
    Put(folder / "converted" / name, v10);
    Put(folder / "held" / name, v10);
    held.push_back((folder / "held" / name).string());
  }
  ::sync();

  auto start = std::chrono::steady_clock::now();
  const std::string command =
      std::string(argv[1]) + " '" + (folder / "converted").string() + "' >/dev/null";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "the conversion failed\n");
    return 1;
  }
  const double converting = Since(start);

  // The hold's own calls, as a run makes them: the look for another run at
  // work once the file is locked (before its new file is made), and the new
  // file held from before the original is let go of until its name is on
  // the disk.
  kvo::platform::Files& files = kvo::platform::SystemFiles();
  const auto hold = files.HoldFolder((folder / "held").string());
  double holding = 0;
  for (const std::string& path : held) {
    const auto in = files.OpenRead(path);
    start = std::chrono::steady_clock::now();
    if (kvo::ClaimFile(files, path, *in) != kvo::Claim::Ours) return 1;
    holding += Since(start);
    Put(kvo::TemporaryPath(path, 0), v10);
  }
  for (const std::string& path : held) {
    start = std::chrono::steady_clock::now();
    files.OpenRead(kvo::TemporaryPath(path, 0))->Close();
    holding += Since(start);
  }
  std::printf(
      "the hold through the last step (the look for another run at work, the new file held): "
      "%.1f ms for %d files; converting them: %.1f ms; ratio %.3f\n",
      holding, kFiles, converting, holding / converting);
  fs::remove_all(folder);
  return 0;
}
