// The run against what a file system can put in its way: things that are not
// files, links, permissions, long names, edits during the run, and the end of
// the process at any call.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <utility>

#ifdef _WIN32
#include <windows.h>

#include "Utf8.h"
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "Commit.h"
#include "Container.h"
#include "Errors.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"
#include "Run.h"
#include "Summary.h"
#include "support/DatFile.h"
#include "support/FakeUi.h"
#include "support/FaultyFiles.h"
#include "support/PowerLoss.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

using Names = std::set<std::string>;
namespace fs = std::filesystem;

FileResult ConvertOne(const std::string& path, platform::Files& files = platform::SystemFiles()) {
  test::FakeUi ui;
  return RunOperation(ui, files, {{path}}).front();
}

#ifndef _WIN32

std::vector<std::uint8_t> Expected(const std::vector<std::uint8_t>& v10) {
  return ConvertImage(v10, *std::make_unique<TableSets>());
}

// Whatever is not a regular file is refused before a byte is read, and
// nothing waits for it: a pipe without a writer, a folder, a socket, a
// device, a link that leads nowhere.
TEST(Hostile, RefusesWhatIsNotARegularFileWithoutWaiting) {
  using platform::Problem;
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    Problem problem;
  };
  const Case cases[] = {
      {"pipe", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
       Problem::NotRegular},
      {"folder", [](const std::string& p) { fs::create_directory(p); }, Problem::Folder},
      {"socket",
       [](const std::string& p) {
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         ASSERT_LT(p.size(), sizeof address.sun_path);
         p.copy(address.sun_path, p.size());
         const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
         ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         ::close(s);
       },
       Problem::NotRegular},
      {"device", [](const std::string& p) { fs::create_symlink("/dev/zero", p); },
       Problem::NotRegular},
      {"dangling link", [](const std::string& p) { fs::create_symlink("nirgends.dat", p); },
       Problem::Missing},
      {"missing", [](const std::string&) {}, Problem::Missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    c.make(dir.Path("a.dat"));
    const Names before = dir.Names();
    const FileResult r = ConvertOne(dir.Path("a.dat"));
    EXPECT_EQ(r.outcome, Outcome::NotOpened);
    EXPECT_EQ(r.message, kWrongVersionText);
    EXPECT_EQ(r.openProblem, c.problem);
    EXPECT_EQ(dir.Names(), before);
  }
}

// The new file gets the original's permission bits whatever the umask, and
// is its creator's alone until it is complete; root gives it the original's
// owner too.
TEST(Hostile, TheNewFileKeepsTheOriginalsPermissionsAndOwner) {
  const auto v10 = test::SmallFile(1);
  const bool root = ::geteuid() == 0;
  struct Case {
    mode_t mode, umask;
    bool giveAway;  // the original belongs to someone else
  };
  const Case cases[] = {{0600, 0, false}, {0640, 022, false}, {0444, 077, false}, {0664, 0, root}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::oct << c.mode << " umask " << c.umask);
    test::TempDir dir;
    const std::string path = dir.Path("a.dat");
    dir.Put("a.dat", v10);
    ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
    if (c.giveAway) {
      ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    }
    mode_t whileWritten = 0;
    test::FaultyFiles files;
    files.before = [&](long, const std::string& what) {
      struct stat st {};
      if (what == "complete" && ::stat(TemporaryPath(path, 0).c_str(), &st) == 0) {
        whileWritten = st.st_mode & 07777;
      }
    };
    const mode_t previous = ::umask(c.umask);
    const FileResult r = ConvertOne(path, files);
    ::umask(previous);
    ASSERT_EQ(r.outcome, Outcome::Converted);
    EXPECT_EQ(whileWritten, 0600u);
    struct stat now {};
    ASSERT_EQ(::stat(path.c_str(), &now), 0);
    EXPECT_EQ(now.st_mode & 07777, c.mode);
    EXPECT_EQ(now.st_uid, c.giveAway ? 65534u : ::geteuid());
    EXPECT_EQ(now.st_gid, c.giveAway ? 65534u : ::getegid());
  }
}

