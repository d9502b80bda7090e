#include "Commit.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <span>
#include <vector>

#include "Digest.h"
#include "Errors.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"

namespace kvo {

namespace {

using platform::FileError;
using platform::Files;

constexpr int kAttempts = 100;
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

const platform::FileIdentity& Expected(const Staged& staged) {
  return staged.expected ? *staged.expected : staged.input->Identity();
}

// The name must still stand for the very file that was read, unchanged: a
// program may have written to it or put another file there meanwhile, even
// one that put the file's time back (its change time shows that).
void CheckUnchanged(Files& files, Staged& staged) {
  std::optional<platform::FileIdentity> now;
  try {
    now = files.IdentityOf(staged.path);
  } catch (const FileError& e) {
    RollBack(files, staged);
    throw Failed(Failure::Read, platform::Reason(e));
  }
  if (!now || *now != Expected(staged)) {
    RollBack(files, staged);
    throw Failed(Failure::Changed);
  }
}

// The file's bytes still those the conversion read, where its identity
// cannot show an edit that put the time back: read once more, through the
// run's own lock.
void CheckSameBytes(Files& files, Staged& staged) {
  if (!staged.readDigest) return;
  Digest now;
  try {
    staged.input->Rewind();
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    while (const std::size_t n = staged.input->Read(buffer)) now.Add(std::span(buffer).first(n));
  } catch (const FileError& e) {
    RollBack(files, staged);
    throw Failed(Failure::Read, platform::Reason(e));
  }
  if (now.Value() != *staged.readDigest) {
    RollBack(files, staged);
    throw Failed(Failure::Changed);
  }
}

// Why a new name could not be made, in words a user can act on where the
// system's reason is a plain one.
std::string CreateReason(const FileError& e) {
  return e.problem() == platform::Problem::NoAccess ? kFolderNotWritableDetail
                                                    : platform::Reason(e);
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
      if (!taken || attempt + 1 == kAttempts) throw Failed(Failure::Backup, CreateReason(e));
    }
  }
}

// A flushed copy of from beside path under a temporary name, with from's
// permissions and times; returns that name.
std::string CopyBeside(Files& files, platform::InputFile& from, const std::string& path,
                       std::string_view ending) {
  std::string copy;
  auto out = CreateBeside(files, path, ending, copy);
  try {
    from.Rewind();
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    std::uint64_t copied = 0;
    while (const std::size_t n = from.Read(buffer)) {
      out->Write(std::span(buffer).first(n));
      copied += n;
    }
    if (copied != from.Identity().size) throw Failed(Failure::Changed);
    out->Complete(from);
    out->KeepTimes(from);
    platform::OutputFile* const flushed[] = {out.get()};
    files.SyncFiles(flushed);
    out->Close();
  } catch (...) {
    out.reset();
    RemoveQuietly(files, copy);
    throw;
  }
  return copy;
}

// A second name of from beside path under a temporary name, or nothing
// where the file system has no hard links.
std::optional<std::string> LinkBeside(Files& files, const std::string& from,
                                      const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    const std::string name = BesidePath(path, attempt, kTemporaryEnding);
    try {
      if (!files.LinkNoReplace(from, name)) return std::nullopt;
      return name;
    } catch (const FileError&) {
      if (!files.IdentityOf(name) || attempt + 1 == kAttempts) throw;
    }
  }
}

// Where there are no hard links: a copy of the original, flushed under a
// temporary name and then given the backup name without replacing anything.
// Returns what now has that name.
platform::FileIdentity CopyToBackup(Files& files, Staged& staged, UserInterface& ui) {
  const std::string copy = CopyBeside(files, *staged.input, staged.path, kBackupEnding);
  try {
    ui.Reached(Step::Backup, staged.path);
    files.RenameNoReplace(copy, staged.backup);
  } catch (...) {
    RemoveQuietly(files, copy);
    throw;
  }
  const auto made = files.IdentityOf(staged.backup);
  if (!made) throw Failed(Failure::Backup, staged.backup);
  return *made;
}

