// The conversion run on real folders, driven through a stand-in user.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "Commit.h"
#include "Container.h"
#include "Errors.h"
#include "FileList.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"
#include "Run.h"
#include "Summary.h"
#include "support/DatFile.h"
#include "support/FakeUi.h"
#include "support/FaultyFiles.h"
#include "support/HeldFile.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

using test::DatFile;
using test::Version;
using Names = std::set<std::string>;

const std::string kSuccess = std::string("info: ") + kSuccessText;
const std::string kWrongVersion = std::string("info: ") + kWrongVersionText;

std::vector<std::uint8_t> SampleFile(std::uint64_t seed, std::int32_t records = 3) {
  DatFile f = DatFile::Empty(Version::V10);
  for (const test::BlockSpec& s : test::kBlocks) {
    if (s.counted) f.SetCount(s.number, records);
  }
  test::Random random(seed);
  test::Randomise(f, random);
  return f.Bytes();
}

std::vector<std::uint8_t> Expected(const std::vector<std::uint8_t>& v10) {
  return ConvertImage(v10, *std::make_unique<TableSets>());
}

// One file through the run, as status, verify, undo or a conversion.
FileResult RunOne(const std::string& path, Operation operation) {
  test::FakeUi ui;
  RunOptions options;
  options.operation = operation;
  return RunOperation(ui, platform::SystemFiles(), {{path}}, options).front();
}

struct Attempt {
  test::FakeUi ui;
  Outcome outcome;
  Attempt(const test::TempDir& dir, const std::string& name, platform::Files& files)
      : ui(dir.Path(name)) {
    outcome = RunConversion(ui, files);
    EXPECT_EQ(ui.waiting, 0) << "the wait cursor stays on";
    EXPECT_FALSE(ui.waitingDuringMessage);
  }
  Attempt(const test::TempDir& dir, const std::string& name)
      : Attempt(dir, name, platform::SystemFiles()) {}
};

TEST(Run, RefusesFilesItCannotConvertAndLeavesThemAlone) {
  const auto good = SampleFile(3);
  const auto v11 = Expected(good);
  auto negative = DatFile::Empty(Version::V10);
  negative.counts[9] = -1;
  auto forged = DatFile::Empty(Version::V10);
  forged.counts[7] = 1'000'000;  // far more records than the file holds
  // Larger than a file read in one call: surveyed by its count fields.
  const auto large = test::SizedFile(4, 12u << 20).Bytes();
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::string message;
  };
  const std::string error = "error: ";
  const Case cases[] = {
      {"empty", {}, kWrongVersion},
      {"first byte not 22", {21, 'V'}, kWrongVersion},
      {"converted before", v11, kWrongVersion},
      {"truncated", {good.begin(), good.end() - 1}, error + kIncompleteText + "."},
      {"negative count", negative.Bytes(), error + kRangeErrorText + "."},
      {"forged count", forged.Bytes(), error + kIncompleteText + "."},
      {"large, cut in a counted block",
       {large.begin(), large.begin() + large.size() / 2},
       error + kIncompleteText + "."},
      {"large, cut in its last block",
       {large.begin(), large.end() - 1},
       error + kIncompleteText + "."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    dir.Put("a.dat", c.bytes);
    test::FaultyFiles files;
    Attempt run(dir, "a.dat", files);
    EXPECT_EQ(run.ui.messages, std::vector{c.message});
    EXPECT_EQ(dir.Names(), Names{"a.dat"});
    EXPECT_EQ(dir.Get("a.dat"), c.bytes);
    // Refused before anything was made beside it.
    EXPECT_EQ(std::ranges::count(files.log(), "create"), 0);
  }
}

TEST(Run, CancelledMissingAndLockedFilesTouchNothing) {
  test::TempDir dir;
  const auto v10 = SampleFile(4);
  dir.Put("a.dat", v10);

  test::FakeUi cancel;
  EXPECT_EQ(RunConversion(cancel, platform::SystemFiles()), Outcome::Cancelled);
  EXPECT_TRUE(cancel.messages.empty());
  EXPECT_EQ(cancel.waiting, 0);

  Attempt missing(dir, "b.dat");
  EXPECT_EQ(missing.ui.messages, std::vector{kWrongVersion});

  {
    const test::HeldFile held(dir.Path("a.dat"));  // another run has it open
    ASSERT_TRUE(held.held());
    Attempt locked(dir, "a.dat");
    EXPECT_EQ(locked.ui.messages, std::vector{std::string("info: ") + kHeldText});
  }
  EXPECT_EQ(dir.Names(), Names{"a.dat"});
  EXPECT_EQ(dir.Get("a.dat"), v10);
}