// The folder renamed while the run works in it, at each kind of call: the
// run follows it, converts the file there and leaves nothing behind.
TEST(Hostile, AFolderMovedDuringTheRunIsFollowed) {
  const auto v10 = test::SmallFile(2);
  for (const bool links : {true, false}) {
    for (const std::string kind :
         {"open", "create", "fsync", "link", "rename", "replace", "fsyncdir"}) {
      SCOPED_TRACE(kind + (links ? "" : ", no hard links"));
      test::TempDir dir;
      fs::create_directory(dir.Path("in"));
      dir.Put("in/a.dat", v10);
      test::FaultyFiles files;
      files.noHardLinks = !links;
      bool moved = false;
      files.before = [&](long, const std::string& what) {
        if (what != kind || moved) return;
        fs::rename(dir.Path("in"), dir.Path("moved"));
        moved = true;
      };
      const FileResult r = ConvertOne(dir.Path("in/a.dat"), files);
      if (!moved) continue;  // no call of this kind without hard links
      EXPECT_EQ(r.outcome, Outcome::Converted) << r.message;
      EXPECT_EQ(dir.Names(), Names{"moved"});
      std::set<std::string> names;
      for (const auto& e : fs::directory_iterator(dir.Path("moved"))) {
        names.insert(e.path().filename().string());
      }
      EXPECT_EQ(names, (Names{"a.dat", "a.old"}));
      EXPECT_EQ(dir.Get("moved/a.dat"), Expected(v10));
      EXPECT_EQ(dir.Get("moved/a.old"), v10);
    }
  }
}

#endif

#ifdef _WIN32

// A scanner or the indexer holding the file for a moment (a handle without
// sharing): the run waits for it, and converts.
TEST(Hostile, AFileBusyForAMomentIsWaitedFor) {
  test::TempDir dir;
  const auto v10 = test::SmallFile(3);
  dir.Put("a.dat", v10);
  HANDLE scanner = ::CreateFileW(platform::Wide(dir.Path("a.dat")).c_str(), GENERIC_READ, 0,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
  int pauses = 0;
  // The first pause is the moment the scanner lets go.
  platform::SetBusyPause([&](unsigned) {
    ++pauses;
    if (scanner != INVALID_HANDLE_VALUE)
      ::CloseHandle(std::exchange(scanner, INVALID_HANDLE_VALUE));
  });
  const FileResult r = ConvertOne(dir.Path("a.dat"));
  platform::SetBusyPause({});
  EXPECT_EQ(r.outcome, Outcome::Converted) << Explained(r);
  EXPECT_GT(pauses, 0);
  EXPECT_EQ(dir.Get("a.old"), v10);
}

// The new file keeps the original's attributes (and its access rules, which
// Wine does not keep apart from the folder's).
TEST(Hostile, TheNewFileKeepsTheOriginalsAttributes) {
  test::TempDir dir;
  dir.Put("a.dat", test::SmallFile(1));
  const std::wstring path = platform::Wide(dir.Path("a.dat"));
  constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY;
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), kept));
  ASSERT_EQ(ConvertOne(dir.Path("a.dat")).outcome, Outcome::Converted);
  EXPECT_EQ(::GetFileAttributesW(path.c_str()) & kept, kept);
  EXPECT_EQ(dir.Get("a.old"), test::SmallFile(1));
}

#endif

// The temporary name is short: a name as long as the folder takes converts.
TEST(Hostile, NamesAsLongAsTheFolderTakesConvert) {
  const auto v10 = test::SmallFile(3);
  for (const std::size_t length : {200u, 251u, 255u}) {
    test::TempDir dir;
    const std::string stem(length - 4, 'n');
    dir.Put(stem + ".dat", v10);
    const FileResult r = ConvertOne(dir.Path(stem + ".dat"));
    EXPECT_EQ(r.outcome, Outcome::Converted) << length << ": " << r.message;
    EXPECT_EQ(dir.Names(), (Names{stem + ".dat", stem + ".old"}));
  }
}

#ifndef _WIN32

