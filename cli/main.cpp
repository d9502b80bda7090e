// kvo-umsetzer-cli: the window's conversion run for files named on the
// command line, one line per file, the outcome in the exit status.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "ConversionRun.h"
#include "Files.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Utf8.h"

namespace {

constexpr const char* kUsage =
    "Aufruf: kvo-umsetzer-cli [--check] DATEI...\n"
    "Setzt Datendateien von Version 1.0 (30.12.2007) auf Version 1.1 (20.10.2009) um.\n"
    "Die alte Datei bleibt mit der Endung .old erhalten.\n"
    "\n"
    "  --check    nur prüfen und sagen, was geschähe; nichts auf der Platte ändern\n"
    "  --help     diese Hilfe zeigen\n"
    "  --version  die Version zeigen\n"
    "\n"
    "Rückgabewert: 0, wenn jede Datei umgesetzt wurde (mit --check: umgesetzt werden\n"
    "kann), 1, wenn eine nicht, 2 bei einem falschen Aufruf, 128 und mehr nach einem\n"
    "Abbruch (Strg+C: 130).\n";

// Prints one line per file as the run settles it.
class CommandLineUi final : public kvo::UserInterface {
 public:
  std::optional<std::string> ChooseFile() override { return std::nullopt; }
  // The lines of FileDone say what the boxes would.
  void ShowInformation(const std::string&) override {}
  void ShowError(const std::string&) override {}
  void BeginWait() override {}
  void EndWait() override {}

  void FileDone(const kvo::FileResult& r) override {
    using kvo::Outcome;
    const bool ok = r.outcome == Outcome::Converted || r.outcome == Outcome::Convertible;
    good_ += ok ? 1 : 0;
    std::string said = r.outcome == Outcome::Interrupted ? kvo::kInterruptedText : r.message;
    if (r.openProblem) said += std::string(" (") + kvo::ProblemText(*r.openProblem) + ")";
    (ok ? std::cout : std::cerr) << r.path << ": " << said << std::endl;
  }
  int good() const { return good_; }

 private:
  int good_ = 0;
};

int Usage(const std::string& problem) {
  std::cerr << "kvo-umsetzer-cli: " << problem << "\n"
            << "Mehr mit: kvo-umsetzer-cli --help\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  kvo::platform::PrepareConsole();
  kvo::platform::InstallInterruptHandling();
  const std::vector<std::string> args = kvo::platform::Arguments(argc, argv);
  kvo::RunOptions options;
  std::vector<std::string> files;
  bool optionsEnd = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && arg == "--help") {
      std::cout << kUsage;
      return 0;
    } else if (!optionsEnd && arg == "--version") {
      std::cout << "kvo-umsetzer-cli " << KVO_VERSION << "\n";
      return 0;
    } else if (!optionsEnd && arg == "--check") {
      options.checkOnly = true;
    } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      return Usage("unbekannte Option " + std::string(arg));
    } else {
      files.emplace_back(arg);
    }
  }
  if (files.empty()) return Usage("keine Datei angegeben");

  CommandLineUi ui;
  const auto results = kvo::ConvertFiles(ui, kvo::platform::SystemFiles(), files, options);
  if (const int signal = kvo::platform::InterruptSignal()) {
    std::cerr << "Abgebrochen." << std::endl;
    return 128 + signal;
  }
  const int bad = static_cast<int>(files.size()) - ui.good();
  if (files.size() > 1) {
    std::cout << "Zusammenfassung: " << ui.good()
              << (options.checkOnly ? " umsetzbar, " : " umgesetzt, ") << bad
              << (options.checkOnly ? " nicht umsetzbar" : " nicht umgesetzt") << std::endl;
  }
  return bad == 0 ? 0 : 1;
}
