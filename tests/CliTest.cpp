// kvo-umsetzer-cli as a script would use it: lines, exit statuses, and what
// it leaves on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "Utf8.h"
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "Commit.h"
#include "Container.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"
#include "support/Command.h"
#include "support/DatFile.h"
#include "support/HeldFile.h"
#include "support/TempDir.h"

namespace kvo {
namespace {

using Result = test::CommandResult;

// Absolute, with the system's separators: the command runs in another folder.
const std::string& CliPath() {
  static const std::string path =
      test::ToUtf8(std::filesystem::absolute(test::FromUtf8(KVO_CLI)).make_preferred());
  return path;
}

Result Cli(const test::TempDir& dir, const std::string& args) {
  return test::RunCommand(dir.Path(""), test::Quote(CliPath()) + " " + args);
}

std::map<std::string, std::vector<std::uint8_t>> Snapshot(const test::TempDir& dir) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const std::string& name : dir.Names()) files[name] = dir.Get(name);
  return files;
}

std::vector<std::uint8_t> Good(std::uint64_t seed) {
  test::DatFile f = test::DatFile::Empty(test::Version::V10);
  f.SetCount(7, 3);
  f.SetCount(12, 2);
  test::Random random(seed);
  test::Randomise(f, random);
  return f.Bytes();
}

TEST(Cli, ExitsZeroOnlyWhenEveryFileConverted) {
  test::TempDir dir;
  dir.Put("a.dat", Good(5));
  dir.Put("b.dat", Good(6));
  const Result one = Cli(dir, "a.dat");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out,
            "a.dat: Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old\n");
  EXPECT_EQ(one.err, "");
  // a.dat is a version 1.1 file now.
  const Result again = Cli(dir, "b.dat a.dat");
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "a.dat: Falsche Dateiversion (die Datei hat schon Version 1.1)\n");
  // A file named twice is converted once; the second name is no failure.
  dir.Put("c.dat", Good(8));
  const Result twice = Cli(dir, "c.dat c.dat");
  EXPECT_EQ(twice.status, 0);
  EXPECT_EQ(twice.out,
            "c.dat: Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old\n"
            "c.dat: Dieselbe Datei wie c.dat\n"
            "Zusammenfassung: 1 umgesetzt, 1 doppelt genannt, 0 nicht umgesetzt\n");
}

// A run cut short may have worked through a name that the next run meets
// as a second name of a file it met first: what it left beside that name
// goes too, once the run no longer holds the file; status leaves it.
TEST(Cli, AnUndoClearsWhatACutRunLeftBesideASecondName) {
  test::TempDir dir;
  dir.Put("b.dat", Good(5));
  std::filesystem::create_hard_link(test::FromUtf8(dir.Path("b.dat")),
                                    test::FromUtf8(dir.Path("a.dat")));
  const std::string left = platform::NameOf(TemporaryPath(dir.Path("b.dat"), 0));
  dir.Put(left, {1});
  const std::set<std::string> before{"a.dat", "b.dat", left};
  EXPECT_EQ(Cli(dir, "--status a.dat b.dat").status, 0);
  EXPECT_EQ(dir.Names(), before);
  const Result undo = Cli(dir, "--undo a.dat b.dat");
  EXPECT_EQ(undo.out,
            "a.dat: Schon auf Version 1.0, nichts rückgängig zu machen\n"
            "b.dat: Dieselbe Datei wie a.dat (dieser Name hat weiterhin Version 1.0)\n"
            "Zusammenfassung: 0 rückgängig gemacht, 1 schon auf Version 1.0, 1 doppelt genannt, 0 "
            "nicht rückgängig gemacht\n");
  EXPECT_EQ(undo.status, 0);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"a.dat", "b.dat"}));
}

