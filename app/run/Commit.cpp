// The conversion's commit: the backup made, the file checked once more, the
// new file put in its place; or all of it taken back.
#include "Commit.h"

#include <vector>

#include "Container.h"
#include "Errors.h"
#include "Interrupts.h"
#include "Messages.h"
#include "NameSteps.h"
#include "Names.h"
#include "Paths.h"

namespace kvo {

using platform::FileError;
using platform::Files;

namespace {

const platform::FileIdentity& Expected(const Staged& staged) {
  return staged.expected ? *staged.expected : staged.input->Identity();
}

// Whether another run converted the file in a moment this run let go of it
// (Windows lets go just before its rename): the name holds a version 1.1
// file, and the backup is now that run's, the original's only home.
bool TakenOver(Files& files, const Staged& staged) {
  const auto file = files.IdentityOf(staged.path);
  if (!file || file->SameFile(Expected(staged))) return false;
  Header header{};
  const auto in = files.OpenToLook(staged.path);
  return VersionOf(std::span(header).first(ReadFully(*in, header))) == Version::V11;
}

// The name must still stand for the very file that was read, unchanged: a
// program may have written to it or put another file there meanwhile, even
// one that put the file's time back (its change time shows that).
void CheckUnchanged(Files& files, Staged& staged) {
  std::optional<platform::FileIdentity> now;
  try {
    now = files.IdentityOf(staged.path);
  } catch (const FileError& e) {
    throw Failed(Failure::Read, platform::Reason(e));
  }
  if (!now || *now != Expected(staged)) throw Failed(Failure::Changed);
}

// Where there are no hard links: a copy of the original, flushed under a
// temporary name and then given the backup name without replacing anything.
// Returns what now has that name.
platform::FileIdentity CopyToBackup(Files& files, Staged& staged, UserInterface& ui) {
  TemporaryName copy(files, CopyBeside(files, *staged.input, staged.path, kBackupEnding));
  ui.Reached(Step::Backup, staged.path);
  files.RenameNoReplace(copy.path(), staged.backup);
  copy.Keep();
  const auto made = files.IdentityOf(staged.backup);
  if (!made) throw Failed(Failure::Backup, staged.backup);
  return *made;
}

}  // namespace

Pending::~Pending() {
  if (!done_) RollBack(files_, staged_);
}

void CreateTemporary(Files& files, Staged& staged) {
  std::string made;  // a name tried and refused is another's, never to be removed
  staged.output = CreateBeside(files, staged.path, kTemporaryEnding, made);
  staged.temporary = made;
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
      // (This run still holds its new file, or the original: no other run
      // is at work on the file meanwhile.)
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
      if (ours && TakenOver(files, staged)) ours = false;
      if (ours) files.Remove(staged.backup);
      if (relocked) relocked->Close();
    } catch (const FileError&) {
      // The original is whole under its name; the next run recognises the
      // backup as the original's and finishes the job.
    } catch (const platform::Interrupted&) {
      // So too where a signal ended the wait for a look at the backup.
    }
    staged.backupMade.reset();
  }
  Abandon(files, staged);
  staged.holding.reset();
}

void MakeBackup(Files& files, Staged& staged, UserInterface& ui) {
  Pending pending(files, staged);
  CheckUnchanged(files, staged);
  if (staged.resumed) return pending.Done();
  try {
    if (files.LinkNoReplace(staged.path, staged.backup)) {
      staged.backupMade = staged.input->Identity();
      staged.backupLinked = true;
      // The second name changed the file's change time, and nothing else may
      // have changed: from here on the file is expected as it is now. (An
      // edit that puts the time back could only pass unseen in the moment
      // between the check above and the link.)
      const auto now = files.IdentityOf(staged.backup);
      if (!now || !now->SameBytes(staged.input->Identity())) throw Failed(Failure::Changed);
      staged.backupMade = staged.expected = *now;
    } else {
      staged.backupMade = CopyToBackup(files, staged, ui);
    }
  } catch (const FileError& e) {
    // Another program took the name meanwhile: said as if it had been there.
    bool taken = false;
    try {
      taken = !staged.backupMade && files.IdentityOf(staged.backup);
    } catch (const FileError&) {
    }
    if (taken)
      throw Failed(Failure::BackupTaken, BackupExistsDetail(platform::NameOf(staged.backup)));
    throw Failed(Failure::Backup, WriteReason(files, e, staged.path, Expected(staged).size));
  }
  pending.Done();
}

void PutInPlace(Files& files, Staged& staged, UserInterface& ui) {
  Pending pending(files, staged);
  ui.Reached(Step::Replace, staged.path);
  // A program may have written to the file while its backup was made: its
  // bytes read once more where that must be (through the run's own handle),
  // and then, last, the name checked to lead to them, so that a file saved
  // over the name meanwhile is seen too.
  CheckSameBytes(*staged.input, staged.readDigest);
  CheckUnchanged(files, staged);
  const platform::FileIdentity original = Expected(staged);
  staged.expected = original;  // the lock on it may go before the rename
  ui.Reached(Step::Last, staged.path);
  bool stuck = false;
  try {
    // The new file is held from now until its name is on the disk: where the
    // original must be let go of before the rename, another run that takes
    // it meanwhile sees this one at work and keeps its hands off.
    staged.holding = files.OpenRead(staged.temporary);
    // Windows replaces no open file: there the lock goes just before the
    // file changes names, and a rollback takes the lock again before it
    // removes the backup.
    if (!files.RenamesOpenFiles()) ReleaseInput(staged);
    Replace(files, staged.temporary, staged.path, original, staged.input, stuck);
  } catch (const FileError& e) {
    throw Failed(Failure::Output, platform::Reason(e));
  } catch (const KvoError&) {
    if (stuck) {
      // Every name holds something to keep: the new file, the original's
      // backup, and what the other program wrote.
      staged.temporary.clear();
      staged.backupMade.reset();
    }
    throw;
  }
  staged.temporary.clear();
  staged.backupMade.reset();
  pending.Done();
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
