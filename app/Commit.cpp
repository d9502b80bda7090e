#include "Commit.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

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
// The backup's copy while it is written, where there are no hard links.
constexpr std::string_view kBackupEnding = ".old.tmp";
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
         NumberedName(candidate, ours, "-", kBackupEnding) ||
         NumberedName(candidate, name + std::string(kEarlierEnding), "", "");
}

void RemoveQuietly(Files& files, const std::string& path) {
  try {
    files.Remove(path);
  } catch (const FileError&) {
  }
}

void ReleaseInput(Staged& staged) {
  // Only read: its close cannot lose anything.
  if (!staged.input) return;
  try {
    staged.input->Close();
  } catch (const FileError&) {
  }
  staged.input.reset();
}

// The name must still stand for the very file that was read, unchanged: a
// program may have written to it or put another file there meanwhile.
void CheckUnchanged(Files& files, Staged& staged) {
  std::optional<platform::FileIdentity> now;
  try {
    now = files.IdentityOf(staged.path);
  } catch (const FileError& e) {
    RollBack(files, staged);
    throw KvoError(kReadFailedText, e.what());
  }
  if (!now || *now != staged.input->Identity()) {
    RollBack(files, staged);
    throw KvoError(kChangedText);
  }
}

// Why a new name could not be made, in words a user can act on where the
// system's reason is a plain one.
std::string CreateReason(const FileError& e) {
  return e.problem() == platform::Problem::NoAccess ? kFolderNotWritableDetail : e.what();
}

// A short name beside path, tied to path's name: the prefix, the name's tag,
// the attempt's number after the first, and the ending.
std::string BesidePath(const std::string& path, int attempt, std::string_view ending) {
  return platform::JoinPath(platform::FolderOf(path),
                            std::string(kTemporaryPrefix) + NameTag(platform::NameOf(path)) +
                                (attempt == 0 ? "" : "-" + std::to_string(attempt)) +
                                std::string(ending));
}

// Creates a file beside path under a temporary name with the given ending,
// trying the next number while a name is taken by something that is not
// ours to clear away.
std::unique_ptr<platform::OutputFile> CreateBeside(Files& files, const std::string& path,
                                                   std::string_view ending, std::string& chosen) {
  for (int attempt = 0;; ++attempt) {
    chosen = BesidePath(path, attempt, ending);
    try {
      return files.CreateNew(chosen);
    } catch (const FileError& e) {
      // Otherwise nothing new can be named in this folder, and so neither
      // can a backup.
      const bool taken = files.IdentityOf(chosen).has_value();
      if (!taken || attempt + 1 == kAttempts) throw KvoError(kBackupFailedText, CreateReason(e));
    }
  }
}

// Where there are no hard links: a copy of the original, with its
// permissions and times, flushed under a temporary name and then given the
// backup name without replacing anything. Returns what now has that name.
platform::FileIdentity CopyToBackup(Files& files, Staged& staged) {
  std::string copy;
  auto out = CreateBeside(files, staged.path, kBackupEnding, copy);
  try {
    platform::InputFile& in = *staged.input;
    in.Rewind();
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    std::uint64_t copied = 0;
    while (const std::size_t n = in.Read(buffer)) {
      out->Write(std::span(buffer).first(n));
      copied += n;
    }
    if (copied != in.Identity().size) throw KvoError(kChangedText);
    out->Complete(in);
    out->KeepTimes(in);
    platform::OutputFile* const flushed[] = {out.get()};
    files.SyncFiles(flushed);
    out->Close();
    out.reset();
    files.RenameNoReplace(copy, staged.backup);
  } catch (...) {
    out.reset();
    RemoveQuietly(files, copy);
    throw;
  }
  const auto made = files.IdentityOf(staged.backup);
  if (!made) throw KvoError(kBackupFailedText, staged.backup);
  return *made;
}

}  // namespace

std::string TemporaryPath(const std::string& path, int attempt) {
  return BesidePath(path, attempt, kTemporaryEnding);
}