// An existing backup is never replaced, nor is a backup ever converted: a
// foreign a.old, also one of exactly the original's length; one that comes
// just before the backup's copy takes the name; a backup chosen through a
// link to it.
TEST(Run, NeverReplacesOrConvertsABackup) {
  const auto v10 = SampleFile(5);
  auto sameLength = v10;
  sameLength.back() ^= 1;
  const std::vector<std::uint8_t> older = {'o', 'l', 'd'};
  struct Case {
    const char* what;
    std::vector<std::uint8_t> foreign;  // a.old
    const char* racedAt;                // a.old comes just before this call
    std::string chosen;
    std::string detail;  // a part of it
  };
  const Case cases[] = {
      {"a foreign backup", older, nullptr, "a.dat", "a.old gibt es schon"},
      {"one of the original's length", sameLength, nullptr, "a.dat", "a.old gibt es schon"},
      {"one that comes just before the copy takes its name", sameLength, "rename", "a.dat", ""},
      {"the backup chosen through a link", v10, nullptr, "x.dat", "ist selbst eine Sicherung"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
#ifdef _WIN32
    if (c.chosen == "x.dat") continue;  // links need rights a user rarely has there
#endif
    test::TempDir dir;
    dir.Put("a.dat", v10);
    if (c.racedAt == nullptr) dir.Put("a.old", c.foreign);
    if (c.chosen == "x.dat") {
      std::filesystem::create_symlink("a.old", test::FromUtf8(dir.Path("x.dat")));
    }
    test::FaultyFiles files;
    files.noHardLinks = c.racedAt != nullptr;
    files.before = [&](long, const std::string& what) {
      if (c.racedAt != nullptr && what == c.racedAt && !dir.Has("a.old"))
        dir.Put("a.old", c.foreign);
    };
    Attempt run(dir, c.chosen, files);
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.ui.messages,
              std::vector<std::string>{"error: Kann Backup Datei nicht erzeugen."});
    ASSERT_EQ(run.ui.details.size(), 1u);
    EXPECT_NE(run.ui.details[0].find(c.detail), std::string::npos) << run.ui.details[0];
    EXPECT_EQ(dir.Get("a.dat"), v10);
    EXPECT_EQ(dir.Get("a.old"), c.foreign);
    EXPECT_EQ(dir.Names(),
              c.chosen == "x.dat" ? (Names{"a.dat", "a.old", "x.dat"}) : (Names{"a.dat", "a.old"}));
  }
}

TEST(Run, ASecondRunGivesWhatARunAfterStartUpGives) {
  test::TempDir dir;
  dir.Put("big.dat", SampleFile(6, 40));
  const auto small = SampleFile(7, 1);
  dir.Put("small.dat", small);
  Attempt first(dir, "big.dat");
  Attempt second(dir, "small.dat");
  EXPECT_EQ(second.outcome, Outcome::Converted);
  EXPECT_EQ(dir.Get("small.dat"), Expected(small));
}

// Whatever interrupted runs left beside a file goes with its next run: the
// temporary files, also in the first release's naming, and a backup name
// that is only a second name of the file. Other files' leftovers stay.
TEST(Run, TheNextRunClearsWhatAnInterruptedOneLeft) {
  test::TempDir dir;
  const auto v10 = SampleFile(8);
  dir.Put("a.dat", v10);
  for (int attempt = 0; attempt < 100; ++attempt) {
    dir.Put(platform::NameOf(TemporaryPath(dir.Path("a.dat"), attempt)), {1});
  }
  dir.Put("a.dat.kvo-tmp", {2});
  dir.Put("a.dat.kvo-tmp7", {3});
  const std::string others = platform::NameOf(TemporaryPath(dir.Path("b.dat"), 0));
  dir.Put(others, {4});
  std::filesystem::create_hard_link(test::FromUtf8(dir.Path("a.dat")),
                                    test::FromUtf8(dir.Path("a.old")));

  Attempt run(dir, "a.dat");
  EXPECT_EQ(run.outcome, Outcome::Converted);
  EXPECT_EQ(dir.Names(), (Names{"a.dat", "a.old", others}));
  EXPECT_EQ(dir.Get("a.dat"), Expected(v10));
  EXPECT_EQ(dir.Get("a.old"), v10);
}

