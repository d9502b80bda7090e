#include "CommandLine.h"

#include <chrono>
#include <iostream>
#include <string_view>

#include "FileList.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Run.h"
#include "Summary.h"
#include "Utf8.h"
#include "Window.h"

namespace kvo {

namespace {

constexpr const char* kUsage =
    "Aufruf: kvo-umsetzer-cli [--check|--status|--verify|--undo] DATEI|ORDNER...\n"
    "Setzt Datendateien von Version 1.0 (30.12.2007) auf Version 1.1 (20.10.2009)\n"
    "um. Die alte Datei bleibt mit der Endung .old erhalten. Aus einem Ordner werden\n"
    "alle Dateien mit der Endung .dat umgesetzt, auch die in seinen Unterordnern.\n"
    "\n"
    "  --check     nur prüfen und sagen, was geschähe; nichts auf der Platte ändern\n"
    "  --status    für jede Datei sagen, wie sie steht: noch umzusetzen, umgesetzt\n"
    "              und unverändert, seitdem verändert, ohne Sicherung, ...\n"
    "  --verify    jede umgesetzte Datei mit der Umsetzung ihrer .old vergleichen\n"
    "  --undo      jede umgesetzte Datei, die noch genau die Umsetzung ihrer .old\n"
    "              ist, durch ihre .old ersetzen; eine seitdem veränderte bleibt\n"
#ifdef _WIN32
    "  /?, -h, --help  diese Hilfe zeigen\n"
#else
    "  -h, --help  diese Hilfe zeigen\n"
#endif
    "  --version   die Version zeigen\n"
    "\n"
    "Rückgabewert:\n"
    "  0    jede Datei umgesetzt (mit --check: umsetzbar); in einem Ordner darf eine\n"
    "       auch schon Version 1.1 haben. --status: keine Datei beschädigt oder\n"
    "       unterbrochen; --verify: dazu jede umgesetzte stimmt; --undo: jede\n"
    "       umgesetzte rückgängig gemacht\n"
    "  1    eine Datei nicht umgesetzt (nicht rückgängig gemacht, beschädigt, ...)\n"
    "  2    falscher Aufruf, oder die Ausgabe ließ sich nicht schreiben\n"
    "  128+ abgebrochen (Strg+C: 130); jede Datei ist unverändert oder umgesetzt\n";

// Prints one line per file as the run settles it, and on a terminal a line
// that says how far a long run is.
class CommandLineUi final : public UserInterface {
 public:
  CommandLineUi(std::ostream& out, std::ostream& err, UserInterface* beside)
      : out_(out), err_(err), beside_(beside) {}

  std::optional<std::string> ChooseFile() override { return std::nullopt; }
  // The lines of FileDone say what the boxes would.
  void ShowInformation(const std::string&) override {}
  void ShowError(const std::string&) override {}
  bool ShowSummary(const std::vector<FileResult>&, bool) override { return false; }
  void BeginWait() override {}
  void EndWait() override {}
  void Reached(Step step, const std::string& path) override {
    if (beside_ != nullptr) beside_->Reached(step, path);
  }
  // No one presses a button here; a test beside may.
  bool CancelRequested() override { return beside_ != nullptr && beside_->CancelRequested(); }

  void Progress(std::size_t done, std::size_t total, const std::string& current) override {
    line_ = current.empty() ? "" : ProgressLine(done, total, current);
    if (!terminal_) return;
    if (std::chrono::steady_clock::now() - start_ < design::kProgressAfter) return;
    ShowProgress(line_);
  }

  // A large file: how far into it, in percent.
  void FileProgress(std::uint64_t done, std::uint64_t total) override {
    if (!terminal_ || line_.empty()) return;
    if (std::chrono::steady_clock::now() - start_ < design::kProgressAfter) return;
    ShowProgress(line_ + " (" + std::to_string(total == 0 ? 0 : done * 100 / total) + " %)");
  }

  void FileDone(const FileResult& r) override {
    if (r.outcome == Outcome::NotReached) return;
    ShowProgress("");
    const bool problem = IsProblem(r);
    bad_ += problem;
    (problem ? err_ : out_) << Printable(FileLine(r)) << std::endl;
  }

  int bad() const { return bad_; }

