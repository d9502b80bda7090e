// kvo-umsetzer-cli against what the system does to it: folders it may not
// write, a full disk, limits of the process, and signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "Container.h"
#include "Messages.h"
#include "TableSets.h"
#include "support/Command.h"
#include "support/DatFile.h"
#include "support/Needs.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

using Names = std::set<std::string>;

std::vector<std::uint8_t> File(std::uint64_t seed, std::uint64_t bytes) {
  return test::SizedFile(seed, bytes).Bytes();
}

test::CommandResult Cli(const test::TempDir& dir, const std::string& args,
                        const std::string& before = "") {
  return test::RunCommand(dir.Path(""), before + KVO_CLI + " " + args);
}

// --check says no, and the run changes nothing.
TEST(SystemErrors, AFolderThatCannotBeWrittenKeepsTheFileAsItWas) {
  test::TempDir dir;
  const auto v10 = File(1, 300'000);
  dir.Put("a.dat", v10);
  // As a user who may read the file but not write its folder.
  for (const std::string args : {"--check a.dat", "a.dat"}) {
    SCOPED_TRACE(args);
    test::CommandResult r;
    if (::geteuid() == 0) {
      // A copy of the tool where that user may run it: the build folder may
      // lie under a home folder closed to others.
      const test::TempDir bin;
      std::filesystem::copy_file(KVO_CLI, bin.Path("cli"));
      r = test::RunCommand(dir.Path(""), "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                             bin.Path("cli") + " " + args);
    } else {
      ASSERT_EQ(::chmod(dir.Path("").c_str(), 0555), 0);
      r = Cli(dir, args);
      ::chmod(dir.Path("").c_str(), 0755);
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.starts_with("a.dat: Kann Backup Datei nicht erzeugen (")) << r.err;
    EXPECT_TRUE(r.err.ends_with(
        "(In diesem Ordner darf keine Datei angelegt werden. Die Datei ist unverändert)\n"))
        << r.err;
    EXPECT_EQ(dir.Names(), Names{"a.dat"});
    EXPECT_EQ(dir.Get("a.dat"), v10);
  }
}

TEST(SystemErrors, AFullDiskBringsTheOriginalBack) {
  test::TempDir dir;
  KVO_NEEDS(::geteuid() == 0 && ::mount("tmpfs", dir.Path("").c_str(), "tmpfs", 0, "size=1m") == 0,
            "root, to mount a small tmpfs");
  const auto v10 = File(2, 700'000);  // the new file does not fit beside it
  dir.Put("a.dat", v10);
  const auto check = Cli(dir, "--check a.dat");
  const auto r = Cli(dir, "a.dat");
  const auto names = dir.Names();
  const auto kept = dir.Get("a.dat");
  ASSERT_EQ(::umount(dir.Path("").c_str()), 0);
  EXPECT_EQ(check.status, 1);
  EXPECT_TRUE(check.err.starts_with("a.dat: Kann neue Datei nicht erzeugen (")) << check.err;
  EXPECT_EQ(r.status, 1);
  // In words a user knows, and never the temporary file's name.
  EXPECT_EQ(r.err,
            "a.dat: Kann neue Datei nicht erzeugen (Auf dem Datenträger ist nicht genug "
            "Platz. Die Datei ist unverändert)\n");
  EXPECT_EQ(names, Names{"a.dat"});
  EXPECT_EQ(kept, v10);
}

// Permissions that are not mode bits come along: the access list (its mask
// is no reason to widen the group's bits) and the extended attributes.
TEST(SystemErrors, TheNewFileKeepsTheOriginalsAclAndAttributes) {
  KVO_NEEDS(std::system("setfacl --version >/dev/null 2>&1") == 0, "the ACL tools");
  test::TempDir dir;
  dir.Put("a.dat", File(4, 100'000));
  const std::string path = dir.Path("a.dat");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  if (std::system(("setfacl -m u:1234:rw " + path).c_str()) != 0 ||
      ::setxattr(path.c_str(), "user.kommentar", "Nord", 4, 0) != 0) {
    KVO_NEEDS(false, "a file system with access lists and extended attributes");
  }
  auto permissions = [&] {
    const auto acl = test::RunCommand(dir.Path(""), "getfacl --omit-header a.dat");
    char comment[16] = {};
    const ssize_t n = ::getxattr(path.c_str(), "user.kommentar", comment, sizeof comment);
    struct stat st {};
    ::stat(path.c_str(), &st);
    return acl.out + std::string(comment, n > 0 ? n : 0) + std::to_string(st.st_mode & 07777);
  };
  const std::string before = permissions();
  ASSERT_EQ(Cli(dir, "a.dat").status, 0);
  EXPECT_EQ(permissions(), before);
}

// Output that cannot be written is a failure, not silent success.
TEST(SystemErrors, OutputThatCannotBeWrittenIsAnError) {
  test::TempDir dir;
  dir.Put("a.dat", File(3, 100'000));
  const auto r = test::RunCommand(dir.Path(""), std::string("(") + KVO_CLI + " a.dat >/dev/full)");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "kvo-umsetzer-cli: die Ausgabe ließ sich nicht schreiben\n");
  EXPECT_EQ(dir.Names(), (Names{"a.dat", "a.old"}));  // the file itself is converted
}

// A file-size limit is an ordinary write failure: that file stays as it was,
// nothing temporary is left, and the next file is converted.
TEST(SystemLimits, AFileSizeLimitFailsOneFileAndTheBatchGoesOn) {
  // ulimit -f counts blocks of 1024 bytes. A file of less than a megabyte
  // goes to the system in one write, after its conversion has returned: its
  // failure is met only when the batch's new files are flushed.
  const std::pair<std::uint64_t, int> cases[] = {{3'000'000, 1000}, {900'000, 500}};
  for (const auto& [size, limit] : cases) {
    SCOPED_TRACE(size);
    test::TempDir dir;
    const auto big = File(5, size);
    const auto small = File(6, 200'000);
    dir.Put("gross.dat", big);
    dir.Put("klein.dat", small);
    const auto r = Cli(dir, "gross.dat klein.dat", "ulimit -f " + std::to_string(limit) + "; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "gross.dat: Kann neue Datei nicht erzeugen (Die Datei wäre größer, als das "
              "System erlaubt. Die Datei ist unverändert)\n");
    EXPECT_EQ(dir.Names(), (Names{"gross.dat", "klein.dat", "klein.old"}));
    EXPECT_EQ(dir.Get("gross.dat"), big);
    EXPECT_EQ(dir.Get("klein.old"), small);
  }
}

// A file system that keeps no owners or modes at all (FAT through FUSE
// answers "not implemented" or "not supported") is one that refuses to
// change them: the file converts. Any other failure of those calls (a disk
// error) is one: the original stays, and the line says why.
TEST(SystemErrors, AFileSystemWithoutOwnersConvertsAndADiskErrorThereIsNoSuccess) {
  KVO_NEEDS(std::system("strace -V >/dev/null 2>&1") == 0, "strace");
  for (const char* call : {"fchown", "fchmod"}) {
    for (const char* error : {"ENOSYS", "EOPNOTSUPP", "EIO"}) {
      SCOPED_TRACE(testing::Message() << call << " " << error);
      test::TempDir dir;
      const auto v10 = File(8, 100'000);
      dir.Put("a.dat", v10);
      const auto r = Cli(dir, "a.dat",
                         std::string("ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e "
                                     "inject=") +
                             call + ":error=" + error + " ");
      if (std::string_view(error) != "EIO") {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out,
                  "a.dat: Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old\n");
        EXPECT_EQ(dir.Get("a.old"), v10);
        continue;
      }
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err,
                "a.dat: Kann neue Datei nicht erzeugen (Der Datenträger meldet einen Lese- oder "
                "Schreibfehler. Die Datei ist unverändert)\n");
      EXPECT_EQ(dir.Names(), (Names{"a.dat"}));
      EXPECT_EQ(dir.Get("a.dat"), v10);
    }
  }
}

// A look (status, verify) holds a file for a moment only, and a conversion
// that meets it then waits for it instead of failing: here the look is held
// up at that moment for two seconds.
TEST(SystemErrors, AConversionWaitsForALookAtTheSameFile) {
  KVO_NEEDS(std::system("strace -V >/dev/null 2>&1") == 0, "strace");
  for (const char* look : {"--status", "--verify"}) {
    SCOPED_TRACE(look);
    test::TempDir dir;
    dir.Put("a.dat", File(12, 100'000));
    FILE* const looking = ::popen(("cd " + test::Quote(dir.Path("")) +
                                   " && ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null "
                                   "-e inject=flock:delay_exit=2000000:when=1 " +
                                   KVO_CLI + " " + look + " a.dat")
                                      .c_str(),
                                  "r");
    ASSERT_NE(looking, nullptr);
    // Until the look holds the file, as the kernel lists its locks (a lock
    // of the test's own would make the look fail); bounded, should it never.
    struct stat st {};
    ASSERT_EQ(::stat(dir.Path("a.dat").c_str(), &st), 0);
    const std::string inode = ":" + std::to_string(st.st_ino) + " ";
    bool held = false;
    for (int tries = 0; !held && tries < 1'000'000; ++tries) {
      std::ifstream locks("/proc/locks");
      for (std::string line; !held && std::getline(locks, line);) {
        held = line.find("FLOCK") != std::string::npos && line.find(inode) != std::string::npos;
      }
    }
    ASSERT_TRUE(held) << "the look never held the file";
    const auto r = Cli(dir, "a.dat");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "a.dat: Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old\n");
    // The look's line read to its end first: closed sooner, the pipe would
    // end the look on a busy machine before it says it.
    std::string said;
    char line[512];
    while (std::fgets(line, sizeof line, looking) != nullptr) said += line;
    EXPECT_EQ(::pclose(looking), 0) << said;
    EXPECT_TRUE(said.starts_with("a.dat: ")) << said;
  }
}

// A disk that gives no locks (a network share without its lock service:
// strace has every lock answer ENOLCK). Conversion, check and undo change
// nothing and say so in the system's words; status and verify still say
// what they read, and that they read it without a lock.
TEST(SystemErrors, ADiskWithoutLocksChangesNothingAndSaysWhy) {
  KVO_NEEDS(std::system("strace -V >/dev/null 2>&1") == 0, "strace");
  test::TempDir dir;
  const auto a = File(13, 100'000), b = File(14, 100'000);
  dir.Put("a.dat", a);
  dir.Put("b.dat", ConvertImage(b, *std::make_unique<TableSets>()));
  dir.Put("b.old", b);
  const auto before = std::map<std::string, std::vector<std::uint8_t>>{
      {"a.dat", a}, {"b.dat", dir.Get("b.dat")}, {"b.old", b}};
  const std::string noLock = std::string(" (") + kNoLockDetail + ")\n";
  const std::string unlocked = std::string(" (") + kUnlockedDetail + ")\n";
  struct Case {
    const char* args;
    int status;
    std::string out, err;
  };
  const Case cases[] = {
      {"a.dat", 1, "", "a.dat: Falsche Dateiversion" + noLock},
      {"--check a.dat", 1, "", "a.dat: Falsche Dateiversion" + noLock},
      {"--undo b.dat", 1, "", "b.dat: Nicht rückgängig gemacht" + noLock},
      {"--status a.dat b.dat", 0,
       "a.dat: Version 1.0, noch umzusetzen" + unlocked +
           "b.dat: Version 1.1, umgesetzt und seitdem unverändert" + unlocked +
           "Zusammenfassung: 1 noch umzusetzen, 1 umgesetzt und unverändert, 0 beschädigt oder "
           "nicht lesbar\n",
       ""},
      {"--verify b.dat", 0, "b.dat: stimmt" + unlocked, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const auto r = Cli(dir, c.args,
                       "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null "
                       "-e inject=flock:error=ENOLCK ");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    std::map<std::string, std::vector<std::uint8_t>> now;
    for (const std::string& name : dir.Names()) now[name] = dir.Get(name);
    EXPECT_EQ(now, before);
  }
}

// Where a read-only mount of a folder and its writable path are both named,
// the file is converted through the writable one; the other is its second
// name.
TEST(SystemErrors, AReadOnlyMountAndItsWritablePathConvertThroughTheWritable) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.Path("rw"));
  std::filesystem::create_directories(dir.Path("ro"));
  KVO_NEEDS(::geteuid() == 0 && ::mount(dir.Path("rw").c_str(), dir.Path("ro").c_str(), nullptr,
                                        MS_BIND, nullptr) == 0,
            "root, to make a bind mount");
  const bool readOnly = ::mount(nullptr, dir.Path("ro").c_str(), nullptr,
                                MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  const auto v10 = File(15, 100'000);
  dir.Put("rw/a.dat", v10);
  const auto r = Cli(dir, "ro/a.dat rw/a.dat");
  const auto names = dir.Names();
  const auto backup = dir.Has("rw/a.old") ? dir.Get("rw/a.old") : std::vector<std::uint8_t>{};
  ::umount(dir.Path("ro").c_str());
  ASSERT_TRUE(readOnly);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "ro/a.dat: Dieselbe Datei wie rw/a.dat\n"
            "rw/a.dat: Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old\n"
            "Zusammenfassung: 1 umgesetzt, 1 doppelt genannt, 0 nicht umgesetzt\n");
  EXPECT_EQ(backup, v10);
}

// A folder flush that fails after the new files took their names: they are
// converted, but the user is told that it may not be on the disk, and the
// exit status is no success, whichever flush it was.
TEST(SystemErrors, AFolderFlushThatFailsIsNoSuccess) {
  KVO_NEEDS(std::system("strace -V >/dev/null 2>&1") == 0, "strace");
  // One file: its flush, the folder's before the rename and after it. Two:
  // the file system's, then the folder's two.
  for (const auto& [files, when] : {std::pair{"a.dat", 3}, {"a.dat", 2}, {"a.dat b.dat", 2}}) {
    SCOPED_TRACE(testing::Message() << files << ", fsync " << when);
    test::TempDir dir;
    dir.Put("a.dat", File(10, 100'000));
    dir.Put("b.dat", File(11, 100'000));
    const auto r = Cli(dir, files,
                       "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e "
                       "inject=fsync:error=EIO:when=" +
                           std::to_string(when) + " ");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const bool after = !(when == 2 && std::string_view(files) == "a.dat");
    if (after) {
      EXPECT_NE(r.err.find(std::string("a.dat: ") + kFolderNotSyncedText), std::string::npos)
          << r.err;
      EXPECT_EQ(r.out.find("erfolgreich"), std::string::npos) << r.out;
    } else {
      // Before the rename: nothing changed names.
      EXPECT_NE(r.err.find("a.dat: Kann Backup Datei nicht erzeugen ("), std::string::npos)
          << r.err;
      EXPECT_EQ(dir.Names(), (Names{"a.dat", "b.dat"}));
    }
    if (std::string_view(files) != "a.dat") {
      EXPECT_NE(r.out.find("Zusammenfassung: 2 umgesetzt, 2 davon vielleicht nicht sicher auf der "
                           "Platte, 0 nicht umgesetzt\n"),
                std::string::npos)
          << r.out;
    }
  }
}

// A file the system keeps from being changed (chattr +i) is refused by a
// conversion, and read all the same by status, which changes nothing.
TEST(SystemErrors, AnUnchangeableFileIsReadButNotConverted) {
  test::TempDir dir;
  const auto v10 = File(9, 100'000);
  dir.Put("a.dat", v10);
  const std::string path = dir.Path("a.dat");
  KVO_NEEDS(::geteuid() == 0 && std::system(("chattr +i " + path + " 2>/dev/null").c_str()) == 0,
            "root and chattr on a file system that keeps the flag");
  const auto status = Cli(dir, "--status a.dat");
  const auto run = Cli(dir, "a.dat");
  ASSERT_EQ(std::system(("chattr -i " + path).c_str()), 0);
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.out, "a.dat: Version 1.0, noch umzusetzen\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "a.dat: Falsche Dateiversion (kein Zugriff auf die Datei)\n");
  EXPECT_EQ(dir.Names(), Names{"a.dat"});
}

// A process that may hold only 64 files open converts, verifies and undoes
// a folder of a thousand: its groups fit the limit, and running out is never
// blamed on a file.
TEST(SystemLimits, FewOpenFilesStillServeAThousandFiles) {
  test::TempDir dir;
  std::filesystem::create_directory(test::FromUtf8(dir.Path("d")));
  const auto bytes = File(7, 0);
  for (int i = 0; i < 1000; ++i) dir.Put("d/" + std::to_string(1000 + i) + ".dat", bytes);
  const std::pair<const char*, const char*> steps[] = {
      {"d", "Zusammenfassung: 1000 umgesetzt, 0 nicht umgesetzt\n"},
      {"--verify d", "Zusammenfassung: 1000 stimmen, 0 beschädigt oder nicht lesbar\n"},
      {"--undo d", "Zusammenfassung: 1000 rückgängig gemacht, 0 nicht rückgängig gemacht\n"},
  };
  for (const auto& [args, summary] : steps) {
    SCOPED_TRACE(args);
    const auto r = Cli(dir, args, "ulimit -n 64 && ");
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 500);
    EXPECT_TRUE(r.out.ends_with(summary))
        << r.out.substr(r.out.size() - std::min<std::size_t>(r.out.size(), 300));
  }
  EXPECT_EQ(dir.Names().size(), 1u);
  EXPECT_EQ(dir.Get("d/1999.dat"), bytes);
}

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

// A small stack converts; memory too tight even for one window of records
// is a clear message with nothing touched.
TEST(SystemLimits, ASmallStackOrTightMemoryNeverCrashes) {
  if (Sanitized()) GTEST_SKIP() << "the sanitizers need more stack and address space";
  test::TempDir dir;
  const auto v10 = File(7, 64u << 20);
  dir.Put("a.dat", v10);
  const auto tight = Cli(dir, "a.dat", "ulimit -v 12000; ");
  EXPECT_EQ(tight.status, 1);
  EXPECT_EQ(tight.err, "a.dat: Zu wenig Arbeitsspeicher (Die Datei ist unverändert)\n");
  EXPECT_EQ(dir.Names(), Names{"a.dat"});
  const auto small = Cli(dir, "a.dat", "ulimit -s 128; ulimit -v 40000; ");
  EXPECT_EQ(small.status, 0) << small.err;
  EXPECT_EQ(dir.Get("a.old"), v10);
}

// A file larger than the memory the tool may hold converts to the very
// bytes, and the process's own peak, as the kernel counted it, stays within
// that bound.
TEST(SystemLimits, AFileLargerThanTheMemoryAimConvertsInBoundedMemory) {
  constexpr long kAimKiB = 64 << 10;
  constexpr std::uint64_t kSize = 80u << 20;
  test::TempDir dir;
  dir.Put("a.dat", File(12, kSize));
  // The child's peak starts from this process's: the file's bytes are let go
  // of above, and the kernel's mark is set back to what is held now.
  std::ofstream("/proc/self/clear_refs") << "5";
  const std::string path = dir.Path("a.dat");
  char* const argv[] = {const_cast<char*>(KVO_CLI), const_cast<char*>(path.c_str()), nullptr};
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, KVO_CLI, &quiet, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&quiet);
  int status = 0;
  struct rusage usage {};
  ASSERT_EQ(::wait4(pid, &status, 0, &usage), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  if (!Sanitized()) {
    EXPECT_LT(usage.ru_maxrss, kAimKiB) << "KiB at the peak";
  }
  const auto v10 = File(12, kSize);
  ASSERT_GT(v10.size(), std::size_t{kAimKiB} << 10);
  EXPECT_EQ(dir.Get("a.old"), v10);
  EXPECT_EQ(dir.Get("a.dat"), ConvertImage(v10, *std::make_unique<TableSets>()));
}

// What the power-loss model counts on, asked of the kernel: the new files
// written, then flushed before the backups are made, the folder flushed once
// the backups exist and before any new file takes a name, and once more
// after. strace records the calls that succeeded, in order; each write is
// held back a moment, so that a flush that does not wait for the writes
// comes first.
TEST(Signals, EveryFlushTheCommitCountsOnIsIssued) {
  KVO_NEEDS(std::system("strace -V >/dev/null 2>&1") == 0, "strace");
  struct Case {
    const char* files;
    std::string calls;
  };
  const Case cases[] = {
      // The new file swapped with the original, whose extra name then goes.
      {"a.dat", "write fsync link fsync exchange unlink fsync"},
      {"a.dat b.dat", "write syncfs link link fsync exchange unlink exchange unlink fsync"},
      // Undo of both, once converted: a second name of each backup swapped
      // with the file, one flush, and only then the backups go.
      {"--undo a.dat b.dat", "link exchange unlink link exchange unlink fsync unlink unlink fsync"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files);
    test::TempDir dir, log;
    dir.Put("a.dat", File(10, 100'000));
    dir.Put("b.dat", File(11, 100'000));
    if (std::string_view(c.files).starts_with("--undo")) {
      ASSERT_EQ(test::RunCommand(dir.Path(""), std::string(KVO_CLI) + " a.dat b.dat").status, 0);
    }
    const auto r = test::RunCommand(
        dir.Path(""),
        "ASAN_OPTIONS=detect_leaks=0 strace -f -qq -y -o " + log.Path("trace") +
            " -e "
            "trace=write,fsync,fdatasync,syncfs,link,linkat,rename,renameat,renameat2,unlink,"
            "unlinkat -e inject=write:delay_exit=20000 " +
            KVO_CLI + " " + c.files);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto bytes = log.Get("trace");
    std::istringstream trace(std::string(bytes.begin(), bytes.end()));
    // A flush counts where it begins, a write where it ends: a write to a
    // file must be done before the flush that is to put it on the disk.
    std::vector<std::string> words;
    std::map<std::string, std::pair<std::string, std::size_t>> begun;  // thread -> call, word
    for (std::string line; std::getline(trace, line);) {
      const std::string thread = line.substr(0, line.find(' '));
      std::size_t word = words.size();
      if (line.ends_with(" <unfinished ...>")) {
        begun[thread] = {line.substr(0, line.size() - 17), words.size()};
        words.emplace_back();
        continue;
      }
      if (const std::size_t resumed = line.find(" resumed>"); resumed != std::string::npos) {
        word = begun[thread].second;
        line = begun[thread].first + line.substr(resumed + 9);
      }
      if (word == words.size()) words.emplace_back();
      const std::size_t open = line.find('(');
      if (open == std::string::npos) continue;
      std::string name = line.substr(0, open);
      name = name.substr(name.find_last_of(' ') + 1);
      if (name == "write") {
        // To a file of the folder (-y names it), not the lines to the
        // terminal or whatever the sanitizers write.
        if (line.find(dir.Path("")) != std::string::npos) words.push_back(name);
        continue;
      }
      if (!line.ends_with("= 0")) continue;
      if (name.starts_with("link")) name = "link";
      if (name.starts_with("rename")) {
        name = line.find("RENAME_EXCHANGE") != std::string::npos ? "exchange" : "rename";
      }
      if (name.starts_with("unlink")) name = "unlink";
      words[word] = name;
    }
    std::string calls;
    for (const std::string& w : words) {
      if (w.empty() || (w == "write" && calls.ends_with("write"))) continue;  // one for a run
      calls += (calls.empty() ? "" : " ") + w;
    }
    EXPECT_EQ(calls, c.calls);
  }
}

// SIGINT, SIGTERM and SIGHUP arriving while the first file is written or
// while the new files are flushed: every file not yet in place is rolled
// back, the rest is not started, and the exit status says which signal it
// was. strace delivers each at a call nothing else makes (a sanitizer's
// runtime may write before main): the lock taken on the first file as it is
// opened, before its bytes are written, the flush of one file (fsync) or of
// a group (syncfs).
TEST(Signals, AnInterruptRollsTheFileBackAndStopsTheBatch) {
  KVO_NEEDS(std::system("strace -V >/dev/null 2>&1") == 0, "strace");
  const auto a = File(8, 300'000);
  const auto b = File(9, 300'000);
  const std::string rolledBack = ": Abgebrochen, die Datei ist unverändert.\n";
  struct Case {
    const char* signal;
    int number;
    const char* call;
    const char* files;
    std::string err, out;
  };
  // The counts say what the signal kept the run from.
  const std::string stopped = "Zusammenfassung: 0 umgesetzt, 1 nicht begonnen, 1 nicht umgesetzt\n";
  const Case cases[] = {
      {"INT", SIGINT, "flock", "a.dat b.dat", "a.dat" + rolledBack, stopped},
      {"TERM", SIGTERM, "flock", "a.dat b.dat", "a.dat" + rolledBack, stopped},
      {"HUP", SIGHUP, "flock", "a.dat b.dat", "a.dat" + rolledBack, stopped},
      {"TERM", SIGTERM, "fsync", "a.dat", "a.dat" + rolledBack, ""},
      {"INT", SIGINT, "syncfs", "a.dat b.dat", "a.dat" + rolledBack + "b.dat" + rolledBack,
       "Zusammenfassung: 0 umgesetzt, 2 nicht umgesetzt\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.signal << " at " << c.call);
    test::TempDir dir;
    dir.Put("a.dat", a);
    dir.Put("b.dat", b);
    const auto r = test::RunCommand(
        // LeakSanitizer cannot work under strace.
        dir.Path(""), std::string("ASAN_OPTIONS=detect_leaks=0 strace -o /dev/null -e trace=") +
                          c.call + " -e inject=" + c.call + ":signal=" + c.signal + ":when=1 " +
                          KVO_CLI + " " + c.files);
    EXPECT_EQ(r.status, 128 + c.number);
    EXPECT_EQ(r.err, c.err + "Abgebrochen.\n");
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(dir.Names(), (Names{"a.dat", "b.dat"}));
    EXPECT_EQ(dir.Get("a.dat"), a);
    EXPECT_EQ(dir.Get("b.dat"), b);
  }
}

// Ctrl+C while a conversion waits for a look at its file (here one that
// holds it for good): the wait ends at once, nothing is changed, and the
// line says so. strace delivers SIGINT at the run's second try of its lock.
TEST(Signals, AWaitForALookEndsAtOnce) {
  KVO_NEEDS(std::system("strace -V >/dev/null 2>&1") == 0, "strace");
  test::TempDir dir;
  const auto v10 = File(16, 100'000);
  dir.Put("a.dat", v10);
  const int look = ::open(dir.Path("a.dat").c_str(), O_RDONLY);
  ASSERT_GE(look, 0);
  ASSERT_EQ(::flock(look, LOCK_SH), 0);
  const auto r = Cli(dir, "a.dat",
                     "ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e trace=flock "
                     "-e inject=flock:signal=INT:when=4 ");
  ::close(look);
  EXPECT_EQ(r.status, 128 + SIGINT);
  EXPECT_EQ(r.err, std::string("a.dat: ") + kInterruptedText + "\n" + kStoppedText + "\n");
  EXPECT_EQ(dir.Names(), Names{"a.dat"});
  EXPECT_EQ(dir.Get("a.dat"), v10);
}

}  // namespace
}  // namespace kvo
