// Many files at once: folders walked, one flush for all, one summary, and
// cancelling between files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sstream>

#include "Container.h"
#include "Messages.h"
#include "Paths.h"
#include "Run.h"
#include "support/DatFile.h"
#include "support/FakeUi.h"
#include "support/FaultyFiles.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Converted(const std::vector<std::uint8_t>& v10) {
  return ConvertImage(v10, *std::make_unique<TableSets>());
}

TEST(Batch, FoldersGiveEveryDatFileBeneathInAStableOrder) {
  test::TempDir dir;
  for (const char* folder : {"sub", "sub/deep", "leer"}) {
    fs::create_directory(test::FromUtf8(dir.Path(folder)));
  }
  for (const char* name :
       {"b.dat", "A.DAT", "sub/c.dat", "sub/deep/d.Dat", "a.old", "notiz.txt", "dat"}) {
    dir.Put(name, {});
  }
  std::error_code noLinks;  // a link to a folder is not walked into
  fs::create_directory_symlink(test::FromUtf8(dir.Path("sub")), test::FromUtf8(dir.Path("l")),
                               noLinks);

  const auto list = FilesToConvert(platform::SystemFiles(),
                                   {dir.Path(""), dir.Path("sub/c.dat"), dir.Path("fehlt.dat")});
  std::vector<std::pair<std::string, bool>> found;
  for (const FileToConvert& f : list) found.emplace_back(f.path, f.inFolder);
  // Found ones with the system's separators; named ones as they were named.
  auto walked = [&](std::initializer_list<const char*> parts) {
    std::string path = dir.Path("");
    for (const char* part : parts) path = platform::JoinPath(path, part);
    return std::pair{path, true};
  };
  const std::vector<std::pair<std::string, bool>> expected = {
      walked({"A.DAT"}),
      walked({"b.dat"}),
      walked({"sub", "c.dat"}),
      walked({"sub", "deep", "d.Dat"}),
      {dir.Path("sub/c.dat"), false},
      {dir.Path("fehlt.dat"), false},
  };
  EXPECT_EQ(found, expected);
}

// The dialog opens in the program's folder where the program is a copy among
// the user's files, else in the user's documents.
TEST(Batch, TheDialogStartsWhereTheUserKeepsFiles) {
  test::TempDir dir;
  const std::string program = dir.Path("Spiel");
  std::filesystem::create_directory(test::FromUtf8(program));
  struct Case {
    std::vector<std::string> systemFolders;
    std::string expected;
  };
  const Case cases[] = {
      {{}, program},                          // a portable copy
      {{"/usr", dir.Path("")}, "Dokumente"},  // installed
      {{dir.Path("SPIEL")}, "Dokumente"},     // as Windows compares names
      {{dir.Path("Spi")}, program},           // a name that only starts alike
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DialogStartFolder(platform::SystemFiles(), program, c.systemFolders, "Dokumente"),
              c.expected);
  }
}