 private:
  // Replaces the progress line, or takes it away. It must fit the terminal:
  // a wrapped line cannot be taken back. Long paths lose their start.
  void ShowProgress(std::string line) {
    if (line.empty() && shown_ == 0) return;
    const std::size_t width = platform::TerminalColumns();
    if (width > 4 && Columns(line) >= width) {
      std::size_t cut = 0;
      while (Columns(line.substr(cut)) + 3 >= width) {
        do ++cut;
        while (cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80);
      }
      line = "..." + line.substr(cut);
    }
    line = Printable(line);
    err_ << '\r' << line;
    const std::size_t columns = Columns(line);
    if (columns < shown_) err_ << std::string(shown_ - columns, ' ') << '\r' << line;
    err_ << std::flush;
    shown_ = columns;
  }

  // Characters, not bytes: what a UTF-8 terminal shows.
  static std::size_t Columns(const std::string& s) {
    std::size_t n = 0;
    for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
  }

  std::ostream& out_;
  std::ostream& err_;
  UserInterface* beside_;
  const bool terminal_ = &err_ == &std::cerr && platform::ErrorIsTerminal();
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::size_t shown_ = 0;
  std::string line_;  // the file at hand
  int bad_ = 0;
};

// Whether name is an entry of the current folder.
bool NameHere(platform::Files& files, const std::string& name) {
  try {
    return files.IdentityOf(name).has_value();
  } catch (const platform::FileError& e) {
    // Refused a look, it may well be there. A name the system calls invalid
    // ("-?" on Windows), or a look that failed (a disk error, no file handle
    // left), shows no file: the argument is read as the option it spells.
    return e.problem() == platform::Problem::NoAccess;
  }
}

int Usage(std::ostream& err, const std::string& problem) {
  err << "kvo-umsetzer-cli: " << problem << "\n" << kMoreHelpText << "\n";
  return 2;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, platform::Files& files, std::ostream& out,
                   std::ostream& err, UserInterface* beside) {
  RunOptions options;
  std::vector<std::string> named;
  bool optionsEnd = false;
  for (const std::string& arg : args) {
    // "kvo-umsetzer-cli *" in a folder that holds a file named "--undo" or
    // "-h": what the shell made a file name is never taken for an option.
    if (!optionsEnd && arg.size() > 1 && arg[0] == '-' && arg != "--" && NameHere(files, arg)) {
      return Usage(err, AlsoAFileText(arg));
    }
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && AsksForHelp(arg)) {
      out << kUsage;
      return 0;
    } else if (!optionsEnd && arg == "--version") {
      out << "kvo-umsetzer-cli " << KVO_VERSION << "\n";
      return 0;
    } else if (!optionsEnd && arg == "--check") {
      options.checkOnly = true;
    } else if (!optionsEnd && (arg == "--status" || arg == "--verify" || arg == "--undo")) {
      if (options.operation != Operation::Convert) return Usage(err, kOneOperationText);
      options.operation = arg == "--status"   ? Operation::Status
                          : arg == "--verify" ? Operation::Verify
                                              : Operation::Undo;
    } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      return Usage(err, UnknownOptionText(arg));
    } else {
      named.push_back(arg);
    }
  }
  if (named.empty()) return Usage(err, kNoFileNamedText);
  if (options.checkOnly && options.operation != Operation::Convert) {
    return Usage(err, kCheckConvertsOnlyText);
  }

  CommandLineUi ui(out, err, beside);
  // A backup whose file is missing is named in every run, with the way back.
  const auto list = FilesToConvert(files, named, true);
  if (list.empty()) out << kNothingFoundText << std::endl;  // as the window says
  const auto results = RunOperation(ui, files, list, options);
  if (!results.empty() && (results.size() != 1 || results.front().inFolder)) {
    out << "Zusammenfassung: " << CountsLine(results, options.operation, options.checkOnly)
        << std::endl;
  }
  if (const int signal = platform::InterruptSignal()) {
    err << kStoppedText << std::endl;
    return 128 + signal;
  }
  // What could not be said is a failure of its own: a script must not read
  // silence as success.
  if (!(out << std::flush)) {
    err << "kvo-umsetzer-cli: " << kNoOutputText << std::endl;
    return 2;
  }
  return ui.bad() == 0 ? 0 : 1;
}

}  // namespace kvo