// Each failure while the new file is made or put in place: the original is
// (back) under its name, nothing else is left, and the user is told why.
// Without hard links the backup is a copy, made and flushed first.
TEST(Run, AFailingOutputLeavesTheOriginalUnderItsName) {
  const std::string backupFailed = "error: Kann Backup Datei nicht erzeugen.";
  const std::string outputFailed = "error: Kann neue Datei nicht erzeugen.";
  const std::string readFailed = "error: Die Datei lässt sich nicht lesen.";
  struct Case {
    const char* call;
    long nth;
    const std::string& message;
    bool noHardLinks = false;
    bool noExchange = false;
  };
  const Case cases[] = {
      {"create", 1, backupFailed},  // the folder takes no new name
      {"write", 1, outputFailed},
      {"write", 7, outputFailed},
      {"complete", 1, outputFailed},
      {"fsync", 1, outputFailed},
      {"close", 1, outputFailed},
      {"link", 1, backupFailed},                  // the backup name
      {"fsyncdir", 1, backupFailed},              // the backup not sure to be on the disk
      {"exchange", 1, outputFailed},              // the new file swapped with the original
      {"replace", 1, outputFailed, false, true},  // where names cannot be swapped
      {"create", 2, backupFailed, true},          // the backup's copy
      {"times", 1, backupFailed, true},
      {"fsync", 2, backupFailed, true},
      {"rename", 1, backupFailed, true},
      {"replace", 1, outputFailed, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.call << " " << c.nth << (c.noHardLinks ? " (FAT)" : ""));
    test::TempDir dir;
    // Large enough for the new file to go out in several writes.
    const auto v10 = SampleFile(9, 4000);
    dir.Put("a.dat", v10);
    test::FaultyFiles files(c.nth);
    files.only = c.call;
    files.noHardLinks = c.noHardLinks;
    files.noExchange = c.noExchange;
    Attempt run(dir, "a.dat", files);
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.ui.messages, std::vector<std::string>{c.message});
    // Where the original is, said with every failure.
    const std::string reason = platform::Reason(platform::FileError("", {}, test::kIoError));
    EXPECT_EQ(run.ui.details, std::vector<std::string>{reason + " " + kUnchangedFileText});
    EXPECT_EQ(dir.Names(), Names{"a.dat"});
    EXPECT_EQ(dir.Get("a.dat"), v10);
  }
}

// Bytes behind the last block are not carried over, and the user is told
// how many and that the backup keeps them; --check says so beforehand.
// Where there are no hard links the backup is a copy, and it stands in for
// the original: the user sees the original's time on it, not the moment of
// the conversion.
TEST(Run, ABackupCopiedWhereThereAreNoHardLinksKeepsTheOriginalsTime) {
  test::TempDir dir;
  const auto v10 = SampleFile(11, 4000);  // copied in several writes
  dir.Put("a.dat", v10);
  const auto path = test::FromUtf8(dir.Path("a.dat"));
  const auto then = std::filesystem::last_write_time(path) - std::chrono::hours(24 * 400);
  std::filesystem::last_write_time(path, then);
  test::FaultyFiles files;
  files.noHardLinks = true;
  Attempt run(dir, "a.dat", files);
  EXPECT_EQ(run.ui.messages, std::vector{kSuccess});
  EXPECT_EQ(dir.Get("a.old"), v10);
  EXPECT_EQ(std::filesystem::last_write_time(test::FromUtf8(dir.Path("a.old"))), then);
}

TEST(Run, BytesBehindTheLastBlockAreReported) {
  test::TempDir dir;
  const auto v10 = SampleFile(13);
  auto longer = v10;
  for (const char c : std::string("0123456789ABCDEFGHIJ")) longer.push_back(c);
  dir.Put("a.dat", longer);
  test::FakeUi checkUi;
  const auto check = RunOperation(checkUi, platform::SystemFiles(), {{dir.Path("a.dat")}},
                                  RunOptions{.checkOnly = true});
  EXPECT_EQ(check.front().detail,
            "20 Bytes hinter dem letzten Block würden nicht übernommen; sie blieben in a.old "
            "erhalten.");
  Attempt run(dir, "a.dat");
  EXPECT_EQ(run.outcome, Outcome::Converted);
  EXPECT_EQ(run.ui.messages, std::vector<std::string>{kSuccess});
  EXPECT_EQ(run.ui.details,
            std::vector<std::string>{"20 Bytes hinter dem letzten Block wurden nicht übernommen; "
                                     "sie stehen weiterhin in a.old."});
  EXPECT_EQ(dir.Get("a.dat"), Expected(v10));
  EXPECT_EQ(dir.Get("a.old"), longer);
}