// Puts the file at replacement in place of path in one step, where the
// system can swap two names: then what was displaced must be exactly
// expected, or the swap is undone and the run reports a change, so that a
// program's last-moment write or save is never destroyed. (The swap itself
// changes the displaced file's change time; the caller's recheck just
// before compared that.) Elsewhere a rename replaces path, and the caller's
// recheck just before is all there is. The file open as held is closed
// before a rename: FUSE hides an open file under another name instead of
// letting it go.
//
// Throws FileError when nothing has changed. Throws Failed(Failure::Changed)
// when the swap was undone; if even that failed, the names stay swapped,
// stuck says so and the detail says where the changed file now is.
// Returns the lock taken on the replacement where it was renamed, which
// now holds path for the caller.
std::unique_ptr<platform::InputFile> Replace(Files& files, const std::string& replacement,
                                             const std::string& path,
                                             const platform::FileIdentity& expected,
                                             std::unique_ptr<platform::InputFile>& held,
                                             bool& stuck, UserInterface& ui) {
  stuck = false;
  ui.Reached(Step::Last, path);
  if (files.Exchange(replacement, path)) {
    const auto displaced = files.IdentityOf(replacement);
    if (!displaced || !displaced->SameBytes(expected)) {
      try {
        files.Exchange(replacement, path);
      } catch (const FileError&) {
        stuck = true;
        throw Failed(Failure::Changed,
                     "die veränderte Datei steht nun unter " + platform::NameOf(replacement));
      }
      throw Failed(Failure::Changed);
    }
    RemoveQuietly(files, replacement);  // a leftover is cleared by the next run
    return nullptr;
  }
  // The replacement stays held while the file goes, so that another run
  // that opens the file meanwhile takes it for work in progress, not for a
  // leftover to clear away. (Undo's second name of a backup is held already.)
  std::unique_ptr<platform::InputFile> keep;
  if (held) {
    try {
      keep = files.OpenRead(replacement);
    } catch (const FileError&) {
    }
    try {
      held->Close();
    } catch (const FileError&) {
    }
    held.reset();
  }
  files.RenameReplace(replacement, path);
  return keep;
}

}  // namespace

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
    if (!file || !other) return false;
    if (file->SameFile(*other)) return true;
    // FUSE may number one file differently under each spelling: where the
    // backup's spelling is no entry of its own, the folder found the file
    // itself under it.
    for (const platform::FolderEntry& entry : files.List(platform::FolderOf(path))) {
      if (entry.name == backupName) return false;
    }
    return true;
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
      const auto now = files.IdentityOf(staged.backup);
      // A second name of the original is this run's as long as the file is
      // as it was: a rename of one of its names changes its change time.
      bool ours = staged.backupLinked ? now && now->SameBytes(*staged.backupMade)
                                      : now == staged.backupMade;
      if (!ours && staged.backupLinked && now && now->SameFile(*staged.backupMade)) {
        // A second name of the original that a program wrote to meanwhile
        // goes too, while the file still has its own name: an editor that
        // writes in place would change the "backup" as well.
        const auto file = files.IdentityOf(staged.path);
        ours = file && file->SameFile(*now);
      }
      if (ours) files.Remove(staged.backup);
      if (relocked) relocked->Close();
    } catch (const FileError&) {
      // The original is whole under its name; the next run recognises the
      // backup as the original's and finishes the job.
    }
    staged.backupMade.reset();
  }
  Abandon(files, staged);
}

void MakeBackup(Files& files, Staged& staged, UserInterface& ui) {
  CheckUnchanged(files, staged);
  if (staged.resumed) return;
  try {
    if (files.LinkNoReplace(staged.path, staged.backup)) {
      staged.backupMade = staged.input->Identity();
      staged.backupLinked = true;
      // The second name changed the file's change time, and nothing else may
      // have changed: from here on the file is expected as it is now. (An
      // edit that puts the time back could only pass unseen in the moment
      // between the check above and the link.)
      const auto now = files.IdentityOf(staged.backup);
      if (!now || !now->SameBytes(staged.input->Identity())) {
        RollBack(files, staged);
        throw Failed(Failure::Changed);
      }
      staged.backupMade = staged.expected = *now;
    } else {
      staged.backupMade = CopyToBackup(files, staged, ui);
    }
  } catch (const FileError& e) {
    Abandon(files, staged);
    // Another program took the name meanwhile: said as if it had been there.
    bool taken = false;
    try {
      taken = !staged.backupMade && files.IdentityOf(staged.backup);
    } catch (const FileError&) {
    }
    if (taken)
      throw Failed(Failure::BackupTaken, BackupExistsDetail(platform::NameOf(staged.backup)));
    throw Failed(Failure::Backup, platform::Reason(e));
  } catch (const KvoError&) {
    Abandon(files, staged);
    throw;
  }
}

void PutInPlace(Files& files, Staged& staged, UserInterface& ui) {
  ui.Reached(Step::Replace, staged.path);
  // A program may have written to the file while its backup was made.
  CheckUnchanged(files, staged);
  CheckSameBytes(files, staged);
  const platform::FileIdentity original = Expected(staged);
  // Windows replaces no open file: there the lock goes just before the file
  // changes names, and a rollback takes the lock again before it removes
  // the backup.
  if (!files.RenamesOpenFiles()) ReleaseInput(staged);
  bool stuck = false;
  try {
    Replace(files, staged.temporary, staged.path, original, staged.input, stuck, ui);
  } catch (const FileError& e) {
    RollBack(files, staged);
    throw Failed(Failure::Output, platform::Reason(e));
  } catch (const KvoError&) {
    if (stuck) {
      // Every name holds something to keep: the new file, the original's
      // backup, and what the other program wrote.
      staged.temporary.clear();
      staged.backupMade.reset();
    }
    RollBack(files, staged);
    throw;
  }
  staged.temporary.clear();
  staged.backupMade.reset();
  ReleaseInput(staged);
}

