#include "Paths.h"

namespace kvo::platform {

namespace {

std::size_t NameStart(std::string_view path) {
  std::size_t start = path.size();
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  return start;
}

}  // namespace

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

std::string FolderOf(std::string_view path) {
  const std::size_t start = NameStart(path);
  if (start == 0) return ".";
  // A root keeps its separator: "/" and "C:\" are folders; so is "C:", the
  // drive's current folder.
  const bool root = start == 1 || path[start - 1] == ':' || path[start - 2] == ':';
  return std::string(path.substr(0, root ? start : start - 1));
}

std::string NameOf(std::string_view path) {
  return std::string(path.substr(NameStart(path)));
}

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && !IsSeparator(path.back())) {
#ifdef _WIN32
    path += '\\';
#else
    path += '/';
#endif
  }
  return path + std::string(name);
}

}  // namespace kvo::platform
