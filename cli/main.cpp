// kvo-umsetzer-cli: the window's conversion run for files named on the
// command line, one line per file, the outcome in the exit status.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "ConversionRun.h"
#include "Files.h"
#include "TableSets.h"
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
    "kann), 1, wenn eine nicht, 2 bei einem falschen Aufruf.\n";

// Answers the run with the file from the command line and keeps what it
// says, for one line of output.
class CommandLineUi final : public kvo::UserInterface {
 public:
  explicit CommandLineUi(std::string file) : file_(std::move(file)) {}
  std::optional<std::string> ChooseFile() override { return file_; }
  void ShowInformation(const std::string& text) override { said_ = text; }
  void ShowError(const std::string& text) override { said_ = text; }
  void BeginWait() override {}
  void EndWait() override {}
  const std::string& said() const { return said_; }

 private:
  std::string file_;
  std::string said_;
};

int Usage(const std::string& problem) {
  std::cerr << "kvo-umsetzer-cli: " << problem << "\n"
            << "Mehr mit: kvo-umsetzer-cli --help\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  kvo::platform::PrepareConsole();
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

  int good = 0;
  for (const std::string& file : files) {
    CommandLineUi ui(file);
    const kvo::Outcome outcome =
        kvo::RunConversion(ui, kvo::platform::SystemFiles(), kvo::ProcessTables(), options);
    const bool ok = outcome == kvo::Outcome::Converted || outcome == kvo::Outcome::Convertible;
    good += ok ? 1 : 0;
    (ok ? std::cout : std::cerr) << file << ": " << ui.said() << std::endl;
  }
  const int bad = static_cast<int>(files.size()) - good;
  if (files.size() > 1) {
    std::cout << "Zusammenfassung: " << good
              << (options.checkOnly ? " umsetzbar, " : " umgesetzt, ") << bad
              << (options.checkOnly ? " nicht umsetzbar" : " nicht umgesetzt") << std::endl;
  }
  return bad == 0 ? 0 : 1;
}