void PutBack(Files& files, Staged& staged, UserInterface& ui) {
  const platform::FileIdentity file = staged.input->Identity();
  platform::FileIdentity backup = staged.restoring->Identity();
  // Windows renames no open file: there the locks go first, and the backup
  // itself takes the name, as NTFS renames in one step.
  const bool windows = !files.RenamesOpenFiles();
  if (windows) {
    ReleaseInput(staged);
    staged.restoring.reset();  // only read: its close cannot lose anything
  }
  std::string twin;
  bool linked = false;
  try {
    if (!windows) {
      if (const auto link = LinkBeside(files, staged.backup, staged.path)) {
        twin = *link;
        linked = true;
        // The second name changed the backup's change time, and only that.
        const auto now = files.IdentityOf(twin);
        if (!now || !now->SameBytes(backup)) {
          throw Failed(Failure::ChangedWhileUndone, kChangedWhileUndoneDetail);
        }
        backup = *now;
      } else {
        twin = CopyBeside(files, *staged.restoring, staged.path, kTemporaryEnding);
      }
    }
    ui.Reached(Step::PutBack, staged.path);
    // Both still the very files that were compared.
    const auto fileNow = files.IdentityOf(staged.path);
    const auto backupNow = files.IdentityOf(staged.backup);
    if (!fileNow || *fileNow != file || !backupNow || *backupNow != backup) {
      throw Failed(Failure::ChangedWhileUndone, kChangedWhileUndoneDetail);
    }
    if (windows) {
      ui.Reached(Step::Last, staged.path);
      files.RenameReplace(staged.backup, staged.path);
    } else {
      bool stuck = false;
      try {
        staged.holding = Replace(files, twin, staged.path, file, staged.input, stuck, ui);
      } catch (const KvoError&) {
        if (stuck) twin.clear();  // holds the changed file now
        throw;
      }
      twin.clear();
      staged.backupToDrop = backup;
    }
  } catch (const FileError& e) {
    if (!twin.empty()) RemoveQuietly(files, twin);
    throw Failed(Failure::NotUndone, platform::Reason(e));
  } catch (const KvoError& e) {
    if (!twin.empty()) RemoveQuietly(files, twin);
    if (e.kind() == Failure::Changed) {
      throw Failed(Failure::ChangedWhileUndone,
                   e.detail().empty() ? kChangedWhileUndoneDetail : e.detail());
    }
    throw;
  }
  // Only read. Where its second name took the file's name, its lock is the
  // name's, kept until the backup is gone (as the copy's is in holding): a
  // conversion starting sooner would take the backup for its own.
  if (!linked) staged.restoring.reset();
}

void DropBackup(Files& files, Staged& staged) {
  if (!staged.backupToDrop) return;
  try {
    const auto now = files.IdentityOf(staged.backup);
    bool ours = now == staged.backupToDrop;
    if (!ours && now && now->SameBytes(*staged.backupToDrop)) {
      // Its second name took the file's name, which changed its change
      // time: both names are one file, and this one goes without a loss.
      const auto file = files.IdentityOf(staged.path);
      ours = file && file->SameFile(*now);
    }
    if (ours) files.Remove(staged.backup);
  } catch (const FileError&) {
    // Left as the original's twin: status names it, the next undo removes it.
  }
  staged.backupToDrop.reset();
}

void RestoreAlone(Files& files, Staged& staged) {
  const platform::FileIdentity backup = staged.restoring->Identity();
  if (!files.RenamesOpenFiles()) staged.restoring.reset();
  try {
    const auto now = files.IdentityOf(staged.backup);
    if (!now || *now != backup)
      throw Failed(Failure::ChangedWhileUndone, kChangedWhileUndoneDetail);
    files.RenameNoReplace(staged.backup, staged.path);
  } catch (const FileError& e) {
    throw Failed(Failure::NotUndone, platform::Reason(e));
  }
  staged.restoring.reset();
}

void SyncFolder(Files& files, const std::string& folder) {
  try {
    files.SyncFolder(folder);
  } catch (const FileError& e) {
    throw KvoError(kFolderNotSyncedText, platform::Reason(e));
  }
}

void CheckReplaceable(Files& files, const Staged& staged) {
  try {
    files.CheckReplaceable(staged.path);
  } catch (const FileError& e) {
    throw Failed(Failure::Output, platform::Reason(e));
  }
}

void CheckCommittable(Files& files, const Staged& staged, std::uint64_t newSize) {
  try {
    if (!staged.resumed) files.CheckCreatable(staged.backup);
    files.CheckCreatable(TemporaryPath(staged.path, 0));
  } catch (const FileError& e) {
    throw Failed(Failure::Backup, CreateReason(e));
  }
  CheckReplaceable(files, staged);
  const auto free = files.FreeBytes(platform::FolderOf(staged.path));
  if (free && *free < newSize) {
    throw Failed(Failure::Output, NoRoomDetail(newSize, *free));
  }
}

}  // namespace kvo
