// Putting a new file in place of its original so that the original's name
// always holds one complete file, the original or the new one, and the
// original is never lost, whatever a kill or a power cut leaves.
//
// The new bytes go to a short temporary name beside the original and onto
// the disk. Then the backup name gets the original: as a second name (a
// hard link, which fails when the backup name is taken), or, where the file
// system has no hard links, as a flushed copy under a temporary name that is
// then renamed to the backup name without replacing anything. The folder is
// flushed, so that the backup is on the disk before anything else changes
// names. Then the new file takes the original's name in one step: where the
// system can, the two names are swapped and what the swap displaced is
// checked to be exactly the file that was read (or the swap is undone);
// elsewhere the name is checked once more and the new file renamed over it.
// The folder is flushed again.
//
// A run holds a lock on the original and on each file it creates until it
// is done with them: another run refuses a file that is held, and clears
// away only temporary files that no run holds.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "Files.h"
#include "NameSteps.h"
#include "UserInterface.h"

namespace kvo {

// A conversion under way, from its new file to its commit: however a step
// ends short of done, by a throw or a return, what it made is taken back,
// as a pending file of Go's renameio removes itself unless it was put in
// place.
class Pending {
 public:
  Pending(platform::Files& files, Staged& staged) : files_(files), staged_(staged) {}
  Pending(const Pending&) = delete;
  Pending& operator=(const Pending&) = delete;
  ~Pending();
  void Done() { done_ = true; }

 private:
  platform::Files& files_;
  Staged& staged_;
  bool done_ = false;
};

// Creates the temporary file: writes go there afterwards.
void CreateTemporary(platform::Files& files, Staged& staged);

// Removes the temporary file; the original was never touched. Quiet: it runs
// on paths that failed already, and a leftover is cleared by the next run.
void Abandon(platform::Files& files, Staged& staged);

// The first step of the commit, once the new file is flushed and closed:
// the backup name holds the original. Throws KvoError; then nothing has
// changed but the temporary file is gone. ui hears of Step::Backup.
void MakeBackup(platform::Files& files, Staged& staged, UserInterface& ui);

// The second step, once the backup is on the disk: the new file takes the
// original's name. It stays held, with the original, until the caller has
// the folder flushed and lets go of staged's files. Throws KvoError with a
// message that says what is on the disk afterwards. ui hears of
// Step::Replace and Step::Last.
void PutInPlace(platform::Files& files, Staged& staged, UserInterface& ui);

// Undoes MakeBackup and abandons the new file: for a commit stopped between
// its steps. Quiet, like Abandon.
void RollBack(platform::Files& files, Staged& staged);

// Undo's first step: once the file and its backup are checked to be the
// very files that were compared, the original goes back under the file's
// name in one step, while the backup keeps its own name: a second name of
// it (or, where there are no hard links, a flushed copy) replaces the file.
// The replaced file stays open in staged.input, for the caller to let go
// of. Throws KvoError; then nothing has changed. ui hears of Step::PutBack
// and Step::Last.
void PutBack(platform::Files& files, Staged& staged, UserInterface& ui);

// Undo's second step, once the folder is flushed: the backup goes, if it is
// still what was compared. Quiet: a backup left is the original's twin. The
// file's name stays locked until the caller lets go of staged's files.
void DropBackup(platform::Files& files, Staged& staged);

// A backup whose file is missing (a run ended on a disk where a rename over
// a name is not one step) goes back under the file's name, never replacing
// anything. Throws KvoError; then nothing has changed.
void RestoreAlone(platform::Files& files, Staged& staged);

// Whether the new file will be let take the original's name: asked before
// anything is made. Throws KvoError.
void CheckReplaceable(platform::Files& files, const Staged& staged);

// Whether the commit would be allowed to go ahead, without changing
// anything: the backup name free (or holding the original already), the
// folder able to take both new names, and room for a new file of newSize
// bytes. Throws KvoError.
void CheckCommittable(platform::Files& files, const Staged& staged, std::uint64_t newSize);

}  // namespace kvo