// When the new file cannot take the name and the backup cannot be taken
// back either, the backup still holds the original, and the next run
// finishes the job.
TEST(Run, ABackupThatCannotBeTakenBackIsFinishedByTheNextRun) {
  for (const bool noHardLinks : {false, true}) {
    SCOPED_TRACE(noHardLinks ? "FAT" : "hard links");
    test::TempDir dir;
    const auto v10 = SampleFile(10);
    dir.Put("a.dat", v10);
    test::FaultyFiles files(1);
    files.only = noHardLinks ? "replace" : "exchange";
    files.failFrom = true;
    files.noHardLinks = noHardLinks;
    files.before = [&](long, const std::string&) { files.only = ""; };  // then everything fails
    Attempt run(dir, "a.dat", files);
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(dir.Get("a.dat"), v10);
    EXPECT_EQ(dir.Get("a.old"), v10);
    Attempt again(dir, "a.dat");
    EXPECT_EQ(again.outcome, Outcome::Converted);
    EXPECT_EQ(dir.Names(), (Names{"a.dat", "a.old"}));
    EXPECT_EQ(dir.Get("a.dat"), Expected(v10));
    EXPECT_EQ(dir.Get("a.old"), v10);
  }
}

const std::string kNotSynced = std::string("error: ") + kFolderNotSyncedText + ".";

// Every call of the file layer in a whole run, failed one at a time, with
// hard links and without: the folder holds either the untouched original and
// nothing else, or the new file and the original as .old; and only the latter
// is called success, or said to be converted when the folder's flush failed.
TEST(Run, NoSingleFailingCallLosesTheOriginal) {
  const auto v10 = SampleFile(11);
  const auto v11 = Expected(v10);
  for (const bool noHardLinks : {false, true}) {
    test::TempDir probe;
    probe.Put("a.dat", v10);
    test::FaultyFiles counter;
    counter.noHardLinks = noHardLinks;
    Attempt whole(probe, "a.dat", counter);
    ASSERT_EQ(whole.outcome, Outcome::Converted);
    ASSERT_GT(counter.calls(), 10);
    std::printf("file layer calls in a whole run, each failed once: %ld\n", counter.calls());

    for (long k = 1; k <= counter.calls(); ++k) {
      SCOPED_TRACE(testing::Message() << "call " << k << ": " << counter.log()[k - 1]
                                      << (noHardLinks ? " (FAT)" : ""));
      test::TempDir dir;
      dir.Put("a.dat", v10);
      test::FaultyFiles files(k);
      files.noHardLinks = noHardLinks;
      Attempt run(dir, "a.dat", files);
      ASSERT_EQ(run.ui.messages.size(), 1u);
      const std::string& message = run.ui.messages[0];
      if (run.outcome == Outcome::Converted || message == kNotSynced) {
        EXPECT_EQ(message == kSuccess, run.outcome == Outcome::Converted);
        // The original's extra name after the swap, if it could not go, is
        // cleared by the next run.
        if (counter.log()[k - 1] == "remove") Attempt(dir, "a.dat");
        EXPECT_EQ(dir.Names(), (Names{"a.dat", "a.old"}));
        EXPECT_EQ(dir.Get("a.dat"), v11);
        EXPECT_EQ(dir.Get("a.old"), v10);
      } else {
        EXPECT_NE(message, kSuccess);
        EXPECT_EQ(dir.Names(), Names{"a.dat"});
        EXPECT_EQ(dir.Get("a.dat"), v10);
      }
    }
  }
}

// The machine going bad: from call k on, every call of the file layer fails,
// clean-up included. The original's bytes are still under its name or its
// backup name, the user is told which, and success is never claimed.
TEST(Run, FailuresFromAnyCallOnLoseNothing) {
  const auto v10 = SampleFile(12);
  const auto v11 = Expected(v10);
  test::TempDir probe;
  probe.Put("a.dat", v10);
  test::FaultyFiles counter;
  Attempt whole(probe, "a.dat", counter);
  ASSERT_EQ(whole.outcome, Outcome::Converted);

  for (long k = 1; k <= counter.calls(); ++k) {
    SCOPED_TRACE(testing::Message() << "from call " << k << ": " << counter.log()[k - 1]);
    test::TempDir dir;
    dir.Put("a.dat", v10);
    test::FaultyFiles files(k);
    files.failFrom = true;
    Attempt run(dir, "a.dat", files);
    ASSERT_EQ(run.ui.messages.size(), 1u);
    const std::string& message = run.ui.messages[0];
    for (const std::string& name : dir.Names()) {
      EXPECT_TRUE(name == "a.dat" || name == "a.old" || name.starts_with(".kvo-")) << name;
    }
    if (run.outcome == Outcome::Converted || message == kNotSynced) {
      EXPECT_EQ(dir.Get("a.dat"), v11);
      EXPECT_EQ(dir.Get("a.old"), v10);
    } else if (dir.Has("a.dat") && dir.Get("a.dat") == v10) {
      // At most a second name of the original is left, which the next run
      // finishes.
      if (dir.Has("a.old")) {
        EXPECT_EQ(dir.Get("a.old"), v10);
      }
    } else {
      EXPECT_EQ(dir.Get("a.old"), v10);
      EXPECT_NE(message.find(dir.Path("a.old")), std::string::npos) << message;
    }
  }
}

