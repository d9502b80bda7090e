#include "FileList.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string_view>

#include "Messages.h"
#include "Names.h"
#include "Paths.h"

namespace kvo {

namespace {

// Nothing when path is no folder that can be listed.
std::optional<std::vector<platform::FolderEntry>> Listing(platform::Files& files,
                                                          const std::string& path) {
  try {
    auto entries = files.List(path);
    // As a German reader orders them, the same on every surface.
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return SortKey(a.name) < SortKey(b.name); });
    return entries;
  } catch (const platform::FileError&) {
    return std::nullopt;
  }
}

std::string Lowered(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// Whether a data file here claims this name as its backup's: spelled so,
// or in another case where the folder ignores case (FAT, exFAT, Windows)
// and finds NORD.OLD under the name NORD.old. It does so where that name is
// not an entry of its own and yet names a file. (Inode numbers do not tell:
// FUSE may give one file another number under each spelling.)
bool Claimed(platform::Files& files, const std::string& folder, const std::string& name,
             const std::set<std::string>& listed,
             const std::multimap<std::string, std::string>& claimedByLowered) {
  const auto [first, last] = claimedByLowered.equal_range(Lowered(name));
  for (auto it = first; it != last; ++it) {
    if (it->second == name) return true;
    if (listed.contains(it->second)) continue;
    try {
      if (files.IdentityOf(platform::JoinPath(folder, it->second))) return true;
    } catch (const platform::FileError&) {
    }
  }
  return false;
}

// A folder held, then listed: the listing is of the folder that is held.
struct Held {
  std::shared_ptr<platform::FolderHold> hold;
  std::vector<platform::FolderEntry> entries;
};
std::optional<Held> HeldListing(platform::Files& files, const std::string& path) {
  std::shared_ptr<platform::FolderHold> hold;
  try {
    hold = files.HoldFolder(path);
  } catch (const platform::FileError&) {
  }
  auto entries = Listing(files, path);
  if (!entries) return std::nullopt;
  return Held{std::move(hold), std::move(*entries)};
}

void Walk(platform::Files& files, const std::string& folder, const Held& held, bool backupsAlone,
          std::vector<FileToConvert>& out) {
  const std::vector<platform::FolderEntry>& entries = held.entries;
  // The backup names the data files here claim, by their lower-case spelling.
  std::multimap<std::string, std::string> claimedByLowered;
  std::set<std::string> listed;
  for (const platform::FolderEntry& entry : entries) {
    listed.insert(entry.name);
    if (backupsAlone && !entry.folder && IsDataFile(entry.name)) {
      const std::string backup = BackupPath(entry.name);
      claimedByLowered.emplace(Lowered(backup), backup);
    }
  }
  for (const platform::FolderEntry& entry : entries) {
    const std::string path = platform::JoinPath(folder, entry.name);
    if (!entry.folder) {
      if (IsDataFile(entry.name)) out.push_back({path, true, false, held.hold});
      if (backupsAlone && IsBackupName(entry.name) &&
          !Claimed(files, folder, entry.name, listed, claimedByLowered)) {
        out.push_back({path, true, true, held.hold});
      }
    } else if (const auto inner = HeldListing(files, path)) {
      Walk(files, path, *inner, backupsAlone, out);
    } else {
      // A folder that cannot be read: the run reports it rather than
      // passing it over in silence.
      out.push_back({path, true, false, held.hold});
    }
  }
}

}  // namespace

std::vector<FileToConvert> FilesToConvert(platform::Files& files,
                                          const std::vector<std::string>& named,
                                          bool backupsAlone) {
  std::vector<FileToConvert> out;
  for (const std::string& path : named) {
    if (const auto held = HeldListing(files, path)) {
      Walk(files, path, *held, backupsAlone, out);
    } else {
      out.push_back({path, false});
    }
  }
  return out;
}

std::string StartQuestion(platform::Files& files, const std::vector<std::string>& named) {
  std::size_t folders = 0;
  for (const std::string& path : named) folders += Listing(files, path).has_value();
  bool oneFolder = true;
  for (const std::string& path : named) {
    oneFolder = oneFolder && platform::FolderOf(path) == platform::FolderOf(named.front());
  }
  return StartQuestionText(named.size() - folders, folders, named.size() == 1 ? named.front() : "",
                           oneFolder ? platform::FolderOf(named.front()) : "");
}

bool AsksForHelp(const std::string& argument) {
  return argument == "--help" || argument == "-h" || argument == "-?" ||
         (kSlashAsksForHelp && argument == "/?");
}

std::string TerminalText(const std::string& text, std::size_t width) {
  std::string out;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + begin, end - begin);
    // Columns, not bytes: a continuation byte of UTF-8 takes none.
    const auto columns = [](std::string_view s) {
      return static_cast<std::size_t>(std::ranges::count_if(
          s, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    };
    while (columns(line) > width) {
      std::size_t cut = 0, seen = 0;
      for (std::size_t i = 0; i < line.size() && seen <= width; ++i) {
        if (line[i] == ' ') cut = i;
        seen += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
      }
      if (cut == 0) break;  // one word longer than the line
      out.append(line.substr(0, cut)).push_back('\n');
      line.remove_prefix(cut + 1);
    }
    out.append(line);
    if (end < text.size()) out.push_back('\n');
    begin = end + 1;
  }
  return out;
}

WindowStart ReadWindowArguments(const std::vector<std::string>& arguments) {
  WindowStart start;
  bool optionsEnd = false;
  for (const std::string& arg : arguments) {
    if (!optionsEnd && arg == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && arg == "--version") {
      return {WindowStart::Version, std::string("kvo-umsetzer ") + KVO_VERSION, {}};
    } else if (!optionsEnd && AsksForHelp(arg)) {
      return {WindowStart::Help, kWindowUsageText, {}};
    } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
      return {WindowStart::Wrong, UnknownOptionText(arg), {}};
    } else {
      start.named.push_back(arg);
    }
  }
  return start;
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