// A file changed or replaced while it was converted, or undone, is left as
// it now is, at every moment up to the last: the recheck at the flush, the
// swap that checks what it displaced, the recheck before a plain rename
// where names cannot be swapped. A backup made as a second name of the file
// goes with the roll-back even when the file was written to meanwhile.
// (On Windows no one else may write or rename it meanwhile; POSIX locks
// only advise.)
TEST(Hostile, AFileChangedDuringTheRunIsLeftAsItIsNow) {
  const auto v10 = test::SmallFile(4);
  const auto v11 = Expected(v10);
  const std::vector<std::uint8_t> other = test::SmallFile(5);
  const auto append = [](const test::TempDir& d) {
    std::ofstream(test::FromUtf8(d.Path("a.dat")), std::ios::app | std::ios::binary) << '!';
  };
  const auto replace = [&](const test::TempDir& d) {
    d.Put("b.dat", other);
    fs::rename(test::FromUtf8(d.Path("b.dat")), test::FromUtf8(d.Path("a.dat")));
  };
  auto appended = v10, appended11 = v11;
  appended.push_back('!');
  appended11.push_back('!');
  struct Case {
    const char* what;
    const char* call;  // the edit comes just before the nth call of this kind
    bool noHardLinks, undo;
    std::function<void(const test::TempDir&)> edit;
    std::vector<std::uint8_t> after;
    int nth = 1;
    bool noChangeTime = false;
  };
  const Case cases[] = {
      {"appended to", "fsync", false, false, append, appended},
      {"replaced", "fsync", false, false, replace, other},
      {"appended to while its backup is linked", "link", false, false, append, appended},
      {"appended to at the last moment", "exchange", false, false, append, appended},
      {"saved over at the last moment", "exchange", false, false, replace, other},
      {"appended to before the rename", "fsyncdir", true, false, append, appended},
      {"undo: appended to at the last moment", "exchange", false, true, append, appended11},
      {"undo: appended to while the copy is flushed", "fsync", true, true, append, appended11},
      // Where the disk keeps no change time the bytes are read once more
      // before the rename: a file saved over the name meanwhile is seen too.
      {"saved over while its bytes are read once more", "rewind", true, false, replace, other, 2,
       true},
      {"undo: saved over while its bytes are read once more", "rewind", true, true, replace, other,
       4, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    dir.Put("a.dat", c.undo ? v11 : v10);
    if (c.undo) dir.Put("a.old", v10);
    test::FaultyFiles files;
    files.noHardLinks = c.noHardLinks;
    files.noChangeTime = c.noChangeTime;
    bool edited = false;
    int seen = 0;
    files.before = [&](long, const std::string& what) {
      if (what == c.call && !edited && ++seen == c.nth) {
        edited = true;
        c.edit(dir);
      }
    };
    test::FakeUi ui;
    RunOptions options;
    options.operation = c.undo ? Operation::Undo : Operation::Convert;
    const FileResult r = RunOperation(ui, files, {{dir.Path("a.dat")}}, options).front();
    ASSERT_TRUE(edited);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.message, std::string(c.undo ? kNotUndoneText : kChangedText) + ".");
    // The file is as the other program left it: never called unchanged.
    EXPECT_EQ(BoxText(r),
              c.undo ? std::string(kNotUndoneText) + ".\n" + Sentence(kChangedWhileUndoneDetail)
                     : r.message);
    EXPECT_EQ(dir.Names(), c.undo ? (Names{"a.dat", "a.old"}) : Names{"a.dat"});
    EXPECT_EQ(dir.Get("a.dat"), c.after);
    if (c.undo) {
      EXPECT_EQ(dir.Get("a.old"), v10);
    }
  }
  // Where no open file is renamed over (Windows), a program that holds the
  // file at the rename is waited for; one that wrote to it meanwhile is seen
  // once it lets go, and its edit stays.
  for (const bool undo : {false, true}) {
    SCOPED_TRACE(undo ? "undo: written to while the rename waits"
                      : "written to while the rename waits");
    test::TempDir dir;
    dir.Put("a.dat", undo ? v11 : v10);
    if (undo) dir.Put("a.old", v10);
    test::FaultyFiles files, program;
    files.noOpenRenames = program.noOpenRenames = files.noExchange = true;
    std::unique_ptr<platform::InputFile> held;
    files.before = [&](long, const std::string& what) {
      if (what == "replace" && !held) held = program.OpenToLook(dir.Path("a.dat"));
    };
    int pauses = 0;
    platform::SetBusyPause([&](unsigned) {
      if (pauses++ > 0) return;
      append(dir);
      held.reset();
    });
    test::FakeUi ui;
    RunOptions options;
    options.operation = undo ? Operation::Undo : Operation::Convert;
    const FileResult r = RunOperation(ui, files, {{dir.Path("a.dat")}}, options).front();
    platform::SetBusyPause({});
    EXPECT_GT(pauses, 0);
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.message, std::string(undo ? kNotUndoneText : kChangedText) + ".");
    EXPECT_EQ(dir.Names(), undo ? (Names{"a.dat", "a.old"}) : Names{"a.dat"});
    EXPECT_EQ(dir.Get("a.dat"), undo ? appended11 : appended);
  }
  // A backup name another program took meanwhile is not this run's to take
  // back; nor is a backup undo would drop once it was written to.
  for (const bool undo : {false, true}) {
    SCOPED_TRACE(undo ? "undo: the backup written to" : "the backup replaced, the file changed");
    test::TempDir dir;
    dir.Put("a.dat", undo ? v11 : v10);
    if (undo) dir.Put("a.old", v10);
    test::FaultyFiles files;
    bool edited = false;
    files.before = [&](long, const std::string& what) {
      if (what != "fsyncdir" || edited) return;
      edited = true;
      if (!undo) {
        dir.Put("b.dat", other);
        fs::rename(test::FromUtf8(dir.Path("b.dat")), test::FromUtf8(dir.Path("a.old")));
      }
      std::ofstream(test::FromUtf8(dir.Path(undo ? "a.old" : "a.dat")),
                    std::ios::app | std::ios::binary)
          << '!';
    };
    test::FakeUi ui;
    RunOptions options;
    options.operation = undo ? Operation::Undo : Operation::Convert;
    const FileResult r = RunOperation(ui, files, {{dir.Path("a.dat")}}, options).front();
    ASSERT_TRUE(edited);
    EXPECT_EQ(r.outcome, undo ? Outcome::Undone : Outcome::Failed) << r.message;
    EXPECT_EQ(dir.Names(), (Names{"a.dat", "a.old"}));
    EXPECT_EQ(dir.Get("a.old"), undo ? appended : other);
  }
  // A backup alone goes back under its file's name only while that name is
  // free: a file saved there at the last moment stays.
  test::TempDir dir;
  dir.Put("a.old", v10);
  test::FaultyFiles files;
  files.before = [&](long, const std::string& what) {
    if (what == "rename" && !dir.Has("a.dat")) dir.Put("a.dat", other);
  };
  test::FakeUi ui;
  RunOptions options;
  options.operation = Operation::Undo;
  const FileResult r = RunOperation(ui, files, {{dir.Path("a.dat")}}, options).front();
  EXPECT_EQ(r.outcome, Outcome::Failed);
  EXPECT_EQ(dir.Get("a.dat"), other);
  EXPECT_EQ(dir.Get("a.old"), v10);
}

