// What runs leave beside a data file and what shows another run at work on
// it: a cut run's temporary files cleared, a run's held ones told apart, and
// whether a file this run has just locked is its own to change.
#include <iterator>
#include <optional>

#include "NameSteps.h"
#include "Names.h"
#include "Paths.h"

namespace kvo {

using platform::FileError;
using platform::Files;

namespace {

// Whether a run holds the file at path: a look is refused then.
bool Held(Files& files, const std::string& path) {
  try {
    files.OpenToLook(path);
    return false;
  } catch (const FileError& e) {
    return e.problem() == platform::Problem::Locked;
  }
}

}  // namespace

bool Leftovers::RemoveFor(Files& files, const std::string& path) {
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
  if (listed->second.empty()) return true;
  const std::string name = platform::NameOf(path);
  bool free = true;
  for (auto it = listed->second.begin(); it != listed->second.end();) {
    if (!IsTemporaryOf(*it, name)) {
      ++it;
      continue;
    }
    bool removed = false;
    try {
      removed = files.RemoveUnlessHeld(platform::JoinPath(folder, *it));
    } catch (const FileError&) {
      // Left as it is; a name still taken is skipped when creating.
    }
    free = free && removed;
    it = removed ? listed->second.erase(it) : std::next(it);
  }
  return free;
}

bool Leftovers::AnyFor(Files& files, const std::string& path) {
  const std::string name = platform::NameOf(path);
  try {
    for (const platform::FolderEntry& entry : files.List(platform::FolderOf(path))) {
      if (!entry.folder && IsTemporaryOf(entry.name, name)) return true;
    }
  } catch (const FileError&) {
  }
  return false;
}

bool Leftovers::HeldFor(Files& files, const std::string& path) {
  for (const std::string_view ending : {kTemporaryEnding, kBackupEnding}) {
    // A run's file has the first name that was free when it was made.
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::string name = BesidePath(path, attempt, ending);
      try {
        if (!files.IdentityOf(name)) break;
      } catch (const FileError&) {
        break;
      }
      if (Held(files, name)) return true;
    }
  }
  return false;
}

bool Leftovers::AtWork(Files& files, const std::string& path) {
  return Held(files, path) || HeldFor(files, path);
}

Claim ClaimFile(Files& files, const std::string& path, const platform::InputFile& in) {
  std::optional<platform::FileIdentity> now;
  try {
    now = files.IdentityOf(path);
  } catch (const FileError&) {
    return Claim::Busy;  // not to be told: nothing is changed
  }
  if (now && now->SameFile(in.Identity())) {
    return Leftovers::HeldFor(files, path) ? Claim::Busy : Claim::Ours;
  }
  // Another run's new file took the name (and is held until that is on the
  // disk), or another program put a file there.
  return Leftovers::AtWork(files, path) ? Claim::Busy : Claim::Moved;
}

}  // namespace kvo