// Several files: one summary box, the files converted, those at version 1.1
// counted apart, the rest listed with their messages; and the new files
// flushed together, as is each folder: once for the backups and once for the
// new files, or that per group where the process may hold only a few files
// open.
TEST(Batch, SeveralFilesEndInOneSummary) {
  struct Case {
    std::size_t openFilesAllowed;
    long flushes;
  };
  for (const Case& c : {Case{0, 1}, Case{18, 2}}) {
    SCOPED_TRACE(c.openFilesAllowed);
    test::TempDir dir;
    const auto good1 = test::SmallFile(1), good2 = test::SmallFile(2);
    dir.Put("gut1.dat", good1);
    dir.Put("gut2.dat", good2);
    dir.Put("neu.dat", Converted(test::SmallFile(3)));
    dir.Put("kurz.dat", {good1.begin(), good1.end() - 5});
    dir.Put("belegt.dat", test::SmallFile(4));
    dir.Put("belegt.old", {'x'});

    test::FaultyFiles files;
    files.openFilesAllowed = c.openFilesAllowed;
    test::FakeUi ui;
    const auto results = RunConversion(ui, files, {dir.Path("")});
    EXPECT_EQ(
        ui.messages,
        std::vector<std::string>{
            "summary: 2 Dateien umgesetzt, die alten haben nun die Endung .old.\n"
            "1 Datei war schon auf Version 1.1.\n"
            "2 Dateien nicht umgesetzt:\n"
            "Meldungen zu einzelnen Dateien im Ordner " +
            platform::FolderOf(dir.Path("x")) +
            ":\n• belegt.dat: Kann Backup Datei nicht erzeugen (belegt.old gibt es schon. Die "
            "Datei ist unverändert)\n"
            "• kurz.dat: Datei ist unvollständig (Die Datei ist unverändert)\n"});
    EXPECT_EQ(ui.waiting, 0);
    EXPECT_FALSE(ui.waitingDuringMessage);
    EXPECT_EQ(results.size(), 5u);
    EXPECT_EQ(dir.Get("gut1.dat"), Converted(good1));
    EXPECT_EQ(dir.Get("gut2.old"), good2);
    const auto& log = files.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "fsync"), c.flushes);
    // Each folder twice: once the backups exist, once the new files are in place.
    EXPECT_EQ(std::count(log.begin(), log.end(), "fsyncdir"), 2 * c.flushes);
  }
}

// The summary's "Rückgängig machen" puts back exactly the files of that
// run: not one converted earlier, and not one whose backup was there before.
TEST(Batch, TheSummaryUndoesExactlyThatRun) {
  test::TempDir dir;
  const auto a = test::SmallFile(1), b = test::SmallFile(2), earlier = test::SmallFile(3);
  dir.Put("a.dat", a);
  dir.Put("b.dat", b);
  dir.Put("früher.dat", Converted(earlier));
  dir.Put("früher.old", earlier);
  test::FakeUi ui;
  ui.chooseUndo = true;
  RunConversion(ui, platform::SystemFiles(), {dir.Path("")});
  EXPECT_EQ(ui.undoOffered, (std::vector<bool>{true, false}));
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1],
            "summary: 2 Dateien rückgängig gemacht, sie haben wieder Version 1.0.\n");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.dat", "b.dat", "früher.dat", "früher.old"}));
  EXPECT_EQ(dir.Get("a.dat"), a);
  EXPECT_EQ(dir.Get("b.dat"), b);
  EXPECT_EQ(dir.Get("früher.dat"), Converted(earlier));
  EXPECT_EQ(ui.waiting, 0);
}

// What ends a run of names in a box of its own, and what in a summary.
TEST(Batch, OneNamedFileGetsItsOwnBox) {
  struct Case {
    const char* what;
    std::vector<std::string> files;  // put into a folder "d"
    std::string named;               // relative to the test's folder
    std::string message;             // the start of the one message
  };
  const Case cases[] = {
      {"one file", {"a.dat"}, "d/a.dat", std::string("info: ") + kSuccessText},
      {"a folder of one file", {"a.dat"}, "d", "summary: 1 Datei umgesetzt"},
      {"an empty folder", {}, "d", std::string("info: ") + kNothingFoundText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    fs::create_directory(test::FromUtf8(dir.Path("d")));
    for (const std::string& name : c.files) dir.Put("d/" + name, test::SmallFile(5));
    test::FakeUi ui;
    RunConversion(ui, platform::SystemFiles(), {dir.Path(c.named)});
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].starts_with(c.message)) << ui.messages[0];
  }
}

// Cancelling stops before the next file: the files begun are finished, the
// rest is untouched.
TEST(Batch, CancelStopsBeforeTheNextFileNeverInsideOne) {
  test::TempDir dir;
  const std::vector<std::string> names = {"a.dat", "b.dat", "c.dat", "d.dat"};
  for (const std::string& name : names) dir.Put(name, test::SmallFile(6));
  test::FakeUi ui;
  ui.cancelAfter = 2;
  RunConversion(ui, platform::SystemFiles(), {dir.Path("")});
  EXPECT_EQ(ui.progress, (std::vector<std::size_t>{0, 1, 2}));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0],
            "summary: 2 Dateien umgesetzt, die alten haben nun die Endung .old.\n"
            "2 Dateien nicht begonnen, weil abgebrochen wurde.\n");
  EXPECT_EQ(dir.Names(),
            (std::set<std::string>{"a.dat", "a.old", "b.dat", "b.old", "c.dat", "d.dat"}));
  EXPECT_EQ(dir.Get("c.dat"), test::SmallFile(6));
}