// A large file is read twice: its count fields first, then all of it. A
// program that rewrites it in between, keeping its size and time (as on a
// disk with coarse times), leaves counts that no longer agree: the file is
// left as it now is.
TEST(Hostile, ALargeFileRewrittenWhileItIsReadIsLeftAsItIsNow) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows lets no other program write to a file the run holds";
#endif
  test::DatFile before = test::SizedFile(8, 12u << 20);
  test::DatFile after = before;
  after.SetCount(6, before.counts[6] - 1);
  after.trailer.resize(sizeof(kvoAllg0::TkvoB6Satz0));  // the same size
  ASSERT_EQ(after.Bytes().size(), before.Bytes().size());
  test::TempDir dir;
  dir.Put("a.dat", before.Bytes());
  const auto path = test::FromUtf8(dir.Path("a.dat"));
  test::FaultyFiles files;
  bool edited = false;
  files.before = [&](long, const std::string& what) {
    if (what != "rewind" || edited) return;
    edited = true;
    const auto time = fs::last_write_time(path);
    dir.Put("a.dat", after.Bytes());
    fs::last_write_time(path, time);
  };
  test::FakeUi ui;
  const FileResult r = RunOperation(ui, files, {{dir.Path("a.dat")}}).front();
  ASSERT_TRUE(edited);
  EXPECT_EQ(r.message, std::string(kChangedText) + ".");
  EXPECT_EQ(dir.Names(), Names{"a.dat"});
  EXPECT_EQ(dir.Get("a.dat"), after.Bytes());
}