// Two names of one file, each converted in a run of its own, share one
// backup: undo gives it back to the first, says why the second waits, and a
// second undo gives it to that one too.
TEST(Cli, AnUndoOfTwoFilesSharingABackupSaysWhyTheSecondWaits) {
  test::TempDir dir;
  const auto v10 = Good(6);
  dir.Put("zz.dat", v10);
  std::filesystem::create_hard_link(test::FromUtf8(dir.Path("zz.dat")),
                                    test::FromUtf8(dir.Path("zweit.dat")));
  ASSERT_EQ(Cli(dir, "zweit.dat").status, 0);
  ASSERT_EQ(Cli(dir, "zz.dat").status, 0);
  const Result first = Cli(dir, "--undo zweit.dat zz.dat");
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(first.err,
            "zz.dat: Nicht rückgängig gemacht (zz.old ist auch die Sicherung von zweit.dat, der "
            "dieser Lauf sie zurückgibt; ein weiterer Lauf mit --undo stellt zz.dat wieder her)\n");
  EXPECT_EQ(Cli(dir, "--undo zz.dat").status, 0);
  EXPECT_EQ(Snapshot(dir), (std::map<std::string, std::vector<std::uint8_t>>{{"zweit.dat", v10},
                                                                             {"zz.dat", v10}}));
}

// A run of the tool in a process of its own, started now, its lines in files.
class Started {
 public:
  Started(const test::TempDir& dir, const std::vector<std::string>& args,
          const test::TempDir& streams, const std::string& name)
      : out_(streams.Path(name + ".out")), err_(streams.Path(name + ".err")) {
#ifdef _WIN32
    std::wstring line = platform::Wide(test::Quote(CliPath()));
    for (const std::string& arg : args) line += L" " + platform::Wide(test::Quote(arg));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const auto open = [&](const std::string& path) {
      return ::CreateFileW(platform::Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = open(out_);
    start.hStdError = open(err_);
    PROCESS_INFORMATION made{};
    started_ = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                platform::Wide(dir.Path("")).c_str(), &start, &made);
    ::CloseHandle(start.hStdOutput);
    ::CloseHandle(start.hStdError);
    if (started_) {
      ::CloseHandle(made.hThread);
      process_ = made.hProcess;
    }
#else
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::chdir(dir.Path("").c_str()) != 0 || !std::freopen(out_.c_str(), "w", stdout) ||
          !std::freopen(err_.c_str(), "w", stderr)) {
        ::_exit(120);
      }
      std::vector<char*> argv{const_cast<char*>(CliPath().c_str())};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(121);
    }
    started_ = pid_ > 0;
#endif
  }

  bool Running() const {
#ifdef _WIN32
    return started_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
#else
    siginfo_t info{};
    return started_ &&
           ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
#endif
  }

  Result Wait() {
    Result r{-1, "", ""};
#ifdef _WIN32
    DWORD code = 0;
    if (started_ && ::WaitForSingleObject(process_, INFINITE) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process_, &code)) {
      r.status = static_cast<int>(code);
    }
    if (started_) ::CloseHandle(process_);
#else
    int raw = 0;
    if (started_ && ::waitpid(pid_, &raw, 0) == pid_ && WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
#endif
    started_ = false;
    const auto slurp = [](const std::string& path) {
      std::ifstream in(test::FromUtf8(path), std::ios::binary);
      std::string text(std::istreambuf_iterator<char>(in), {});
      std::erase(text, '\r');
      return text;
    };
    r.out = slurp(out_);
    r.err = slurp(err_);
    return r;
  }

 private:
  std::string out_, err_;
  bool started_ = false;
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
};