// Every state a data file can be found in, as status, verify and undo see
// it: facts, and a problem only where the user must act. Undo puts back a
// file that is exactly its backup's conversion, and a backup whose file is
// missing; it clears what interrupted runs left; every other folder stays.
TEST(Standing, StatusVerifyAndUndoOfEachState) {
  using Folder = std::map<std::string, std::vector<std::uint8_t>>;
  const auto v10 = SampleFile(7);
  const auto v11 = Expected(v10);
  auto changed = v11;
  changed[23] ^= 1;  // the first byte of block 1
  const std::vector<std::uint8_t> note = {'n', 'i', 'c', 'h', 't', 's'};
  std::vector<std::uint8_t> v20(kHeader.begin(), kHeader.end());
  v20[6] = '2';
  const std::string leftover = platform::NameOf(TemporaryPath("/x/a.dat", 0));
  struct Case {
    const char* what;
    Folder files;
    std::string named;
    Standing standing;
    std::string detail;  // a part of it
    Outcome undo;
    Folder afterUndo;  // empty: as before
  };
  const Case cases[] = {
      {"version 1.0", {{"a.dat", v10}}, "a.dat", Standing::ToConvert, "", Outcome::Examined, {}},
      {"version 1.0 cut short",
       {{"a.dat", {v10.begin(), v10.end() - 9}}},
       "a.dat",
       Standing::Damaged,
       "unvollständig",
       Outcome::Failed,
       {}},
      {"foreign backup",
       {{"a.dat", v10}, {"a.old", note}},
       "a.dat",
       Standing::ToConvert,
       "a.old gibt es schon",
       Outcome::Examined,
       {}},
      {"a killed run's temporary file",
       {{"a.dat", v10}, {leftover, v11}},
       "a.dat",
       Standing::ToConvert,
       "temporäre Datei",
       Outcome::Examined,
       {{"a.dat", v10}}},
      {"converted",
       {{"a.dat", v11}, {"a.old", v10}},
       "a.dat",
       Standing::Converted,
       "",
       Outcome::Undone,
       {{"a.dat", v10}}},
      {"changed since",
       {{"a.dat", changed}, {"a.old", v10}},
       "a.dat",
       Standing::Changed,
       "ab Byte 24, in Block 1, Satz 1",
       Outcome::Failed,
       {}},
      {"no backup", {{"a.dat", v11}}, "a.dat", Standing::NoBackup, "", Outcome::Failed, {}},
      {"backup alone",
       {{"a.old", v10}},
       "a.dat",
       Standing::BackupAlone,
       "--undo a.dat",
       Outcome::Undone,
       {{"a.dat", v10}}},
      {"a backup alone named",
       {{"a.old", v10}},
       "a.old",
       Standing::Backup,
       "",
       Outcome::Undone,
       {{"a.dat", v10}}},
      {"a backup named beside its file",
       {{"a.dat", v11}, {"a.old", v10}},
       "a.old",
       Standing::Backup,
       "die Sicherung von a.dat",
       Outcome::Examined,
       {}},
      {"a copy of the original as backup",
       {{"a.dat", v10}, {"a.old", v10}},
       "a.dat",
       Standing::ToConvert,
       "a.old hält dieselben Bytes; der nächste Lauf nimmt sie als Sicherung",
       Outcome::Examined,
       {{"a.dat", v10}}},
      {"another version",
       {{"a.dat", v20}},
       "a.dat",
       Standing::Damaged,
       "weder Version",
       Outcome::Failed,
       {}},
      {"a note", {{"a.dat", note}}, "a.dat", Standing::NotData, "", Outcome::Examined, {}},
      {"backup cut short",
       {{"a.dat", v11}, {"a.old", {v10.begin(), v10.end() - 9}}},
       "a.dat",
       Standing::Damaged,
       "a.old: Datei ist unvollständig",
       Outcome::Failed,
       {}},
      {"backup not version 1.0",
       {{"a.dat", v11}, {"a.old", v11}},
       "a.dat",
       Standing::Damaged,
       "a.old hat nicht Version 1.0",
       Outcome::Failed,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    for (const auto& [name, bytes] : c.files) dir.Put(name, bytes);
    for (const Operation op : {Operation::Status, Operation::Verify}) {
      const FileResult r = RunOne(dir.Path(c.named), op);
      EXPECT_EQ(r.outcome, Outcome::Examined);
      EXPECT_EQ(r.standing, c.standing);
      EXPECT_NE(r.detail.find(c.detail), std::string::npos) << r.detail;
      const bool problem = c.standing == Standing::Damaged ||
                           (op == Operation::Verify && c.standing == Standing::Changed);
      EXPECT_EQ(IsProblem(r), problem);
    }
    EXPECT_EQ(dir.Names().size(), c.files.size());
    const FileResult r = RunOne(dir.Path(c.named), Operation::Undo);
    EXPECT_EQ(r.outcome, c.undo) << r.message;
    EXPECT_EQ(IsProblem(r), c.undo == Outcome::Failed);
    const Folder& after = c.afterUndo.empty() ? c.files : c.afterUndo;
    Names names;
    for (const auto& [name, bytes] : after) {
      names.insert(name);
      EXPECT_EQ(dir.Get(name), bytes) << name;
    }
    EXPECT_EQ(dir.Names(), names);
  }
  // One file under both names: the original, as a run interrupted between
  // the backup's link and the rename leaves it (undo, the end of an undo
  // interrupted there, drops the second name); or a converted file, which
  // then has no backup.
  for (const auto& [bytes, standing] :
       {std::pair{v10, Standing::Interrupted}, std::pair{v11, Standing::NoBackup}}) {
    test::TempDir dir;
    dir.Put("a.dat", bytes);
    std::filesystem::create_hard_link(test::FromUtf8(dir.Path("a.dat")),
                                      test::FromUtf8(dir.Path("a.old")));
    EXPECT_EQ(RunOne(dir.Path("a.dat"), Operation::Status).standing, standing);
    RunOne(dir.Path("a.dat"), Operation::Undo);
    EXPECT_EQ(dir.Names(),
              standing == Standing::Interrupted ? Names{"a.dat"} : (Names{"a.dat", "a.old"}));
  }
}

// A file status or verify could not even open is counted with those that
// cannot be read: "0 beschädigt oder nicht lesbar" beside its line is false.
TEST(Standing, AFileThatCouldNotBeOpenedIsCountedAsUnreadable) {
#ifdef _WIN32
  constexpr int kTooManyOpen = 4;  // ERROR_TOO_MANY_OPEN_FILES
#else
  constexpr int kTooManyOpen = EMFILE;
#endif
  test::TempDir dir;
  dir.Put("a.dat", SampleFile(3));
  dir.Put("b.dat", SampleFile(4));
  for (const Operation op : {Operation::Status, Operation::Verify}) {
    test::FaultyFiles files(1);
    files.only = "open";
    files.error = kTooManyOpen;
    test::FakeUi ui;
    RunOptions options;
    options.operation = op;
    const auto results =
        RunOperation(ui, files, {{dir.Path("a.dat")}, {dir.Path("b.dat")}}, options);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(Explained(results[0]),
              "Die Datei lässt sich nicht lesen (das System lässt den Kvo-Umsetzer nicht mehr "
              "Dateien zugleich öffnen)");
    EXPECT_TRUE(IsProblem(results[0]));
    EXPECT_EQ(CountsLine(results, op, false), "1 noch umzusetzen, 1 beschädigt oder nicht lesbar");
  }
}

// Status and verify keep no file from anyone: a conversion that starts
// while they read the file goes ahead. (Windows replaces no file another
// program holds open, so there the conversion's rename must wait until the
// reading is done.)
#ifndef _WIN32
TEST(Standing, LookingNeverMakesAConversionFail) {
  const auto v10 = SampleFile(6);
  for (const Operation op : {Operation::Status, Operation::Verify}) {
    test::TempDir dir;
    dir.Put("a.dat", v10);
    std::vector<FileResult> during;
    test::FaultyFiles files;
    files.before = [&](long, const std::string& what) {
      if (what != "read" || !during.empty()) return;
      test::FakeUi ui;
      during = RunOperation(ui, platform::SystemFiles(), {{dir.Path("a.dat")}});
    };
    test::FakeUi ui;
    RunOptions options;
    options.operation = op;
    RunOperation(ui, files, {{dir.Path("a.dat")}}, options);
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during.front().outcome, Outcome::Converted) << Explained(during.front());
  }
}
#endif