// A run of several files ended at each of its file-system calls in turn, as
// by SIGKILL or a power cut: every file's name holds its complete original
// or its complete new file, a backup holds the original, and a rerun
// finishes the job and leaves no temporary file. The files go in one group,
// and in groups of one; with hard links, and without (the backup a copy).
// The same for undo, which starts from converted files and ends with the
// originals alone under their names.
TEST(Crash, EndedAtAnyCallEveryNameHoldsACompleteFile) {
  struct Scheme {
    std::size_t openFilesAllowed;
    bool noHardLinks;
    Operation operation;
  };
  for (const auto [openFilesAllowed, noHardLinks, operation] :
       {Scheme{0, false, Operation::Convert}, Scheme{18, false, Operation::Convert},
        Scheme{0, true, Operation::Convert}, Scheme{18, true, Operation::Convert},
        Scheme{0, false, Operation::Undo}, Scheme{18, true, Operation::Undo}}) {
    const bool undo = operation == Operation::Undo;
    SCOPED_TRACE(testing::Message()
                 << "open files allowed: " << openFilesAllowed
                 << (noHardLinks ? ", no hard links" : "") << (undo ? ", undo" : ""));
    RunOptions options;
    options.operation = operation;
    const std::vector<std::string> names = {"a.dat", "b.dat", "c.dat"};
    std::map<std::string, std::vector<std::uint8_t>> v10, v11;
    for (std::size_t i = 0; i < names.size(); ++i) {
      v10[names[i]] = test::SmallFile(10 + i);
      v11[names[i]] = Expected(v10[names[i]]);
    }
    auto fill = [&](const test::TempDir& dir) {
      std::vector<FileToConvert> paths;
      for (const auto& name : names) {
        dir.Put(name, undo ? v11[name] : v10[name]);
        if (undo) dir.Put(BackupPath(name), v10[name]);
        paths.push_back({dir.Path(name)});
      }
      return paths;
    };
    long calls = 0;
    {
      test::TempDir probe;
      test::FaultyFiles counter;
      counter.openFilesAllowed = openFilesAllowed;
      counter.noHardLinks = noHardLinks;
      test::FakeUi ui;
      RunOperation(ui, counter, fill(probe), options);
      calls = counter.calls();
    }
    ASSERT_GT(calls, undo ? 10 : 20);

    std::map<std::string, int> seen;      // how often each state of a file was found
    std::map<std::string, bool> inPlace;  // the new file under the name
    for (long k = 1; k <= calls; ++k) {
      test::TempDir dir;
      const auto paths = fill(dir);
      const pid_t child = ::fork();
      if (child == 0) {
        test::FaultyFiles files;
        files.openFilesAllowed = openFilesAllowed;
        files.noHardLinks = noHardLinks;
        files.before = [k](long call, const std::string&) {
          if (call == k) ::_exit(0);
        };
        test::FakeUi ui;
        RunOperation(ui, files, paths, options);
        ::_exit(1);  // never: the run makes all the calls counted before
      }
      ASSERT_GT(child, 0);
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "call " << k;

      for (const auto& name : names) {
        SCOPED_TRACE(testing::Message() << "ended at call " << k << ", " << name);
        const std::string backup = BackupPath(name);
        ASSERT_TRUE(dir.Has(name)) << "the name stands empty";
        const auto now = dir.Get(name);
        ASSERT_TRUE(now == v10[name] || now == v11[name]) << "neither original nor new";
        if (dir.Has(backup)) {
          EXPECT_EQ(dir.Get(backup), v10[name]);
        }
        if (now == v11[name]) {
          EXPECT_TRUE(dir.Has(backup));
        }
        const bool converted = now == v11[name];
        ++seen[converted         ? "new in place"
               : dir.Has(backup) ? "original under both names"
               : undo            ? "original back"
                                 : "original untouched"];
        inPlace[name] = converted;
      }
      // What the user is told agrees with the disk: status says where each
      // file stands, and the rerun's line is what it then does.
      RunOptions look;
      look.operation = Operation::Status;
      test::FakeUi statusUi;
      const auto found = RunOperation(statusUi, platform::SystemFiles(), paths, look);
      test::FakeUi ui;
      const auto rerun = RunOperation(ui, platform::SystemFiles(), paths, options);
      for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "told after call " << k << ", " << names[i]);
        const bool converted = inPlace[names[i]];
        if (converted) {
          EXPECT_EQ(found[i].standing, Standing::Converted) << found[i].detail;
        } else {
          EXPECT_TRUE(found[i].standing == Standing::ToConvert ||
                      found[i].standing == Standing::Interrupted)
              << StandingText(*found[i].standing, Operation::Status) << " " << found[i].detail;
        }
        EXPECT_EQ(IsProblem(found[i]), found[i].standing == Standing::Interrupted);
        const Outcome expected = undo
                                     ? (converted ? Outcome::Undone : Outcome::Examined)
                                     : (converted ? Outcome::AlreadyConverted : Outcome::Converted);
        EXPECT_EQ(rerun[i].outcome, expected) << rerun[i].message << " " << rerun[i].detail;
      }
      Names expected;
      for (const auto& name : names) {
        EXPECT_EQ(dir.Get(name), undo ? v10[name] : v11[name]) << "rerun after call " << k;
        expected.insert(name);
        if (undo) continue;
        EXPECT_EQ(dir.Get(BackupPath(name)), v10[name]) << "rerun after call " << k;
        expected.insert(BackupPath(name));
      }
      EXPECT_EQ(dir.Names(), expected) << "rerun after call " << k;
    }
    std::printf(
        "%s%s, groups of %s: ended at each of %ld calls, files found:", undo ? "undo, " : "",
        noHardLinks ? "no hard links" : "hard links", openFilesAllowed ? "one" : "all", calls);
    for (const auto& [state, count] : seen) std::printf(" %s %d,", state.c_str(), count);
    std::printf("\n");
    EXPECT_GT(seen[undo ? "original back" : "original under both names"], 0);
  }
}

