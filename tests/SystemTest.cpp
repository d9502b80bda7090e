// kvo-umsetzer-cli against what the system does to it: folders it may not
// write, a full disk, a file another run holds, and being killed midway.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "Container.h"
#include "support/Command.h"
#include "support/DatFile.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

using Names = std::set<std::string>;

std::vector<std::uint8_t> File(std::uint64_t seed, std::uint64_t bytes) {
  return test::SizedFile(seed, bytes).Bytes();
}

test::CommandResult Cli(const test::TempDir& dir, const std::string& args) {
  return test::RunCommand(dir.Path(""), std::string(KVO_CLI) + " " + args);
}

TEST(SystemErrors, AFolderThatCannotBeWrittenKeepsTheFileAsItWas) {
  test::TempDir dir;
  const auto v10 = File(1, 300'000);
  dir.Put("a.dat", v10);
  // As a user who may read the file but not write its folder.
  test::CommandResult r;
  if (::geteuid() == 0) {
    // A copy of the tool where that user may run it: the build folder may
    // lie under a home folder closed to others.
    const test::TempDir bin;
    std::filesystem::copy_file(KVO_CLI, bin.Path("cli"));
    r = test::RunCommand(dir.Path(""), "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                           bin.Path("cli") + " a.dat");
  } else {
    ASSERT_EQ(::chmod(dir.Path("").c_str(), 0555), 0);
    r = Cli(dir, "a.dat");
  }
  ::chmod(dir.Path("").c_str(), 0755);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "a.dat: Kann Backup Datei nicht erzeugen.\n");
  EXPECT_EQ(dir.Names(), Names{"a.dat"});
  EXPECT_EQ(dir.Get("a.dat"), v10);
}

TEST(SystemErrors, AFullDiskBringsTheOriginalBack) {
  test::TempDir dir;
  if (::geteuid() != 0 || ::mount("tmpfs", dir.Path("").c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  }
  const auto v10 = File(2, 700'000);  // the new file does not fit beside it
  dir.Put("a.dat", v10);
  const auto r = Cli(dir, "a.dat");
  const auto names = dir.Names();
  const auto kept = dir.Get("a.dat");
  ASSERT_EQ(::umount(dir.Path("").c_str()), 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "a.dat: Kann neue Datei nicht erzeugen.\n");
  EXPECT_EQ(names, Names{"a.dat"});
  EXPECT_EQ(kept, v10);
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Starts the tool on path and kills it after delay (or lets it finish).
void RunAndKill(const std::string& path, std::chrono::microseconds delay, bool kill) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(KVO_CLI, KVO_CLI, path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(child, 0);
  if (kill) {
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
}

// Killed at moments spread over a whole run, the tool leaves the original's
// bytes under the file's name or its backup name, and under the file's name
// either the original or the complete new file; and the next run finishes
// the job.
TEST(Crash, KilledAtAnyMomentNothingIsLost) {
  const auto v10 = File(4, 48u << 20);
  const auto v11 = ConvertImage(v10, *std::make_unique<TableSets>());
  test::TempDir timing;
  timing.Put("a.dat", v10);
  const auto start = std::chrono::steady_clock::now();
  RunAndKill(timing.Path("a.dat"), {}, false);
  const auto whole = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(timing.Get("a.dat"), v11);

  constexpr int kKills = 16;
  int original = 0, complete = 0, between = 0;
  for (int i = 0; i < kKills; ++i) {
    const auto delay =
        std::chrono::duration_cast<std::chrono::microseconds>(whole * i / (kKills - 2));
    SCOPED_TRACE(testing::Message()
                 << "killed after " << delay.count() << " us of " << Seconds(whole) << " s");
    test::TempDir dir;
    dir.Put("a.dat", v10);
    RunAndKill(dir.Path("a.dat"), delay, true);

    for (const std::string& name : dir.Names()) {
      EXPECT_TRUE(name == "a.dat" || name == "a.old" || name.starts_with("a.dat.kvo-tmp")) << name;
    }
    const bool hasOld = dir.Has("a.old");
    if (hasOld) {
      EXPECT_EQ(dir.Get("a.old"), v10);
    }
    if (!dir.Has("a.dat")) {
      // Between the two renames: the original is the backup already.
      ASSERT_TRUE(hasOld);
      ++between;
      continue;
    }
    const auto now = dir.Get("a.dat");
    if (now == v11) {
      EXPECT_TRUE(hasOld);
      ++complete;
      continue;
    }
    ASSERT_EQ(now, v10) << "the file under its name is neither the original nor complete";
    EXPECT_FALSE(hasOld);
    ++original;
    RunAndKill(dir.Path("a.dat"), {}, false);  // the next run
    EXPECT_EQ(dir.Get("a.dat"), v11);
    EXPECT_EQ(dir.Get("a.old"), v10);
  }
  std::printf("kills: %d, original kept: %d, complete: %d, between the renames: %d\n", kKills,
              original, complete, between);
  EXPECT_GT(original, 0);
  EXPECT_GT(complete, 0);
}

}  // namespace
}  // namespace kvo