bool IsOwnBackup(Files& files, const std::string& path, const std::string& backup) {
  if (path == backup) return true;
  // Names that differ in case only ("Sued.OLD"): the same name wherever the
  // folder finds the file itself under the backup name.
  const std::string name = platform::NameOf(path), backupName = platform::NameOf(backup);
  const auto lower = [](unsigned char c) { return std::tolower(c); };
  if (!std::ranges::equal(name, backupName, {}, lower, lower)) return false;
  try {
    const auto file = files.IdentityOf(path);
    const auto other = files.IdentityOf(backup);
    return file && other && file->SameFile(*other);
  } catch (const FileError&) {
    return true;  // when in doubt, the original is not touched
  }
}

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

void CreateTemporary(Files& files, Staged& staged) {
  staged.output = CreateBeside(files, staged.path, kTemporaryEnding, staged.temporary);
}

void Abandon(Files& files, Staged& staged) {
  staged.output.reset();
  if (!staged.temporary.empty()) RemoveQuietly(files, staged.temporary);
  staged.temporary.clear();
}

void RollBack(Files& files, Staged& staged) {
  if (staged.backupMade) {
    // Taken back only while it is still what this run made and no other run
    // holds the original: that run may count on the backup.
    try {
      std::unique_ptr<platform::InputFile> relocked;
      if (!staged.input) relocked = files.OpenRead(staged.backup);
      if (files.IdentityOf(staged.backup) == staged.backupMade) files.Remove(staged.backup);
      if (relocked) relocked->Close();
    } catch (const FileError&) {
      // The original is whole under its name; the next run recognises the
      // backup as the original's and finishes the job.
    }
    staged.backupMade.reset();
  }
  Abandon(files, staged);
}

void MakeBackup(Files& files, Staged& staged) {
  CheckUnchanged(files, staged);
  if (staged.resumed) return;
  try {
    if (files.LinkNoReplace(staged.path, staged.backup)) {
      staged.backupMade = staged.input->Identity();
    } else {
      staged.backupMade = CopyToBackup(files, staged);
    }
  } catch (const FileError& e) {
    Abandon(files, staged);
    throw KvoError(kBackupFailedText, e.what());
  } catch (const KvoError&) {
    Abandon(files, staged);
    throw;
  }
}

void PutInPlace(Files& files, Staged& staged) {
  // A program may have written to the file while its backup was made.
  CheckUnchanged(files, staged);
  // Windows replaces no open file: there the lock goes just before the file
  // changes names, and a rollback takes the lock again before it removes
  // the backup.
  if (!files.RenamesOpenFiles()) ReleaseInput(staged);
  try {
    files.RenameReplace(staged.temporary, staged.path);
  } catch (const FileError& e) {
    RollBack(files, staged);
    throw KvoError(kOutputFailedText, e.what());
  }
  staged.temporary.clear();
  staged.backupMade.reset();
  ReleaseInput(staged);
}

void PutBack(Files& files, Staged& staged) {
  const platform::FileIdentity file = staged.input->Identity();
  const platform::FileIdentity backup = staged.restoring->Identity();
  // Windows renames no open file: there the locks go just before.
  if (!files.RenamesOpenFiles()) {
    ReleaseInput(staged);
    staged.restoring.reset();  // only read: its close cannot lose anything
  }
  try {
    // Both still the very files that were compared.
    const auto fileNow = files.IdentityOf(staged.path);
    const auto backupNow = files.IdentityOf(staged.backup);
    if (!fileNow || *fileNow != file || !backupNow || *backupNow != backup) {
      throw KvoError(kNotUndoneText, kChangedWhileUndoneDetail);
    }
    files.RenameReplace(staged.backup, staged.path);
  } catch (const FileError& e) {
    throw KvoError(kNotUndoneText, e.what());
  }
  staged.restoring.reset();  // only read, and now under the name again
}

void SyncFolder(Files& files, const std::string& folder) {
  try {
    files.SyncFolder(folder);
  } catch (const FileError& e) {
    throw KvoError(kFolderNotSyncedText, e.what());
  }
}

void CheckCommittable(Files& files, const Staged& staged, std::uint64_t newSize) {
  try {
    if (!staged.resumed) files.CheckCreatable(staged.backup);
    files.CheckCreatable(TemporaryPath(staged.path, 0));
  } catch (const FileError& e) {
    throw KvoError(kBackupFailedText, CreateReason(e));
  }
  const auto free = files.FreeBytes(platform::FolderOf(staged.path));
  if (free && *free < newSize) {
    throw KvoError(kOutputFailedText, NoRoomDetail(newSize, *free));
  }
}

}  // namespace kvo