// Two runs on the same file, the second started at each file-system call
// of the first in turn: the file is converted once, its backup holds the
// original, the other run says why it did nothing (at version 1.1 already,
// or held, and then by a run of this tool wherever its temporary file
// shows it), and nothing else is left.
TEST(Crash, ASecondRunAtAnyCallOfTheFirstLosesNothing) {
  const auto v10 = test::SmallFile(20);
  const auto v11 = Expected(v10);
  for (const bool noHardLinks : {false, true}) {
    auto run = [&](const std::string& path, platform::Files& files) {
      test::FakeUi ui;
      auto tables = std::make_unique<TableSets>();  // each its own, as two processes
      return RunOperation(ui, files, {{path}}, {.tables = tables.get()}).front();
    };
    long calls = 0;
    {
      test::TempDir probe;
      probe.Put("a.dat", v10);
      test::FaultyFiles counter;
      counter.noHardLinks = noHardLinks;
      run(probe.Path("a.dat"), counter);
      calls = counter.calls();
    }
    int busy = 0;
    for (long k = 1; k <= calls; ++k) {
      SCOPED_TRACE(testing::Message()
                   << "second run at call " << k << (noHardLinks ? ", no hard links" : ""));
      test::TempDir dir;
      dir.Put("a.dat", v10);
      FileResult second;
      test::FaultyFiles files;
      files.noHardLinks = noHardLinks;
      files.before = [&](long call, const std::string&) {
        if (call == k) second = run(dir.Path("a.dat"), platform::SystemFiles());
      };
      const FileResult first = run(dir.Path("a.dat"), files);
      EXPECT_EQ(dir.Names(), (Names{"a.dat", "a.old"}));
      EXPECT_EQ(dir.Get("a.dat"), v11);
      EXPECT_EQ(dir.Get("a.old"), v10);
      ASSERT_NE(first.outcome == Outcome::Converted, second.outcome == Outcome::Converted)
          << first.message << " / " << second.message;
      const FileResult& other = first.outcome == Outcome::Converted ? second : first;
      if (other.outcome != Outcome::AlreadyConverted) {
        // Refused at the open, or at the first run's new file it holds.
        EXPECT_TRUE(other.openProblem == platform::Problem::Locked || other.detail == kBusyDetail)
            << other.message;
        busy += other.detail == kBusyDetail;
      }
    }
    EXPECT_GT(busy, 0);
  }
}

