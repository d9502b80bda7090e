#include "Messages.h"

#include <cctype>

#include "Paths.h"

namespace kvo {

using platform::IsSeparator;

const char* ProblemText(platform::Problem problem) {
  switch (problem) {
    case platform::Problem::Missing:
      return "Datei nicht gefunden";
    case platform::Problem::NoAccess:
      return "kein Zugriff auf die Datei";
    case platform::Problem::Locked:
      return "von einem anderen Programm gesperrt";
    case platform::Problem::NotRegular:
      return "keine gewöhnliche Datei";
    case platform::Problem::Other:
      break;
  }
  return "Datei lässt sich nicht öffnen";
}

std::string ErrorBoxText(std::string_view text) {
  std::string out(text);
  if (out.empty() || static_cast<unsigned char>(out.back()) > '.') out += '.';
  return out;
}

std::string BackupPath(std::string_view path) {
  std::size_t nameStart = path.size();
  while (nameStart > 0 && !IsSeparator(path[nameStart - 1])) --nameStart;
  const std::size_t dot = path.rfind('.');
  const std::size_t stem = (dot != std::string_view::npos && dot >= nameStart) ? dot : path.size();
  return std::string(path.substr(0, stem)) + ".old";
}

std::string ApplicationTitle(std::string_view executableFileName) {
  std::string title(executableFileName.substr(0, executableFileName.find('.')));
  for (std::size_t i = 1; i < title.size(); ++i) {
    title[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(title[i])));
  }
  return title;
}

}  // namespace kvo
