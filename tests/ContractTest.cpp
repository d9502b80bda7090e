// The table of scenarios (scenarios.txt) on the command line, run as the
// program runs it: on the local disk, where names are swapped in one step;
// with second names and swaps refused, where the backup is a copy; on the
// FUSE disks of a USB stick (exFAT and FAT, as root); and, built for
// Windows, under Wine. Each row's event comes at its named step, as another
// program, the user or the machine would make it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "Utf8.h"
#else
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "CommandLine.h"
#include "Interrupts.h"
#include "support/Command.h"
#include "support/FaultyFiles.h"
#include "support/Needs.h"
#include "support/Scenario.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

namespace fs = std::filesystem;
using test::Scenario;

struct Surface {
  std::string name;
  bool copies;  // as FAT: no second names, no swaps, no change time; the backup is a copy
  bool modes;   // keeps permission bits
};

const std::vector<Scenario>& Rows() {
  static const auto rows = test::ReadScenarios(KVO_SCENARIOS);
  return rows;
}

// What the row's event does, at its step: another program's doings, a
// signal, the end of the process, a full disk.
class Beside final : public UserInterface {
 public:
  Beside(const Scenario& row, std::string folder, test::FaultyFiles& files)
      : row_(row), folder_(std::move(folder)), files_(files) {}

  std::optional<std::string> ChooseFile() override { return std::nullopt; }
  void ShowInformation(const std::string&) override {}
  void ShowError(const std::string&) override {}
  bool ShowSummary(const std::vector<FileResult>&, bool) override { return false; }
  void BeginWait() override {}
  void EndWait() override {}

  void Reached(Step step, const std::string& path) override {
    if (!fired && row_.at && test::IsAt(*row_.at, step, path)) Do();
  }

  // The event, now.
  void Do() {
    fired = true;
    const Scenario::Event& e = *row_.at;
    if (test::DoToFiles(e, folder_)) return;
    if (e.action == "full") {
#ifdef _WIN32
      files_.error = ERROR_DISK_FULL;
#else
      files_.error = ENOSPC;
#endif
      files_.failing = "write";
    } else if (e.action == "interrupt") {
      std::raise(SIGINT);
    } else if (e.action == "kill") {
#ifdef _WIN32
      ::ExitProcess(137);
#else
      std::raise(SIGKILL);
#endif
    } else {
      ADD_FAILURE() << "no such event: " << e.action;
    }
  }

  bool fired = false;

 private:
  const Scenario& row_;
  std::string folder_;
  test::FaultyFiles& files_;
};

struct Ran {
  int exit = -1;
  bool fired = false;
  std::vector<std::string> out, err;
};

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
#ifdef _WIN32
    // The same line on every system: Windows joins folders with '\'.
    std::replace(line.begin(), line.end(), '\\', '/');
#endif
    lines.push_back(line);
  }
  return lines;
}