// Two runs of the tool on one file at once, as a file dropped twice, a
// double click on "Senden an" or an undo from a second window start them:
// together, and the second once the first is writing its new file or has
// made the backup (the moment before its rename, where Windows and every
// USB stick make it let go of the file). Every time the original is under
// its name or its backup name, each run says one true line, and nothing is
// left behind.
TEST(Cli, TwoRunsOfOneFileStartedTogetherLoseNothing) {
  // Large enough that a run is still at work when the other has started.
  const auto v10 = test::SizedFile(9, std::uint64_t{2} << 20).Bytes();
  const auto v11 = ConvertImage(v10, *std::make_unique<TableSets>());
  const std::string temporary = platform::NameOf(TemporaryPath("x/x.dat", 0));
  std::map<std::string, int> seen;  // what the two said, for the record
  for (const char* second : {"", "--undo", "--status"}) {
    for (int round = 0; round < 24; ++round) {
      test::TempDir dir, streams;
      dir.Put("x.dat", v10);
      // The second starts at once (mostly: starting a process takes longer
      // than the steps between), once the new file is there, or once the
      // backup is.
      const std::string waitFor = round % 4 == 1 ? temporary : round % 4 == 3 ? "x.old" : "";
      Started first(dir, {"x.dat"}, streams, "first");
      while (!waitFor.empty() && !dir.Has(waitFor) && first.Running()) std::this_thread::yield();
      std::vector<std::string> args{"x.dat"};
      if (*second) args.insert(args.begin(), second);
      Started other(dir, args, streams, "second");
      const Result a = first.Wait(), b = other.Wait();
      SCOPED_TRACE(std::string("second run: ") + second + ", round " + std::to_string(round) +
                   "\nfirst: " + a.out + a.err + "second: " + b.out + b.err);
      // Each run one line, and its exit status as its line says.
      for (const Result* r : {&a, &b}) {
        EXPECT_EQ(std::ranges::count(r->out + r->err, '\n'), 1);
        EXPECT_EQ(r->status, r->err.empty() ? 0 : 1);
      }
      const auto files = Snapshot(dir);
      const bool converted = files.contains("x.old");
      // The original under its name or its backup's; nothing else left.
      EXPECT_EQ(files, converted
                           ? (std::map<std::string, std::vector<std::uint8_t>>{{"x.dat", v11},
                                                                               {"x.old", v10}})
                           : (std::map<std::string, std::vector<std::uint8_t>>{{"x.dat", v10}}));
      // A success is true of the disk at the end, unless the other run was
      // an undo that came after it.
      const bool done = a.out.find(kSuccessText) != std::string::npos;
      const bool undone = b.out.find(kUndoneText) != std::string::npos;
      if (done && !undone) {
        EXPECT_TRUE(converted);
      }
      if (undone) {
        EXPECT_FALSE(converted);
      }
      std::string said = a.out + a.err + " | " + b.out + b.err;
      std::erase(said, '\n');
      ++seen[said];
    }
  }
  for (const auto& [said, times] : seen) std::printf("%3d  %s\n", times, said.c_str());
}

TEST(Cli, AFileHeldOpenByAnotherProcessIsNotTouched) {
  test::TempDir dir;
  const auto v10 = Good(7);
  dir.Put("a.dat", v10);
  Result r, status;
  {
    const test::HeldFile held(dir.Path("a.dat"));
    ASSERT_TRUE(held.held());
    r = Cli(dir, "a.dat");
    status = Cli(dir, "--status a.dat");
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "a.dat: Die Datei wird gerade von einem anderen Programm benutzt\n");
  // Busy is a fact, not damage.
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.out, "a.dat: Wird gerade bearbeitet (von einem anderen Programm gesperrt)\n");
  EXPECT_EQ(Snapshot(dir), (std::map<std::string, std::vector<std::uint8_t>>{{"a.dat", v10}}));
  EXPECT_EQ(Cli(dir, "a.dat").status, 0);  // free again
}

// The window says "Falsche Dateiversion" for every file it cannot open; the
// command line adds why.
TEST(Cli, SaysWhyAFileCouldNotBeOpened) {
  test::TempDir dir;
  dir.Put("neu.dat", ConvertImage(Good(9), *std::make_unique<TableSets>()));
  const Result r = Cli(dir, "fehlt.dat neu.dat");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "fehlt.dat: Falsche Dateiversion (Datei nicht gefunden)\n"
            "neu.dat: Falsche Dateiversion (die Datei hat schon Version 1.1)\n");
}

