#include "Command.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TempDir.h"

namespace kvo::test {

namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

CommandResult RunCommand(const std::string& folder, const std::string& command) {
  const TempDir streams;  // apart from the files under test
  const std::string out = streams.Path("out");
  const std::string err = streams.Path("err");
  const std::string line = "cd '" + folder + "' && " + command + " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(line.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Contents(out), Contents(err)};
}

}  // namespace kvo::test
