#include "FileList.h"

#include <algorithm>
#include <cctype>

#include "Paths.h"

namespace kvo {

namespace {

bool IsDataFile(const std::string& name) {
  constexpr std::string_view kEnding = ".dat";
  if (name.size() <= kEnding.size()) return false;
  return std::equal(
      kEnding.begin(), kEnding.end(), name.end() - kEnding.size(),
      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// Nothing when path is no folder that can be listed.
std::optional<std::vector<platform::FolderEntry>> Listing(platform::Files& files,
                                                          const std::string& path) {
  try {
    auto entries = files.List(path);
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    return entries;
  } catch (const platform::FileError&) {
    return std::nullopt;
  }
}

void Walk(platform::Files& files, const std::string& folder,
          const std::vector<platform::FolderEntry>& entries, std::vector<FileToConvert>& out) {
  for (const platform::FolderEntry& entry : entries) {
    const std::string path = platform::JoinPath(folder, entry.name);
    if (!entry.folder) {
      if (IsDataFile(entry.name)) out.push_back({path, true});
    } else if (const auto inner = Listing(files, path)) {
      Walk(files, path, *inner, out);
    } else {
      // A folder that cannot be read: the run reports it rather than
      // passing it over in silence.
      out.push_back({path, true});
    }
  }
}

}  // namespace

std::vector<FileToConvert> FilesToConvert(platform::Files& files,
                                          const std::vector<std::string>& named) {
  std::vector<FileToConvert> out;
  for (const std::string& path : named) {
    if (const auto entries = Listing(files, path)) {
      Walk(files, path, *entries, out);
    } else {
      out.push_back({path, false});
    }
  }
  return out;
}

std::string DialogStartFolder(platform::Files& files, const std::string& programFolder,
                              const std::vector<std::string>& systemFolders,
                              const std::string& documents) {
  // Compared as Windows compares names, which does no harm elsewhere.
  const auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  const std::string program = lower(programFolder);
  bool installed = false;
  for (const std::string& system : systemFolders) {
    const std::string folder = lower(system);
    installed = installed || (!folder.empty() && program.starts_with(folder) &&
                              (program.size() == folder.size() ||
                               platform::IsSeparator(program[folder.size()]) ||
                               platform::IsSeparator(folder.back())));
  }
  if (!installed) {
    try {
      files.CheckCreatable(platform::JoinPath(programFolder, "Neu.dat"));
    } catch (const platform::FileError&) {
      installed = true;
    }
  }
  return installed && !documents.empty() ? documents : programFolder;
}

}  // namespace kvo