// A conversion started at any call of an undo of the same file finds the
// file held until the undo is through, backup removal and flush included:
// it never takes the backup the undo is removing for an interrupted run's,
// and the original is never lost.
TEST(Run, AConversionDuringAnUndoOfTheSameFileWaitsItsTurn) {
  const auto v10 = SampleFile(12);
  const auto v11 = Expected(v10);
  for (const bool copies : {false, true}) {
    for (long at = 1;; ++at) {
      SCOPED_TRACE(testing::Message() << (copies ? "no second names, " : "") << "call " << at);
      test::TempDir dir;
      dir.Put("a.dat", v11);
      dir.Put("a.old", v10);
      test::FaultyFiles files, beside;
      files.noHardLinks = beside.noHardLinks = copies;
      std::vector<FileResult> during;
      files.before = [&](long n, const std::string&) {
        if (n != at) return;
        test::FakeUi ui;
        during = RunOperation(ui, beside, {{dir.Path("a.dat")}});
      };
      test::FakeUi ui;
      RunOptions options;
      options.operation = Operation::Undo;
      const auto undo = RunOperation(ui, files, {{dir.Path("a.dat")}}, options);
      if (during.empty()) break;  // past the undo's last call
      ASSERT_EQ(undo.front().outcome, Outcome::Undone) << Explained(undo.front());
      if (during.front().outcome == Outcome::Converted) {
#ifndef _WIN32
        ADD_FAILURE() << "converted while the undo held the file";
#endif
        // Windows lets go of the file at its rename, the undo's last: a
        // conversion after it makes a backup of its own.
        EXPECT_EQ(dir.Names(), (Names{"a.dat", "a.old"}));
        EXPECT_TRUE(dir.Get("a.old") == v10) << "a.old does not hold the original";
        continue;
      }
      EXPECT_EQ(dir.Names(), (Names{"a.dat"}));
      EXPECT_TRUE(dir.Get("a.dat") == v10) << "a.dat does not hold the original";
    }
  }
}