// --check applies every test a run makes before it changes anything, so it
// says no exactly where the run would fail.
TEST(Cli, CheckSaysWhatTheRunWillDo) {
  const std::string backupFailed = ": Kann Backup Datei nicht erzeugen (";
  struct Case {
    const char* what;
    std::string name;
    std::function<void(const test::TempDir&)> make;
    std::string err;  // after the name; "" when it converts
  };
  const Case cases[] = {
      {"backup taken", "a.dat", [](const test::TempDir& d) { d.Put("a.old", {'x'}); },
       backupFailed},
      // No extension: the backup name is four bytes longer than a name can be.
      {"backup name too long", std::string(252, 'n'), [](const test::TempDir&) {}, backupFailed},
      // A backup picked by mistake is not converted over itself.
      {"a backup", "a.old", [](const test::TempDir&) {}, backupFailed},
      {"a backup with no name before .old", ".old", [](const test::TempDir&) {}, backupFailed},
      {"a hundred leftovers of interrupted runs", "a.dat",
       [](const test::TempDir& d) {
         for (int i = 0; i < 100; ++i)
           d.Put(platform::NameOf(TemporaryPath(d.Path("a.dat"), i)), {});
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    dir.Put(c.name, Good(10));
    c.make(dir);
    const Result check = Cli(dir, "--check " + c.name);
    const Result run = Cli(dir, c.name);
    // The same line from both; the reason behind it is the system's own.
    const std::string err = c.err.empty() ? "" : c.name + c.err;
    for (const Result* r : {&check, &run}) {
      EXPECT_TRUE(r->err.starts_with(err) && err.empty() == r->err.empty()) << r->err;
    }
    EXPECT_EQ(check.status, err.empty() ? 0 : 1);
    EXPECT_EQ(run.status, check.status);
  }
}

// A named folder: every *.dat beneath it, in a stable order. A file there
// that is at version 1.1 already is no failure, so a second pass over the
// folder is harmless; --check says the same without changing anything.
TEST(Cli, ConvertsWholeFolders) {
  test::TempDir dir;
  std::filesystem::create_directories(test::FromUtf8(dir.Path("Daten/sub")));
  dir.Put("Daten/a.dat", Good(11));
  dir.Put("Daten/sub/b.dat", Good(12));
  dir.Put("Daten/neu.dat", ConvertImage(Good(13), *std::make_unique<TableSets>()));
  const std::string a = platform::JoinPath("Daten", "a.dat");
  const std::string b = platform::JoinPath(platform::JoinPath("Daten", "sub"), "b.dat");
  const std::string neu = platform::JoinPath("Daten", "neu.dat");
  const std::string already = ": Schon auf Version 1.1, nichts zu tun\n";
  struct Step {
    const char* args;
    std::string out;
  };
  const Step steps[] = {
      {"--check Daten",
       a + ": Datei kann umgesetzt werden, die alte Datei bekäme die Endung .old\n" + neu +
           already + b +
           ": Datei kann umgesetzt werden, die alte Datei bekäme die Endung .old\n"
           "Zusammenfassung: 2 umsetzbar, 1 schon auf Version 1.1, 0 nicht "
           "umsetzbar\n"},
      {"Daten", a + ": Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old\n" +
                    neu + already + b +
                    ": Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old\n"
                    "Zusammenfassung: 2 umgesetzt, 1 schon auf Version 1.1, 0 nicht umgesetzt\n"},
      {"Daten", a + already + neu + already + b + already +
                    "Zusammenfassung: 0 umgesetzt, 3 schon auf Version 1.1, 0 nicht umgesetzt\n"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args);
    const Result r = Cli(dir, step.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, step.out);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(dir.Get("Daten/sub/b.old"), Good(12));
}

TEST(Cli, UsageErrorsAndHelp) {
  test::TempDir dir;
  struct Case {
    std::string args;
    int status;
    std::string outStart, errStart;
  };
  const Case cases[] = {
      {"", 2, "", "kvo-umsetzer-cli: keine Datei angegeben\n"},
      {"--check", 2, "", "kvo-umsetzer-cli: keine Datei angegeben\n"},
      {"--schnell a.dat", 2, "", "kvo-umsetzer-cli: unbekannte Option --schnell\n"},
#ifndef _WIN32
      // No byte of what was typed reaches the terminal raw: it would change
      // the window's title and clear the screen.
      {"'-\x1b]0;x\x07\x1b[2J'", 2, "",
       "kvo-umsetzer-cli: unbekannte Option -\\x1b]0;x\\x07\\x1b[2J\n"},
#endif
      {"--status --undo a.dat", 2, "",
       "kvo-umsetzer-cli: nur eine von --status, --verify, --undo\n"},
      {"--check --verify a.dat", 2, "", "kvo-umsetzer-cli: --check gilt nur für das Umsetzen\n"},
      {"--help", 0, "Aufruf: kvo-umsetzer-cli [--check|--status|--verify|--undo] DATEI|ORDNER...\n",
       ""},
      {"-h", 0, "Aufruf: kvo-umsetzer-cli [--check|--status|--verify|--undo] DATEI|ORDNER...\n",
       ""},
      // A name Windows calls invalid is no file of this folder.
      {"-?", 0, "Aufruf: kvo-umsetzer-cli [--check|--status|--verify|--undo] DATEI|ORDNER...\n",
       ""},
      {"--version", 0, "kvo-umsetzer-cli ", ""},
      // An empty folder says what the window says.
      {"leer", 0, "Keine Datei mit der Endung .dat gefunden\n", ""},
  };
  std::filesystem::create_directory(test::FromUtf8(dir.Path("leer")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Cli(dir, c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.substr(0, c.outStart.size()), c.outStart);
    EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart);
    // Every line fits a terminal of 80 columns.
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LT(
          std::count_if(line.begin(), line.end(),
                        [](char ch) { return (static_cast<unsigned char>(ch) & 0xC0) != 0x80; }),
          80)
          << line;
    }
  }
  EXPECT_EQ(dir.Names(), std::set<std::string>{"leer"});
}

#ifndef _WIN32

// What the shell makes of "*" is never taken for an option, and each file's
// line is one line: a file named "--undo" or "-h" stops the run before it
// does anything, "--" names it as a file, a newline in a name is printed
// escaped, and the backups that "*" names are reported as their files'.
TEST(Cli, FileNamesAreNeverOptionsAndEachIsOneLine) {
  test::TempDir dir;
  dir.Put("a.dat", Good(3));
  dir.Put("--undo", Good(4));
  dir.Put("-h", Good(5));
  for (const char* args : {"*", "a.dat -h"}) {
    SCOPED_TRACE(args);
    const Result r = Cli(dir, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(
        r.err.find("ist auch der Name einer Datei in diesem Ordner; als Datei schreiben Sie ./"),
        std::string::npos)
        << r.err;
  }
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"--undo", "-h", "a.dat"}));
  EXPECT_EQ(Cli(dir, "-- a.dat -h").status, 0);
  EXPECT_EQ(dir.Names(), (std::set<std::string>{"--undo", "-h", "-h.old", "a.dat", "a.old"}));

  dir.Put("b\nc.dat", Good(6));
  const Result status = Cli(dir, "--status -- *");
  EXPECT_NE(status.out.find("\nb\\x0ac.dat: Version 1.0, noch umzusetzen\n"), std::string::npos)
      << status.out;
  std::filesystem::remove(test::FromUtf8(dir.Path("--undo")));
  const Result undo = Cli(dir, "--undo -- *");
  EXPECT_EQ(undo.status, 0) << undo.err;
  EXPECT_NE(undo.out.find("\na.old: Eine Sicherung (Endung .old) (die Sicherung von a.dat)\n"),
            std::string::npos)
      << undo.out;
  EXPECT_NE(undo.out.find("Zusammenfassung: 2 rückgängig gemacht, 1 schon auf Version 1.0, "
                          "2 Sicherungen, 0 nicht rückgängig gemacht\n"),
            std::string::npos)
      << undo.out;
  EXPECT_EQ(dir.Get("a.dat"), Good(3));
  EXPECT_EQ(dir.Get("-h"), Good(5));
}

