// Undo's restore: the original back under the file's name in one step, then
// its backup gone; or a backup alone given back its file's name.
#include "Commit.h"

#include "Errors.h"
#include "Messages.h"
#include "NameSteps.h"
#include "Names.h"
#include "Paths.h"
#include "Standing.h"

namespace kvo {

using platform::FileError;
using platform::Files;

void PutBack(Files& files, Staged& staged, UserInterface& ui) {
  const platform::FileIdentity file = staged.input->Identity();
  platform::FileIdentity backup = staged.restoring->Identity();
  // Windows replaces no open file: there the file's lock goes first, and
  // the backup itself takes the name, as NTFS renames in one step. The
  // backup stays held through its rename, so that no other run takes it
  // meanwhile.
  const bool windows = !files.RenamesOpenFiles();
  if (windows) ReleaseInput(staged);
  TemporaryName twin(files);  // the backup's second name or copy, until it takes the name
  bool linked = false;
  bool changeTimeKept = true;  // as on every disk with second names
  try {
    if (!windows) {
      if (const auto link = LinkBeside(files, staged.backup, staged.path)) {
        twin.path() = *link;
        linked = true;
        // The second name changed the backup's change time, and only that.
        const auto now = files.IdentityOf(twin.path());
        if (!now || !now->SameBytes(backup)) {
          throw Failed(Failure::ChangedWhileUndone, kChangedWhileUndoneDetail);
        }
        backup = *now;
      } else {
        const std::uint64_t size = staged.restoring->Identity().size;
        CheckRoom(files, staged.path, size, Failure::NotUndone);
        try {
          twin.path() =
              CopyBeside(files, *staged.restoring, staged.path, kTemporaryEnding, &changeTimeKept);
        } catch (const FileError& e) {
          throw Failed(Failure::NotUndone, WriteReason(files, e, staged.path, size));
        }
      }
    }
    ui.Reached(Step::PutBack, staged.path);
    // Where the disk keeps no change time, the bytes too: the file's as read,
    // the backup's as copied (another program's file written over it in
    // place would otherwise go with it).
    if (!changeTimeKept) {
      CheckSameBytes(*staged.input, staged.readDigest);
      if (!SameBytes(*files.OpenToLook(twin.path()), *staged.restoring)) {
        throw Failed(Failure::ChangedWhileUndone, kChangedWhileUndoneDetail);
      }
    }
    // Both still the very files that were compared: asked last, so that a
    // file saved over either name while the bytes were read is seen too.
    const auto fileNow = files.IdentityOf(staged.path);
    const auto backupNow = files.IdentityOf(staged.backup);
    if (!fileNow || *fileNow != file || !backupNow || *backupNow != backup) {
      throw Failed(Failure::ChangedWhileUndone, kChangedWhileUndoneDetail);
    }
    ui.Reached(Step::Last, staged.path);
    if (windows) {
      RenameOver(files, staged.backup, staged.path, file);
    } else {
      // A copy is held from now until the backup is gone, as a second name
      // is through the backup's own lock.
      if (!linked) staged.holding = files.OpenRead(twin.path());
      bool stuck = false;
      try {
        Replace(files, twin.path(), staged.path, file, staged.input, stuck);
      } catch (const KvoError&) {
        if (stuck) twin.Keep();  // holds the changed file now
        throw;
      }
      twin.Keep();
      staged.backupToDrop = backup;
    }
  } catch (const FileError& e) {
    throw Failed(Failure::NotUndone, platform::Reason(e));
  } catch (const KvoError& e) {
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
  // Held through its rename (Windows too renames a file open so), so that
  // no other run takes it meanwhile.
  const platform::FileIdentity backup = staged.restoring->Identity();
  try {
    const auto now = files.IdentityOf(staged.backup);
    if (!now || *now != backup)
      throw Failed(Failure::ChangedWhileUndone, kChangedWhileUndoneDetail);
    files.RenameNoReplace(staged.backup, staged.path);
  } catch (const FileError& e) {
    throw Failed(Failure::NotUndone, platform::Reason(e));
  }
}

}  // namespace kvo
