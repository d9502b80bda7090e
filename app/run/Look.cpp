// Status and verify: where each file stands, read only, keeping no file
// from anyone. Undo starts the same way.
#include "Names.h"
#include "Operations.h"
#include "Paths.h"

namespace kvo::run {

// Status, verify and undo: where the file stands, and for undo the
// original staged to take its name back.
void Preparation::Look(FileResult& result, Staged& staged, const std::string& path,
                       std::unique_ptr<platform::FolderHold> folder,
                       std::unique_ptr<platform::InputFile> opened) {
  const std::string backup = BackupPath(path);
  const bool undo = options_.operation == Operation::Undo;
  // Undo clears the temporary files interrupted runs left, while it holds
  // the file and before it opens the backup, a second name of which may
  // be among them; one that another run holds means that run is at work.
  if (undo && opened && !leftovers_.RemoveFor(files_, path)) {
    Fail(result, Failure::NotUndone, kBusyDetail);
    return;
  }
  // Another run may have let go of the file for its rename just before
  // this one took it: then nothing of it is this run's to take or remove.
  if (undo && opened) {
    const Claim claim = ClaimFile(files_, path, *opened);
    if (claim != Claim::Ours) {
      Fail(result, claim == Claim::Busy ? Failure::NotUndone : Failure::ChangedWhileUndone,
           claim == Claim::Busy ? kBusyDetail : kChangedWhileUndoneDetail);
      return;
    }
  }
  // Undo changes only what it holds: a file it could not open is looked at,
  // to say why, and left as it is.
  const bool holds = undo && opened;
  const bool unlocked = opened && opened->Unlocked();
  Finding found;
  try {
    found = Examine(files_, path, backup, Tables(), std::move(opened), holds);
  } catch (const FileError&) {
    throw OutOfFiles{};  // the only one that escapes
  }
  if (undo && !holds) {
    found.backupIsTwin = false;
    // Held a moment ago by another run or program, and perhaps let go of
    // just now: not this run's to put back.
    if (found.standing == Standing::Converted) {
      found = {};
      found.standing = Standing::Busy;
      found.detail =
          Leftovers::AtWork(files_, path) ? kBusyDetail : ProblemText(platform::Problem::Locked);
    }
  }
  // The backup is held by this very run, which is giving it back to another
  // file: the two share one backup (two names of a file, each converted, or
  // two files whose backup name is one). A further undo finds it only under
  // a name of its own.
  if (undo && found.standing == Standing::Busy) {
    if (const auto other = PuttingBack(backup)) {
      found.detail = SharedBackupDetail(platform::NameOf(backup), platform::NameOf(*other),
                                        platform::NameOf(path), BackupPath(*other) != backup);
    }
  }
  // A backup without its file: looked at itself before a way back is
  // promised or taken.
  if (found.standing == Standing::BackupAlone) {
    PrepareAlone(result, staged, backup, path);
    return;
  }
  result.standing = found.standing;
  ui_.Reached(Step::Read, path);
  if (!undo) {
    // What was read without a lock is said as such.
    if (unlocked) found.detail += (found.detail.empty() ? "" : "; ") + std::string(kUnlockedDetail);
    Settle(result, Outcome::Examined, StandingText(found.standing, options_.operation),
           std::move(found.detail));
    return;
  }
  StageUndo(result, staged, path, std::move(folder), found);
}

}  // namespace kvo::run
