#include "Command.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TempDir.h"

#ifdef _WIN32
#include "Utf8.h"
#else
#include <sys/wait.h>
#endif

namespace kvo::test {

namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(FromUtf8(path));
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

std::string Quote(const std::string& word) {
#ifdef _WIN32
  return "\"" + word + "\"";
#else
  return "'" + word + "'";
#endif
}

CommandResult RunCommand(const std::string& folder, const std::string& command) {
  const TempDir streams;  // apart from the files under test
  const std::string out = streams.Path("out");
  const std::string err = streams.Path("err");
#ifdef _WIN32
  // cmd takes the outer quotes off and leaves the inner ones.
  const std::string line =
      "\"cd /d " + Quote(folder) + " && " + command + " >" + Quote(out) + " 2>" + Quote(err) + "\"";
  const int status = ::_wsystem(platform::Wide(line).c_str());
#else
  const std::string line =
      "cd " + Quote(folder) + " && " + command + " >" + Quote(out) + " 2>" + Quote(err);
  const int raw = std::system(line.c_str());
  const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  return {status, Contents(out), Contents(err)};
}

}  // namespace kvo::test