[[maybe_unused]] std::string Slurp(const std::string& path) {
  std::ifstream in(test::FromUtf8(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The row's command line, run in folder, with its event or without.
Ran Run(const Scenario& row, const std::string& folder, const Surface& surface, bool event) {
  const auto once = [&](std::ostream& out, std::ostream& err, bool& fired) {
    test::FaultyFiles files;
    files.noHardLinks = files.noExchange = files.noChangeTime = surface.copies;
    Beside beside(row, folder, files);
    if (event && row.at && row.at->step == "start") beside.Do();
    const int status = RunCommandLine(row.run, files, out, err, event ? &beside : nullptr);
    fired = beside.fired;
    return status;
  };
  Ran ran;
#ifdef _WIN32
  // One process: the folder is the run's current one meanwhile.
  const fs::path home = fs::current_path();
  fs::current_path(test::FromUtf8(folder));
  std::ostringstream out, err;
  ran.exit = once(out, err, ran.fired);
  fs::current_path(home);
  ran.out = LinesOf(out.str());
  ran.err = LinesOf(err.str());
#else
  // A process of its own: a kill ends it, a signal stays its own, and a
  // plain user's rights are its alone.
  const test::TempDir streams;
  const std::string outPath = streams.Path("out"), errPath = streams.Path("err");
  const std::string firedPath = streams.Path("fired");
  const pid_t child = ::fork();
  if (child == 0) {
    std::ofstream out(outPath), err(errPath), told(firedPath);  // before the rights go
    if (::chdir(folder.c_str()) != 0) ::_exit(120);
    if (row.plainUser && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(121);
    }
    platform::InstallInterruptHandling();
    bool fired = false;
    const int status = once(out, err, fired);
    out.close();
    err.close();
    told << fired;
    told.close();
    ::_exit(status);
  }
  int raw = 0;
  ::waitpid(child, &raw, 0);
  ran.exit = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  ran.fired = Slurp(firedPath) == "1" || (WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL);
  ran.out = LinesOf(Slurp(outPath));
  ran.err = LinesOf(Slurp(errPath));
#endif
  return ran;
}

// A FUSE driver keeps a file removed while open as .fuse_hidden* until the
// kernel hands it back, which it does on its own time after the last close:
// what the user finds once the disk has settled is what counts.
const std::string& Settled(const std::string& folder) {
  const auto hidden = [&] {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(test::FromUtf8(folder), ec)) {
      if (entry.path().filename().string().starts_with(".fuse_hidden")) return true;
    }
    return false;
  };
  // Each look is a round trip to the driver; between them the release is
  // given the processor, not a fixed time.
  const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (hidden() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  return folder;
}

void Check(const Scenario& row, const std::string& folder, const Surface& surface) {
  SCOPED_TRACE("row \"" + row.name + "\", scenarios.txt:" + std::to_string(row.line));
  std::optional<unsigned> owner;  // a plain user's folder is theirs
#ifndef _WIN32
  if (row.plainUser && ::geteuid() == 0) owner = 65534;
#endif
  test::Build(folder, row.files, owner);
  const Ran ran = Run(row, folder, surface, true);
  if (row.at) {
    ASSERT_TRUE(ran.fired) << "the run never came to " << row.at->step << " of " << row.at->file;
  }
  std::vector<std::string> out, err;
  for (const test::Line& line : row.lines) (line.problem ? err : out).push_back(line.text);
  if (row.sum) out.push_back("Zusammenfassung: " + *row.sum);
  EXPECT_EQ(ran.out, out);
  EXPECT_EQ(ran.err, err);
  EXPECT_EQ(ran.exit, row.exit);
  EXPECT_EQ(test::Differences(Settled(folder), row.after, surface.modes),
            std::vector<std::string>{})
      << "after the run";
  // A rerun finishes what is left, and leaves nothing behind.
  const Ran again = Run(row, folder, surface, false);
  EXPECT_EQ(test::Differences(Settled(folder), row.then ? *row.then : row.after, surface.modes),
            std::vector<std::string>{})
      << "after a rerun, which said:\n"
      << testing::PrintToString(again.out) << testing::PrintToString(again.err);
}

// Every row the surface can produce; the others say why not.
void CheckAll(const Surface& surface, const std::string& base) {
  int ran = 0, marked = 0;
  for (const Scenario& row : Rows()) {
    if (row.notOn.contains(surface.name)) {
      ++marked;
      continue;
    }
    const std::string folder = base + "/" + std::to_string(row.line);
    fs::create_directories(test::FromUtf8(folder));
    Check(row, folder, surface);
    ++ran;
  }
  std::printf("%s: %d rows run, %d marked as not to be produced here\n", surface.name.c_str(), ran,
              marked);
  EXPECT_GT(ran, 0);
}

#ifdef _WIN32

TEST(Contract, EveryRowUnderWine) {
  const test::TempDir dir;
  CheckAll({"wine", false, false}, dir.Path("w"));
}

#else

// What the file layer finds out about a disk's change time, on a new file.
bool KeepsChangeTime(const std::string& folder) {
  auto probe = platform::SystemFiles().CreateNew(folder + "/probe");
  const bool kept = probe->KeepsChangeTime();
  probe->Close();
  fs::remove(folder + "/probe");
  return kept;
}

TEST(Contract, EveryRowOnTheLocalDisk) {
  const test::TempDir dir;
  EXPECT_TRUE(KeepsChangeTime(dir.Path("")));
  CheckAll({"local", false, true}, dir.Path("w"));
}

TEST(Contract, EveryRowWhereSecondNamesAndSwapsAreRefused) {
  const test::TempDir dir;
  CheckAll({"copy", true, true}, dir.Path("w"));
}

// A USB stick's file system, through its FUSE driver, on an image file (on
// a loop device, where the driver wants a device).
class FuseDisk {
 public:
  FuseDisk(const std::string& make, const std::string& mount, bool device,
           const std::string& size = "256M") {
    mountPoint_ = dir_.Path("m");
    fs::create_directory(mountPoint_);
    const std::string disk = device ? "$(losetup -f --show disk.img | tee loop)" : "disk.img";
    ok_ = test::RunCommand(dir_.Path(""),
                           "truncate -s " + size + " disk.img && " + make + " disk.img")
                  .status == 0 &&
          test::RunCommand(dir_.Path(""), mount + " " + disk + " m").status == 0 &&
          test::RunCommand(dir_.Path(""), "mountpoint -q m").status == 0;
  }
  ~FuseDisk() {
    test::RunCommand(dir_.Path(""),
                     "{ umount m || umount -l m; }; [ -s loop ] && losetup -d \"$(cat loop)\"");
  }
  bool ok() const { return ok_; }
  const std::string& root() const { return mountPoint_; }

 private:
  test::TempDir dir_;
  std::string mountPoint_;
  bool ok_ = false;
};

bool Have(const std::string& tools) {
  return test::RunCommand(".", "command -v " + tools).status == 0;
}

TEST(Contract, EveryRowOnExfatThroughFuse) {
  KVO_NEEDS(
      ::geteuid() == 0 && fs::exists("/dev/fuse") && Have("mount.exfat-fuse mkfs.exfat losetup"),
      "root, /dev/fuse and exfat-fuse");
  FuseDisk disk("mkfs.exfat", "mount.exfat-fuse", true);
  KVO_NEEDS(disk.ok(), "an exFAT image mounted through FUSE");
  EXPECT_FALSE(KeepsChangeTime(disk.root()));
  CheckAll({"exfat", true, false}, disk.root() + "/w");
}

TEST(Contract, EveryRowOnFatThroughFuse) {
  KVO_NEEDS(::geteuid() == 0 && fs::exists("/dev/fuse") && Have("fusefat mkfs.vfat"),
            "root, /dev/fuse and fusefat");
  FuseDisk disk("mkfs.vfat", "fusefat -o rw+", false);
  KVO_NEEDS(disk.ok(), "a FAT image mounted through FUSE");
  EXPECT_FALSE(KeepsChangeTime(disk.root()));
  CheckAll({"fat", true, false}, disk.root() + "/w");
}

// A look at an option-like argument that fails (a disk error, no handle
// left) shows no file of that name: the option is read as the option, not
// refused as a file's name.
TEST(Contract, AnOptionWhoseLookFailsIsReadAsTheOption) {
  const test::TempDir dir;
  dir.Put("a.dat", test::Contents("v10/1"));
  test::FaultyFiles files;
  files.looks = true;
  files.failing = "stat";
  std::ostringstream out, err;
  const std::vector<std::string> args{"--status", dir.Path("a.dat")};
  EXPECT_NE(RunCommandLine(args, files, out, err, nullptr), 2) << err.str();
  EXPECT_EQ(err.str().find("auch der Name einer Datei"), std::string::npos) << err.str();
}

// A FAT disk that really fills up: fusefat cuts the last write short and
// then says "not permitted"; the line says the disk is full, as --check does.
TEST(Contract, AFullFatDiskThroughFuseIsNamedAsFull) {
  KVO_NEEDS(::geteuid() == 0 && fs::exists("/dev/fuse") && Have("fusefat mkfs.vfat"),
            "root, /dev/fuse and fusefat");
  FuseDisk disk("mkfs.vfat", "fusefat -o rw+", false, "12M");
  KVO_NEEDS(disk.ok(), "a FAT image mounted through FUSE");
  const std::string path = disk.root() + "/a.dat";
  const auto original = test::Contents("big/1");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(original.data()),
             static_cast<std::streamsize>(original.size()));
  for (const char* option : {"--check", ""}) {
    std::ostringstream out, err;
    std::vector<std::string> args{path};
    if (*option) args.insert(args.begin(), option);
    test::FaultyFiles files;
    EXPECT_EQ(RunCommandLine(args, files, out, err, nullptr), 1);
    EXPECT_NE(err.str().find("Platz"), std::string::npos) << err.str();
  }
  EXPECT_EQ(test::Differences(Settled(disk.root()),
                              {{test::Entry::File, "a.dat", "big/1", std::nullopt, false}}, false),
            std::vector<std::string>{});
}

// Undo on a FAT disk too full for the backup's copy says so before it
// copies anything, and changes nothing.
TEST(Contract, AnUndoOnAFullFatDiskThroughFuseSaysItIsFull) {
  KVO_NEEDS(::geteuid() == 0 && fs::exists("/dev/fuse") && Have("fusefat mkfs.vfat"),
            "root, /dev/fuse and fusefat");
  FuseDisk disk("mkfs.vfat", "fusefat -o rw+", false, "24M");
  KVO_NEEDS(disk.ok(), "a FAT image mounted through FUSE");
  const auto put = [](const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  put(disk.root() + "/a.dat", test::Contents("big/1>11"));
  put(disk.root() + "/a.old", test::Contents("big/1"));
  std::ostringstream out, err;
  test::FaultyFiles files;
  EXPECT_EQ(RunCommandLine({"--undo", disk.root() + "/a.dat"}, files, out, err, nullptr), 1);
  EXPECT_NE(err.str().find("zu wenig Platz auf der Platte"), std::string::npos) << err.str();
  EXPECT_EQ(test::Differences(Settled(disk.root()),
                              {{test::Entry::File, "a.dat", "big/1>11", std::nullopt, false},
                               {test::Entry::File, "a.old", "big/1", std::nullopt, false}},
                              false),
            std::vector<std::string>{});
}

#endif

}  // namespace
}  // namespace kvo
