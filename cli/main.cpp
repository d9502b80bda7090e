// kvo-umsetzer-cli: the window's conversion run for files named on the
// command line, one line per file, the outcome in the exit status.
#include <cstdio>
#include <iostream>

#include "CommandLine.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Utf8.h"

int main(int argc, char** argv) {
  kvo::platform::PrepareConsole();
  kvo::platform::InstallInterruptHandling();
  std::vector<std::string> args = kvo::platform::Arguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());
  const int status = kvo::RunCommandLine(args, kvo::platform::SystemFiles(), std::cout, std::cerr);
  if (status < 2 && std::fflush(stdout) != 0) {
    std::cerr << "kvo-umsetzer-cli: " << kvo::kNoOutputText << std::endl;
    return 2;
  }
  return status;
}
