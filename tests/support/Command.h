// Runs a command line through the shell and keeps what it printed.
#pragma once

#include <string>

namespace kvo::test {

struct CommandResult {
  int status;  // the exit status, -1 when it did not exit
  std::string out, err;
};

// A word of a command line, quoted for the system's shell.
std::string Quote(const std::string& word);

// Runs command in folder, through the system's shell.
CommandResult RunCommand(const std::string& folder, const std::string& command);

}  // namespace kvo::test