// A file with a second name (a hard link) in the folder: each name's line
// says what that name holds afterwards, and undo works whichever name the
// walk meets first, never blaming its own lock.
TEST(Standing, EachNameOfAFileSaysWhatItHolds) {
  const auto v10 = SampleFile(9);
  const auto v11 = Expected(v10);
  const auto folder = [](const test::TempDir& dir, Operation operation) {
    test::FakeUi ui;
    RunOptions options;
    options.operation = operation;
    std::map<std::string, FileResult> byName;
    for (FileResult& r :
         RunOperation(ui, platform::SystemFiles(),
                      FilesToConvert(platform::SystemFiles(), {dir.Path("")}), options)) {
      byName[platform::NameOf(r.path)] = std::move(r);
    }
    return byName;
  };
  const auto link = [](const test::TempDir& dir, const char* from, const char* to) {
    std::filesystem::create_hard_link(test::FromUtf8(dir.Path(from)), test::FromUtf8(dir.Path(to)));
  };
  // A converted file, a second name met before it and one met after.
  for (const char* second : {"0.dat", "z.dat"}) {
    SCOPED_TRACE(second);
    test::TempDir dir;
    dir.Put("x.dat", v11);
    dir.Put("x.old", v10);
    link(dir, "x.dat", second);
    auto undone = folder(dir, Operation::Undo);
    EXPECT_EQ(undone["x.dat"].outcome, Outcome::Undone) << undone["x.dat"].detail;
    EXPECT_EQ(undone[second].outcome, Outcome::SameFile);
    EXPECT_EQ(undone[second].detail, "dieser Name hat weiterhin Version 1.1");
    EXPECT_FALSE(IsProblem(undone[second]));
    EXPECT_EQ(dir.Get("x.dat"), v10);
    EXPECT_EQ(dir.Get(second), v11);
    EXPECT_EQ(dir.Names(), (Names{second, "x.dat"}));
  }
  // Two names of one original, converted, then undone.
  test::TempDir dir;
  dir.Put("a.dat", v10);
  link(dir, "a.dat", "b.dat");
  auto converted = folder(dir, Operation::Convert);
  EXPECT_EQ(converted["a.dat"].outcome, Outcome::Converted);
  EXPECT_EQ(converted["b.dat"].message, "Dieselbe Datei wie " + dir.Path("a.dat"));
  EXPECT_EQ(converted["b.dat"].detail, "dieser Name hat weiterhin Version 1.0");
  EXPECT_EQ(dir.Get("b.dat"), v10);
  auto undone = folder(dir, Operation::Undo);
  EXPECT_EQ(undone["a.dat"].outcome, Outcome::Undone);
  EXPECT_EQ(undone["b.dat"].outcome, Outcome::SameFile) << undone["b.dat"].detail;
  EXPECT_EQ(undone["b.dat"].detail, "dieser Name hat weiterhin Version 1.0");
  EXPECT_EQ(dir.Names(), (Names{"a.dat", "b.dat"}));
  EXPECT_EQ(dir.Get("a.dat"), v10);
  EXPECT_EQ(dir.Get("b.dat"), v10);
}

