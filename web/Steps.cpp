// What the page does next with a file, and what the browser's answer to it
// means: the steps' order and their clean-up decided here, once; and which
// file of the run takes a backup name, where several files are under way.
#include <algorithm>
#include <span>
#include <string>

#include "Core.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"

using namespace kvo;
using namespace kvo::web;

namespace {

// The file before r in the run that takes r's backup name (x.dat before
// x.DAT where names keep their case): its name. Only a file whose job
// begins takes one, whatever its version turns out to be.
std::optional<std::string> BackupClaimedBefore(const FileResult& r) {
  const FileResult& first = ResultAt(static_cast<int>(TheRun().backups.at(BackupPath(r.path))));
  if (first.path == r.path) return std::nullopt;
  return platform::NameOf(first.path);
}

// The file at index, whose job will not begin: it takes no backup name.
FileResult& Unclaimed(int index) {
  auto& backups = TheRun().backups;
  FileResult& r = ResultAt(index);
  if (const auto it = backups.find(BackupPath(r.path));
      it != backups.end() && it->second == static_cast<std::size_t>(index)) {
    backups.erase(it);
  }
  return r;
}

// Where a failed file's clean-up begins: the copy goes first, then the
// backup, while it still holds the original's bytes.
void Fail(Plan& p, FileResult& r, Failure kind, const std::string& reason) {
  p.failed = true;
  p.at = p.copy ? Action::Drop : p.named ? Action::Compare : Action::Done;
  p.same = true;
  Befell(r, kind, reason);
}

// Once the file is converted (or, for undo, compared), the steps on the disk
// begin.
Action AfterConversion(const Plan& p, Outcome outcome) {
  switch (outcome) {
    case Outcome::Converted:
      return p.resumed ? Action::Write : Action::Stage;
    case Outcome::Convertible:
      return Action::Keep;
    case Outcome::Undone:
      return Action::Pass;
    default:
      return Action::Done;
  }
}

void Did(Plan& p, FileResult& r, int answer, const std::string& reason) {
  const auto fail = [&](Failure kind) { Fail(p, r, kind, reason); };
  const bool undo = r.operation == Operation::Undo;
  switch (p.at) {
    case Action::Look:
      if ((answer & kRefused) != 0) return fail(undo ? Failure::NotUndone : Failure::Read);
      if (undo && (answer & kTaken) == 0) return fail(Failure::NoBackup);
      // Files side by side: the one before would take the backup's name
      // while this one is made.
      if (const auto first = undo ? std::nullopt : BackupClaimedBefore(r)) {
        return Fail(p, r, Failure::Backup,
                    BackupTakenDetail(platform::NameOf(BackupPath(r.path)), *first));
      }
      p.backupTaken = (answer & kFolder) != 0;
      p.at = !undo && (answer & kTaken) != 0 ? Action::Compare : Action::Convert;
      return;
    case Action::Compare:
      if (p.failed) {  // taking back: only a backup that holds the original's bytes goes
        p.named = false;
        p.at = p.same && answer == 0 ? Action::Remove : Action::Done;
        return;
      }
      // A backup that holds these very bytes is one a run made before it was
      // cut short; any other file of that name is refused.
      p.resumed = p.same && answer == 0;
      p.backupTaken = !p.resumed;
      p.at = Action::Convert;
      return;
    case Action::Convert:
      if ((answer & kCancelled) != 0) return fail(Failure::Interrupted);
      // A file changed since it was read can no longer be read as it was.
      if ((answer & kChanged) != 0) return fail(Failure::Changed);
      if ((answer & kRefused) != 0) return fail(Failure::Read);
      if ((answer & kOtherRefused) != 0) return fail(undo ? Failure::NotUndone : Failure::Output);
      p.at = AfterConversion(p, r.outcome);
      return;
    case Action::Stage:
      p.copy = true;  // whatever part of it was made goes, should the file fail
      if ((answer & kRefused) != 0) return fail(Failure::Output);
      if ((answer & kChanged) != 0) return fail(Failure::Changed);
      if ((answer & kOtherRefused) != 0) return fail(Failure::Backup);
      p.at = Action::Turn;
      return;
    case Action::Write:
      if (answer != 0) return fail(Failure::Output);
      p.at = Action::Turn;
      return;
    case Action::Turn:
      if (answer != 0) return fail(Failure::NotBegun);
      p.at = Action::Pass;
      return;
    case Action::Pass:
      p.at = p.copy ? Action::Name : Action::Check;
      return;
    case Action::Name:
      if (answer != 0) return fail((answer & kTaken) != 0 ? Failure::BackupTaken : Failure::Backup);
      p.copy = false;
      p.named = true;
      p.at = Action::Check;
      return;
    case Action::Check:
      if ((answer & kRefused) != 0) answer |= kChanged | kBackupChanged;  // not seen as it was
      if (!undo) {
        if ((answer & kChanged) != 0) return fail(Failure::Changed);
        p.at = Action::Close;
        return;
      }
      // Undo checks the file and its backup before the backup's bytes go
      // back, the file once more before they take its name, and the backup
      // after: it goes only while it is what was compared.
      ++p.checks;
      if (p.checks == 3) {
        p.at = (answer & kBackupChanged) != 0 ? Action::Done : Action::Remove;
        return;
      }
      if ((answer & (p.checks == 1 ? kChanged | kBackupChanged : kChanged)) != 0) {
        return fail(Failure::ChangedWhileUndone);
      }
      p.at = p.checks == 1 ? Action::Restore : Action::Close;
      return;
    case Action::Restore:
      if ((answer & kBackupChanged) != 0) return fail(Failure::ChangedWhileUndone);
      if (answer != 0) return fail(Failure::NotUndone);
      p.at = Action::Check;
      return;
    case Action::Close:
      if (answer != 0) return fail(undo ? Failure::NotUndone : Failure::Output);
      p.named = false;  // the backup now holds the only copy of the original
      p.at = undo ? Action::Check : Action::Done;
      return;
    case Action::Drop:
      p.copy = false;
      p.at = p.named ? Action::Compare : Action::Done;
      return;
    default:
      p.at = Action::Done;
      return;
  }
}

// The named moment an action is at, where the tests act.
std::optional<Step> PointOf(const Plan& p, bool undo) {
  switch (p.at) {
    case Action::Pass:
      return Step::Read;
    case Action::Name:
      return Step::Backup;
    case Action::Check:
      if (!undo) return Step::Replace;
      if (p.checks < 2) return p.checks == 0 ? Step::PutBack : Step::Last;
      return std::nullopt;
    case Action::Close:
      if (!undo) return Step::Last;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace

extern "C" {

// What the page does next with the job's file: an Action by its number.
int kvo_next(int job) {
  Plan& p = PlanOf(job);
  // Settled before its job began: another name of a file before it, a backup.
  if (p.at == Action::Look && ResultOf(job).outcome != Outcome::NotReached) p.at = Action::Done;
  if (p.at == Action::Look && TheRun().download) p.at = Action::Convert;
  return static_cast<int>(p.at);
}
// The named moment the next action is at ("" for none).
const char* kvo_point(int job) {
  const auto point = PointOf(PlanOf(job), ResultOf(job).operation == Operation::Undo);
  return point ? kStepNames[static_cast<int>(*point)] : "";
}
// What the browser answered to it: Answer flags, and the name of its error
// (null for none).
void kvo_did(int job, int answer, const char* error) {
  Did(PlanOf(job), ResultOf(job), answer, error && *error != '\0' ? BrowserReason(error) : "");
}

// The file at index is the very file at first, met before under another
// name: no job of it begins.
void kvo_same_as(int index, int first) {
  Settle(Unclaimed(index), Outcome::SameFile, SameFileText(ResultAt(first).path));
}

// The file at index is a folder the browser may not list.
void kvo_unlisted(int index) {
  FileResult& r = Unclaimed(index);
  Settle(r, Outcome::NotOpened, kWrongVersionText);
  r.openProblem = platform::Problem::Folder;
}

// Compare: room for a piece of each file, size bytes apiece, for the page to
// fill (the backup's first, then the file's); kvo_paired compares what it
// put there and says whether to go on.
std::uint8_t* kvo_pair(int job, int size) {
  std::vector<std::uint8_t>& pair = PairOf(job);
  pair.resize(2 * static_cast<std::size_t>(std::max(size, 1)));
  return pair.data();
}
int kvo_paired(int job, int backup, int file) {
  Plan& p = PlanOf(job);
  const std::span<const std::uint8_t> pair = PairOf(job);
  const std::size_t half = pair.size() / 2;
  const auto mine = pair.first(static_cast<std::size_t>(backup));
  const auto theirs = pair.subspan(half, static_cast<std::size_t>(file));
  p.same = p.same && std::equal(mine.begin(), mine.end(), theirs.begin(), theirs.end());
  return p.same ? 1 : 0;
}

}  // extern "C"