// The guide promises every text the program can show, with what to do: the
// message constants, and every fixed part of the texts built around names
// and numbers (the second lines, the system's reasons, the summaries), the
// help and the usage errors. Found in the guide as a reader sees it: tags
// gone, lines joined.
TEST(Guide, ExplainsEveryMessage) {
  auto read = [](const std::string& path) {
    std::ifstream in(std::string(KVO_SOURCE_DIR) + "/" + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string html = read("doc/Anleitung.html");
  ASSERT_FALSE(html.empty());
  std::string guide;
  for (std::size_t i = 0; i < html.size(); ++i) {
    if (html[i] == '<') {
      i = html.find('>', i);
      continue;
    }
    const char c = html[i] == '\n' || html[i] == '\t' ? ' ' : html[i];
    if (c != ' ' || (!guide.empty() && guide.back() != ' ')) guide += c;
  }
  for (const auto& [entity, text] : std::map<std::string, std::string>{
           {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}}) {
    for (auto at = guide.find(entity); at != std::string::npos; at = guide.find(entity, at)) {
      guide.replace(at, entity.size(), text);
    }
  }
  // The string literal that starts at code[pos], adjacent ones (across
  // spaces, line ends and preprocessor lines) joined as the compiler joins
  // them; pos moves past it.
  const auto literalAt = [](const std::string& code, std::size_t& pos) {
    std::string text;
    for (;;) {
      std::size_t close = pos + 1;
      for (; close < code.size() && code[close] != '"'; ++close) {
        if (code[close] == '\\') ++close;
        text += code[close] == 'n' && code[close - 1] == '\\' ? '\n' : code[close];
      }
      pos = close + 1;
      std::size_t next = code.find_first_not_of(" \n", pos);
      while (next != std::string::npos && code[next] == '#') {
        next = code.find_first_not_of(" \n", code.find('\n', next));
      }
      if (next == std::string::npos || code[next] != '"') return text;
      pos = next;
    }
  };
  // Every literal of code but those in comments and #include lines.
  const auto literals = [&](const std::string& code) {
    std::vector<std::string> found;
    for (std::size_t pos = 0; (pos = code.find('"', pos)) != std::string::npos;) {
      const std::size_t lineStart = code.rfind('\n', pos) + 1;
      const std::string before = code.substr(lineStart, pos - lineStart);
      const bool skip =
          before.find("//") != std::string::npos || before.find("#include") != std::string::npos;
      std::string text = literalAt(code, pos);
      if (!skip) found.push_back(std::move(text));
    }
    return found;
  };
  // Each line of a text, trimmed, that has a letter and four characters or
  // more: what a user reads.
  const auto readable = [](const std::string& text) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string piece; std::getline(lines, piece);) {
      const std::string trim = " ,.;:()?!\xe2\x80\x9e\x9c";
      const std::size_t first = piece.find_first_not_of(trim);
      if (first == std::string::npos) continue;
      piece = piece.substr(first, piece.find_last_not_of(trim) - first + 1);
      std::string joined;  // runs of spaces as one, as the guide reads
      for (const char c : piece) {
        if (c != ' ' || joined.empty() || joined.back() != ' ') joined += c;
      }
      const bool letter = std::ranges::any_of(
          joined, [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
      // (A run of digits and letters without a space is a code's, not a word.)
      const bool code = joined.find(' ') == std::string::npos &&
                        joined.find_first_of("0123456789") != std::string::npos;
      if (joined.size() >= 4 && letter && !code && !joined.ends_with(".h")) {
        found.push_back(joined);
      }
    }
    return found;
  };
  // The text constants of a header (inline constexpr const char* kName =
  // ...;), or every literal of a source.
  const auto texts = [&](const std::string& source, bool constantsOnly) {
    const std::string code = read(source);
    std::vector<std::string> found;
    if (!constantsOnly) {
      for (const std::string& text : literals(code)) {
        for (std::string& line : readable(text)) found.push_back(std::move(line));
      }
      return found;
    }
    for (std::size_t at = code.find("constexpr const char* k"); at != std::string::npos;
         at = code.find("constexpr const char* k", at + 1)) {
      std::size_t pos = code.find('"', at);
      if (pos > code.find(';', at)) continue;  // no text of its own
      for (std::string& line : readable(literalAt(code, pos))) found.push_back(std::move(line));
    }
    return found;
  };
  int checked = 0;
  for (const auto& [source, constantsOnly] :
       std::vector<std::pair<std::string, bool>>{{"app/words/Messages.h", true},
                                                 {"format/Errors.h", true},
                                                 {"app/run/FileList.h", true},
                                                 {"app/words/Messages.cpp", false},
                                                 {"platform/Reasons.cpp", false},
                                                 {"cli/CommandLine.cpp", false}}) {
    for (const std::string& text : texts(source, constantsOnly)) {
      ++checked;
      EXPECT_NE(guide.find(text), std::string::npos) << source << ": not in the guide: " << text;
    }
  }
  EXPECT_GT(checked, 150);
}

#endif

}  // namespace
}  // namespace kvo
