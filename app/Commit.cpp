#include "Commit.h"

#include <cstdint>
#include <cstdio>

#include "Errors.h"
#include "Messages.h"
#include "Paths.h"

namespace kvo {

namespace {

using platform::FileError;
using platform::Files;

constexpr int kAttempts = 100;
constexpr std::string_view kTemporaryPrefix = ".kvo-";
constexpr std::string_view kTemporaryEnding = ".tmp";
// What the first release named them: the whole name plus this.
constexpr std::string_view kEarlierEnding = ".kvo-tmp";

// FNV-1a: short, stable across systems and releases.
std::string NameTag(const std::string& name) {
  std::uint64_t hash = 14695981039346656037u;
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  char tag[17];
  std::snprintf(tag, sizeof tag, "%016llx", static_cast<unsigned long long>(hash));
  return tag;
}

bool AllDigits(std::string_view s) {
  return s.find_first_not_of("0123456789") == std::string_view::npos;
}

// prefix, then nothing or separator and a number, then ending.
bool NumberedName(std::string_view name, std::string_view prefix, std::string_view separator,
                  std::string_view ending) {
  if (name.size() < prefix.size() + ending.size() || !name.starts_with(prefix) ||
      !name.ends_with(ending)) {
    return false;
  }
  std::string_view middle = name.substr(prefix.size(), name.size() - prefix.size() - ending.size());
  if (middle.empty()) return true;
  if (!middle.starts_with(separator)) return false;
  middle.remove_prefix(separator.size());
  return !middle.empty() && AllDigits(middle);
}

bool IsTemporaryOf(std::string_view candidate, const std::string& name) {
  const std::string ours = std::string(kTemporaryPrefix) + NameTag(name);
  return NumberedName(candidate, ours, "-", kTemporaryEnding) ||
         NumberedName(candidate, name + std::string(kEarlierEnding), "", "");
}

void RemoveQuietly(Files& files, const std::string& path) {
  try {
    files.Remove(path);
  } catch (const FileError&) {
  }
}

// Takes the backup name off again where it is only a second name of the
// original; anything else under it is left alone.
void RemoveSecondName(Files& files, const Staged& staged) {
  try {
    const auto backup = files.IdentityOf(staged.backup);
    if (backup && backup->SameFile(staged.input->Identity())) files.Remove(staged.backup);
  } catch (const FileError&) {
    // The original is whole under its name; the next run recognises the
    // second name and finishes the job.
  }
}

void ReleaseInput(Staged& staged) {
  // Only read: its close cannot lose anything.
  try {
    staged.input->Close();
  } catch (const FileError&) {
  }
}

void CommitByRenames(Files& files, Staged& staged) {
  try {
    files.RenameNoReplace(staged.path, staged.backup);
  } catch (const FileError&) {
    Abandon(files, staged);
    throw KvoError(kBackupFailedText);
  }
  try {
    files.RenameNoReplace(staged.temporary, staged.path);
  } catch (const FileError&) {
    try {
      files.RenameNoReplace(staged.backup, staged.path);
    } catch (const FileError&) {
      // Both files are whole; neither is deleted. Say where they are.
      throw KvoError(ErrorBoxText(kOutputFailedText) + " Die alte Datei liegt weiterhin unter " +
                     staged.backup + ", die neue unter " + staged.temporary);
    }
    Abandon(files, staged);
    throw KvoError(kOutputFailedText);
  }
}

}  // namespace

std::string TemporaryPath(const std::string& path, int attempt) {
  return platform::JoinPath(platform::FolderOf(path),
                            std::string(kTemporaryPrefix) + NameTag(platform::NameOf(path)) +
                                (attempt == 0 ? "" : "-" + std::to_string(attempt)) +
                                std::string(kTemporaryEnding));
}

void Leftovers::RemoveFor(Files& files, const std::string& path) {
  const std::string folder = platform::FolderOf(path);
  auto listed = listed_.find(folder);
  if (listed == listed_.end()) {
    // Only what may be a temporary file is kept: a folder of a thousand data
    // files is looked through once, not once for each of them.
    std::set<std::string> candidates;
    try {
      for (const platform::FolderEntry& entry : files.List(folder)) {
        if (!entry.folder && (entry.name.starts_with(kTemporaryPrefix) ||
                              entry.name.find(kEarlierEnding) != std::string::npos)) {
          candidates.insert(entry.name);
        }
      }
    } catch (const FileError&) {
      // Unlisted, nothing is cleared; a name still taken is skipped later.
    }
    listed = listed_.emplace(folder, std::move(candidates)).first;
  }
  if (listed->second.empty()) return;
  const std::string name = platform::NameOf(path);
  for (auto it = listed->second.begin(); it != listed->second.end();) {
    if (IsTemporaryOf(*it, name)) {
      RemoveQuietly(files, platform::JoinPath(folder, *it));
      it = listed->second.erase(it);
    } else {
      ++it;
    }
  }
}

void CreateTemporary(Files& files, Staged& staged) {
  for (int attempt = 0; !staged.output; ++attempt) {
    staged.temporary = TemporaryPath(staged.path, attempt);
    try {
      staged.output = files.CreateNew(staged.temporary);
    } catch (const FileError&) {
      // A name taken by something that is not ours to clear: try the next.
      // Otherwise nothing new can be named in this folder, and so neither
      // can a backup.
      const bool taken = files.IdentityOf(staged.temporary).has_value();
      if (!taken || attempt + 1 == kAttempts) throw KvoError(kBackupFailedText);
    }
  }
}

void Abandon(Files& files, Staged& staged) {
  staged.output.reset();
  if (!staged.temporary.empty()) RemoveQuietly(files, staged.temporary);
  staged.temporary.clear();
}

void Commit(Files& files, Staged& staged) {
  // The name must still stand for the very file that was read, unchanged:
  // a program may have written to it or put another file there meanwhile.
  std::optional<platform::FileIdentity> now;
  try {
    now = files.IdentityOf(staged.path);
  } catch (const FileError&) {
  }
  if (!now || *now != staged.input->Identity()) {
    Abandon(files, staged);
    throw KvoError(kChangedText);
  }

  bool linked = staged.resumed;
  if (!linked) {
    try {
      linked = files.LinkNoReplace(staged.path, staged.backup);
    } catch (const FileError&) {
      Abandon(files, staged);
      throw KvoError(kBackupFailedText);
    }
  }
  // Windows replaces no file that is open, even to share: the lock goes
  // just before the file changes names. A run that opens the original in
  // that moment finds it replaced when it comes to commit, and stops.
  ReleaseInput(staged);
  if (!linked) {
    CommitByRenames(files, staged);
  } else {
    try {
      files.RenameReplace(staged.temporary, staged.path);
    } catch (const FileError&) {
      if (!staged.resumed) RemoveSecondName(files, staged);
      Abandon(files, staged);
      throw KvoError(kOutputFailedText);
    }
  }
  staged.temporary.clear();
}

void SyncFolder(Files& files, const std::string& folder) {
  try {
    files.SyncFolder(folder);
  } catch (const FileError&) {
    throw KvoError(kFolderNotSyncedText);
  }
}

void CheckCommittable(Files& files, const Staged& staged) {
  try {
    if (!staged.resumed) files.CheckCreatable(staged.backup);
    files.CheckCreatable(TemporaryPath(staged.path, 0));
  } catch (const FileError&) {
    throw KvoError(kBackupFailedText);
  }
}

}  // namespace kvo