// The window's options are answered, never taken for files; "--" ends them,
// and what follows is files, whatever it looks like.
TEST(Batch, TheWindowAnswersItsOptionsAndTakesTheRestForFiles) {
  using Start = WindowStart;
  struct Case {
    std::vector<std::string> args;
    Start::Action action;
    std::vector<std::string> named;
  };
  const Case cases[] = {
      {{"a.dat", "Ordner"}, Start::Open, {"a.dat", "Ordner"}},
      {{"--help"}, Start::Help, {}},
      {{"a.dat", "-h"}, Start::Help, {}},
      {{"-?"}, Start::Help, {}},
      // "/?" is a file's name where a name may hold a "?".
      {{"/?"},
       kSlashAsksForHelp ? Start::Help : Start::Open,
       kSlashAsksForHelp ? std::vector<std::string>{} : std::vector<std::string>{"/?"}},
      {{"--version"}, Start::Version, {}},
      {{"--schnell", "a.dat"}, Start::Wrong, {}},
      {{"--", "--help", "-x.dat"}, Start::Open, {"--help", "-x.dat"}},
  };
  for (const Case& c : cases) {
    const Start start = ReadWindowArguments(c.args);
    EXPECT_EQ(start.action, c.action) << c.args.front();
    EXPECT_EQ(start.named, c.named) << c.args.front();
  }
  EXPECT_EQ(ReadWindowArguments({"--help"}).text, kWindowUsageText);
  EXPECT_EQ(ReadWindowArguments({"--schnell"}).text, "unbekannte Option --schnell");
  EXPECT_EQ(ReadWindowArguments({"-\x1b[2J"}).text, "unbekannte Option -\\x1b[2J");
  // For a terminal, the help's paragraphs broken between words, none lost.
  const std::string wrapped = TerminalText(kWindowUsageText);
  std::istringstream lines(wrapped);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(std::ranges::count_if(line, [](char c) { return (c & 0xC0) != 0x80; }), 79) << line;
  }
  const auto words = [](std::string s) {
    std::ranges::replace(s, '\n', ' ');
    std::istringstream in(s);
    return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
  };
  EXPECT_EQ(words(wrapped), words(kWindowUsageText));
  EXPECT_GT(std::ranges::count(wrapped, '\n'),
            std::ranges::count(std::string(kWindowUsageText), '\n'));
}

// Cancelled inside a large file: that file rolls back, and the summary
// counts it as not converted, never as converted.
TEST(Batch, ACancelInsideALargeFileIsNotCountedAsConverted) {
  struct CancelInside : test::FakeUi {
    void FileProgress(std::uint64_t, std::uint64_t) override { asked = true; }
    bool CancelRequested() override { return asked; }
    bool asked = false;
  };
  test::TempDir dir;
  const auto small = test::SmallFile(6);
  const auto large = test::SizedFile(7, 10'000'000).Bytes();
  dir.Put("a.dat", small);
  dir.Put("b.dat", large);
  CancelInside ui;
  const auto results = RunConversion(ui, platform::SystemFiles(), {dir.Path("")});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].outcome, Outcome::Interrupted);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0],
            "summary: 1 Datei umgesetzt, die alte hat nun die Endung .old.\n"
            "1 Datei nicht umgesetzt:\nMeldungen zu einzelnen Dateien im Ordner " +
                platform::FolderOf(dir.Path("b.dat")) +
                ":\n• b.dat: Abgebrochen, die Datei ist unverändert.\n");
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.dat", "a.old", "b.dat"}));
  EXPECT_EQ(dir.Get("b.dat"), large);
}

}  // namespace
}  // namespace kvo