// A power cut after each file-system call of a run of two files, with hard
// links and without, under two models of what survives: the name changes
// since their folder's last flush in order, or any subset of them (FAT has
// no journal to promise an order); unflushed data none, half, zeros or all
// of it. In every state each name holds its complete original or its
// complete new file, a backup holds the original, a new file never stands
// without its backup, and a rerun leaves exactly the new files and backups.
TEST(Crash, APowerCutAfterAnyCallLosesNoOriginal) {
  const std::map<std::string, std::vector<std::uint8_t>> v10 = {{"a.dat", test::SmallFile(30)},
                                                                {"b.dat", test::SmallFile(31)}};
  std::map<std::string, std::vector<std::uint8_t>> v11;
  for (const auto& [name, bytes] : v10) v11[name] = Expected(bytes);
  auto paths = [&](const test::TempDir& dir) {
    std::vector<FileToConvert> list;
    for (const auto& [name, bytes] : v10) list.push_back({dir.Path(name)});
    return list;
  };
  // Undo starts where a conversion ended.
  std::map<std::string, std::vector<std::uint8_t>> converted = v11;
  for (const auto& [name, bytes] : v10) converted[BackupPath(name)] = bytes;
  for (const auto model : {test::Persistence::InOrder, test::Persistence::AnySubset}) {
    for (const auto& [noHardLinks, undo] :
         {std::pair{false, false}, {true, false}, {false, true}, {true, true}}) {
      RunOptions options;
      options.operation = undo ? Operation::Undo : Operation::Convert;
      const auto& start = undo ? converted : v10;
      test::TempDir dir;
      for (const auto& [name, bytes] : start) dir.Put(name, bytes);
      test::FaultyFiles inner;
      inner.noHardLinks = noHardLinks;
      test::RecordingFiles recorder(start, inner);
      test::FakeUi ui;
      for (const auto& r : RunOperation(ui, recorder, paths(dir), options)) {
        ASSERT_EQ(r.outcome, undo ? Outcome::Undone : Outcome::Converted) << r.message;
      }
      std::size_t states = 0;
      int violations = 0;
      for (std::size_t done = 0; done <= recorder.ops().size(); ++done) {
        for (const test::DiskState& state : test::StatesAfter(recorder, done, model)) {
          ++states;
          SCOPED_TRACE(testing::Message()
                       << "power cut after call " << done << ", state " << states);
          const int before = violations;
          auto check = [&](bool ok, const std::string& what) {
            if (!ok) ++violations;
            EXPECT_TRUE(ok) << what;
          };
          for (const auto& [name, original] : v10) {
            const auto now = state.files.find(name);
            const auto backup = state.files.find(BackupPath(name));
            check(now != state.files.end(), name + " stands empty");
            if (now == state.files.end()) continue;
            check(now->second == original || now->second == v11[name], name + " is broken");
            if (backup != state.files.end()) check(backup->second == original, "broken backup");
            if (now->second == v11[name]) check(backup != state.files.end(), "backup lost");
          }
          if (violations != before) continue;
          test::TempDir after;
          test::Materialize(state, after);
          test::FakeUi rerunUi;
          const auto rerun = RunOperation(rerunUi, platform::SystemFiles(), paths(after), options);
          Names expected;
          std::size_t i = 0;
          for (const auto& [name, original] : v10) {
            // What the rerun says it did is what the state asked of it.
            const bool converted = state.files.at(name) == v11[name];
            const Outcome told = undo
                                     ? (converted ? Outcome::Undone : Outcome::Examined)
                                     : (converted ? Outcome::AlreadyConverted : Outcome::Converted);
            check(rerun[i].outcome == told, "rerun says: " + rerun[i].message);
            ++i;
            expected.insert(name);
            check(after.Has(name) && after.Get(name) == (undo ? original : v11[name]),
                  "rerun: " + name);
            if (undo) continue;
            expected.insert(BackupPath(name));
            check(after.Has(BackupPath(name)) && after.Get(BackupPath(name)) == original,
                  "rerun: backup of " + name);
          }
          check(after.Names() == expected, "rerun leaves more or less");
        }
      }
      std::printf("%s, %s: %zu crash points, %zu states, %d violations\n",
                  model == test::Persistence::InOrder ? "in order" : "any subset",
                  undo          ? (noHardLinks ? "undo, no hard links" : "undo, hard links")
                  : noHardLinks ? "no hard links"
                                : "hard links",
                  recorder.ops().size() + 1, states, violations);
      EXPECT_EQ(violations, 0);
    }
  }
}

#endif

}  // namespace
}  // namespace kvo