// Verify names the first byte that differs, and the block and record it lies
// in, reckoned here from the file layout on its own.
TEST(Standing, VerifySaysWhereTheFileFirstDiffers) {
  const auto v10 = SampleFile(8, 2);
  const auto v11 = Expected(v10);
  std::size_t fixed1to5 = 23;
  for (int b = 1; b <= 5; ++b) fixed1to5 += test::BlockOf(b).records * test::BlockOf(b).record11;
  struct Case {
    std::size_t offset;  // the byte changed; SIZE_MAX: one cut off, SIZE_MAX - 1: one added
    std::string says;
  };
  const Case cases[] = {
      {23 + 134 * 2, "ab Byte 292, in Block 1, Satz 3"},
      {fixed1to5 + 1, "in Block 6, Anzahl der Sätze"},
      {fixed1to5 + 4 + 140, "in Block 6, Satz 2"},
      {v11.size() - 1, "in Block 19, Satz 1"},
      {SIZE_MAX, "die Datei endet vor Byte " + std::to_string(v11.size())},
      {SIZE_MAX - 1, "die Datei ist länger als die Umsetzung von a.old, ab Byte " +
                         std::to_string(v11.size() + 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    test::TempDir dir;
    auto file = v11;
    if (c.offset == SIZE_MAX) {
      file.pop_back();
    } else if (c.offset == SIZE_MAX - 1) {
      file.push_back(0);
    } else {
      file[c.offset] ^= 0x80;
    }
    dir.Put("a.dat", file);
    dir.Put("a.old", v10);
    const FileResult r = RunOne(dir.Path("a.dat"), Operation::Verify);
    EXPECT_EQ(r.message, kNotVerifiedText);
    EXPECT_NE(r.detail.find(c.says), std::string::npos) << r.detail;
  }
}

// One tally for undo in the command line's line and the windows' box: a
// file whose flush failed is undone and among those that may not be on the
// disk, never also not undone; a second name is counted as the conversion
// counts it.
TEST(Messages, UndoIsCountedAsTheCommandLineCountsIt) {
  std::vector<FileResult> results(4);
  for (FileResult& r : results) r.operation = Operation::Undo;
  results[0].outcome = Outcome::Undone;
  results[1].outcome = Outcome::Unconfirmed;
  results[1].message = kUndoNotSyncedText;
  results[2].outcome = Outcome::SameFile;
  results[3].outcome = Outcome::Failed;
  results[3].message = ErrorBoxText(kNotUndoneText);
  EXPECT_EQ(CountsLine(results, Operation::Undo, false),
            "2 rückgängig gemacht, 1 davon vielleicht nicht sicher auf der Platte, 1 doppelt "
            "genannt, 1 nicht rückgängig gemacht");
  EXPECT_EQ(SummaryText(results),
            "2 Dateien rückgängig gemacht, sie haben wieder Version 1.0.\n"
            "1 Datei war nur ein weiterer Name einer dieser Dateien.\n"
            "1 Datei davon ist vielleicht nicht sicher auf der Platte:\n"
            "1 Datei nicht rückgängig gemacht:");
}

TEST(Messages, ShapeWhatTheUserReads) {
  EXPECT_EQ(ErrorBoxText("Kann Backup Datei nicht erzeugen"), "Kann Backup Datei nicht erzeugen.");
  EXPECT_EQ(ErrorBoxText("Schon da."), "Schon da.");
  EXPECT_EQ(ErrorBoxText("Klammer)"), "Klammer)");   // 0x29, below the full stop
  EXPECT_EQ(ErrorBoxText("Bereich/"), "Bereich/.");  // 0x2F, above it
  EXPECT_EQ(ErrorBoxText("Bereichsprüfung"), "Bereichsprüfung.");

  EXPECT_EQ(BackupPath("/a/Nord.dat"), "/a/Nord.old");
  EXPECT_EQ(BackupPath("/a.b/Nord"), "/a.b/Nord.old");
  EXPECT_EQ(BackupPath("Nord.Bahnhof.dat"), "Nord.Bahnhof.old");
  EXPECT_EQ(BackupPath("/a/.dat"), "/a/.old");

  EXPECT_EQ(ApplicationTitle("kvo-umsetzer"), "kvo-umsetzer");
  EXPECT_EQ(ApplicationTitle("KvoUms.exe"), "Kvoums");
  EXPECT_EQ(ApplicationTitle("KVO.Tool.exe"), "Kvo");
  EXPECT_EQ(ApplicationTitle("KVO-ÜBERSETZER.EXE"), "Kvo-übersetzer");
  EXPECT_EQ(ApplicationTitle("ÄŁÓDŹ-ŸÞ"), "Äłódź-ÿþ");  // the first letter stays as it is
  EXPECT_EQ(ApplicationTitle("Ab\xC4x"), "Ab\xC4x");    // not UTF-8: left alone
}

}  // namespace
}  // namespace kvo
