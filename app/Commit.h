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
#include "UserInterface.h"

namespace kvo {

// A converted file written beside its original, not yet in its place.
struct Staged {
  // The original's folder, followed wherever it is moved during the run.
  std::unique_ptr<platform::FolderHold> folder;
  std::string path;                            // the original, links followed
  std::string backup;                          // path with the ending .old
  std::string temporary;                       // where the new bytes are
  std::unique_ptr<platform::InputFile> input;  // open and locked until the commit
  // The original as its name must still show it, where that is no longer
  // input's identity: the backup's second name changed its change time.
  std::optional<platform::FileIdentity> expected;
  // The fingerprint of the bytes the conversion read, where the disk keeps
  // no change time: the last check reads the file again and compares.
  std::optional<std::uint64_t> readDigest;
  std::unique_ptr<platform::OutputFile> output;  // open until flushed
  // The backup holds the original already: an earlier run was interrupted
  // after making it.
  bool resumed = false;
  // What this run put under the backup name, while it may take it back.
  std::optional<platform::FileIdentity> backupMade;
  bool backupLinked = false;  // backupMade is a second name of the original
  // Undo: the backup, open and locked, that is to take the name back.
  std::unique_ptr<platform::InputFile> restoring;
  // Undo: the backup as it was compared, removed once the original is back
  // under the file's name and that is on the disk.
  std::optional<platform::FileIdentity> backupToDrop;
  // Undo: the lock on the copy that took the file's name, held (as
  // restoring is where a second name took it) until the backup is gone.
  std::unique_ptr<platform::InputFile> holding;
};

// Whether path is its own backup name, as the folder compares names: the
// file itself would be overwritten by its backup.
bool IsOwnBackup(platform::Files& files, const std::string& path, const std::string& backup);

// Clears away the temporary files that interrupted runs left beside a file.
// Lists each folder once, however many of its files are converted.
class Leftovers {
 public:
  // Only while holding path's lock. False when another run holds a
  // temporary file of path: that run is converting it right now.
  bool RemoveFor(platform::Files& files, const std::string& path);

  // Whether a temporary file of path is there now, changing nothing: with
  // path locked by someone else, another run is converting it.
  static bool AnyFor(platform::Files& files, const std::string& path);

 private:
  // folder -> the names in it that may be temporary files
  std::map<std::string, std::set<std::string>> listed_;
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
// original's name. Throws KvoError with a message that says what is on the
// disk afterwards. ui hears of Step::Replace and Step::Last.
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

// The folder flush that makes a step durable; one per folder suffices for
// all the files of a group in it. Throws KvoError.
void SyncFolder(platform::Files& files, const std::string& folder);

// Whether the new file will be let take the original's name: asked before
// anything is made. Throws KvoError.
void CheckReplaceable(platform::Files& files, const Staged& staged);

// Whether the commit would be allowed to go ahead, without changing
// anything: the backup name free (or holding the original already), the
// folder able to take both new names, and room for a new file of newSize
// bytes. Throws KvoError.
void CheckCommittable(platform::Files& files, const Staged& staged, std::uint64_t newSize);

}  // namespace kvo
