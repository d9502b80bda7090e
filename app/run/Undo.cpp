// Undo: a file that is exactly its backup's conversion staged to be put
// back, a backup alone staged to take its file's name; then the group's
// commit, and the replaced files let go of on a helper thread.
#include "Interrupts.h"
#include "Names.h"
#include "Operations.h"
#include "Paths.h"

namespace kvo::run {

// Undo of a file as Examine found it: a conversion of its backup is staged
// to be put back; whatever else it is, it says why not, or that there is
// nothing to undo.
void Preparation::StageUndo(FileResult& result, Staged& staged, const std::string& path,
                            std::unique_ptr<platform::FolderHold> folder, Finding& found) {
  const std::string backup = BackupPath(path);
  switch (found.standing) {
    case Standing::Converted:
      // Nothing is made where the names cannot be replaced and removed
      // (another user's files in a shared folder): a second name of the
      // backup made here could be neither used nor taken back.
      try {
        files_.CheckReplaceable(path);
        files_.CheckReplaceable(backup);
      } catch (const FileError& e) {
        Fail(result, Failure::NotUndone, platform::Reason(e));
        return;
      }
      staged = {};
      staged.folder = std::move(folder);
      staged.path = path;
      staged.backup = backup;
      staged.input = std::move(found.file);
      staged.readDigest = found.fileDigest;
      staged.restoring = std::move(found.backup);
      // A second name of the backup is its second name, not a failure.
      seen_[KeyOf(staged.restoring->Identity())] = {std::nullopt, backup, path, "1.0"};
      Settle(result, Outcome::Undone, kUndoneText);  // once its group is through
      return;
    case Standing::ToConvert:
    case Standing::Interrupted:  // the original is under its name
      Settle(result, Outcome::Examined, kNothingToUndoText);
      // A twin of the original under the backup name goes too.
      if (found.backupIsTwin && found.file && DropTwin(found, backup, path)) {
        result.detail = TwinDroppedDetail(platform::NameOf(backup));
      }
      return;
    case Standing::NotData:  // a note named *.dat: not ours to undo
      Settle(result, Outcome::Examined, kNotDataText);
      return;
    case Standing::Changed:
      Fail(result, Failure::NotUndone, std::string(kChangedSinceDetail) + found.detail);
      return;
    case Standing::NoBackup:
      Fail(result, Failure::NotUndone,
           found.detail.empty() ? MissingDetail(platform::NameOf(backup)) : found.detail);
      return;
    default:
      Settle(
          result, Outcome::Failed, ErrorBoxText(kNotUndoneText),
          found.detail.empty() ? StandingText(found.standing, options_.operation) : found.detail);
      return;
  }
}

// A backup whose data file is missing: undo puts it back under the name
// the file was asked for by (a backup found or named itself, as NAME.dat);
// everything else says so, with that way out. Only where the backup is a
// version 1.0 file, one undo would take back: anything else (a note, a
// link, a file of another version) is said as what it is.
void Preparation::PrepareAlone(FileResult& result, Staged& staged, const std::string& backup,
                               std::string path) {
  if (path.empty()) path = DataPathOf(backup);
  const std::string name = platform::NameOf(backup);
  const bool undo = options_.operation == Operation::Undo && !options_.checkOnly;
  const auto say = [&](Standing standing, const char* text, std::string detail) {
    result.standing = standing;
    Settle(result, Outcome::Examined, text, std::move(detail));
  };
  staged = {};
  Version version = Version::Other;
  try {
    staged.folder = files_.HoldFolder(platform::FolderOf(backup));
    staged.restoring = undo ? files_.OpenRead(backup) : files_.OpenToLook(backup);
    Header header{};
    version = VersionOf(std::span(header).first(ReadFully(*staged.restoring, header)));
  } catch (const FileError& e) {
    staged = {};
    if (e.problem() == platform::Problem::TooManyOpen) throw OutOfFiles{};
    if (e.problem() == platform::Problem::NotRegular || e.problem() == platform::Problem::Folder) {
      return say(Standing::NotData, kNotDataText, ProblemText(e.problem()));
    }
    const std::string why =
        e.problem() == platform::Problem::Locked && Leftovers::AtWork(files_, backup)
            ? kBusyDetail
            : name + ": " + ProblemText(e.problem());
    if (undo) return Fail(result, Failure::NotUndone, why);
    return say(e.problem() == platform::Problem::Locked ? Standing::Busy : Standing::Damaged,
               e.problem() == platform::Problem::Locked ? kBusyText : kDamagedText, why);
  }
  if (version == Version::Other) {
    staged = {};
    return say(Standing::NotData, kNotDataText, "");
  }
  if (version != Version::V10) {
    staged = {};
    if (undo) return Fail(result, Failure::NotUndone, NotOriginalDetail(name));
    return say(Standing::BackupAlone, kBackupAloneText,
               MissingDetail(platform::NameOf(path)) + "; " + NotOriginalDetail(name));
  }
  if (!undo) {
    staged = {};
    return say(Standing::BackupAlone, kBackupAloneText, BackupAloneDetail(path, name));
  }
  result.standing = Standing::BackupAlone;
  staged.path = path;
  staged.backup = backup;
  // A second name of it elsewhere in this run is this file, taken back.
  seen_[KeyOf(staged.restoring->Identity())] = {std::nullopt, backup, path, "1.0"};
  // What the run that lost the file's name left beside it goes too,
  // unless a run holds it.
  if (!leftovers_.RemoveFor(files_, path)) {
    staged = {};
    Fail(result, Failure::NotUndone, kBusyDetail);
    return;
  }
  Settle(result, Outcome::Undone, kUndoneText,
         platform::NameOf(path) + " aus " + name + " wiederhergestellt");
}

// Removes a backup that holds the original's very bytes, beside the
// original under its own name: the end an interrupted undo was making for.
bool Preparation::DropTwin(const Finding& found, const std::string& backup,
                           const std::string& path) {
  try {
    const platform::FileIdentity expected =
        found.backup ? found.backup->Identity() : found.file->Identity();
    if (files_.IdentityOf(backup) != expected) return false;
    // The file's name still leads to the original this run holds: only then
    // does the twin keep nothing the name does not.
    const auto file = files_.IdentityOf(path);
    if (!file || !file->SameFile(found.file->Identity())) return false;
    files_.Remove(backup);
    files_.SyncFolder(platform::FolderOf(backup));
    return true;
  } catch (const FileError&) {
    return false;  // left as it was: the original is whole under its name
  }
}

// Undo's commit: each original back under its name (or a backup alone under
// its file's), each folder flushed once; then the backups go, and each
// folder is flushed once more. A signal that came before stops the whole
// group unchanged.
void RestoreGroup(Files& files, std::vector<Member>& group, std::vector<FileResult>& results,
                  Releaser& releaser, UserInterface& ui) {
  if (platform::InterruptSignal() != 0) {
    for (Member& m : group) Settle(results[m.index], Outcome::Interrupted, kInterruptedText);
    return;
  }
  const auto folders = StepByFolder(group, results, [&](Staged& staged) {
    if (staged.input) {
      PutBack(files, staged, ui);
    } else {
      RestoreAlone(files, staged);
    }
  });
  for (const auto& [folder, members] : folders) {
    ConfirmFolder(files, folder, members, results, kUndoNotSyncedText);
    bool dropped = false;
    for (Member* m : members) {
      // Only once the original is on the disk under its name.
      if (results[m->index].outcome != Outcome::Undone || !m->staged.backupToDrop) continue;
      DropBackup(files, m->staged);
      dropped = true;
    }
    if (dropped) ConfirmFolder(files, folder, members, results, kUndoNotSyncedText);
  }
  // Only now, the backups gone and that on the disk, may another run open
  // the files.
  for (Member& m : group) {
    for (auto* held : {&m.staged.input, &m.staged.restoring, &m.staged.holding}) {
      if (*held) releaser.Add(std::move(*held));
    }
  }
}

}  // namespace kvo::run
