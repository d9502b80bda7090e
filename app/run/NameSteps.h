// The steps on names that the conversion's commit and undo's restore are
// made of, and the file staged for them: a file made beside a data file
// under a temporary name, a second name or a flushed copy there, the one
// step in which a file takes a name; what is a file's own backup and what a
// cut run's leftovers. Each says what is left when it throws.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "Files.h"
#include "UserInterface.h"

namespace kvo {

// How many temporary names beside a file are tried while others are taken.
inline constexpr int kNameAttempts = 100;

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
  // The lock on the file that takes the name (the new file; undo's copy of
  // the backup), taken before the original is let go of and held until the
  // new name is on the disk (undo: until the backup is gone): another run
  // that meets the file in that moment sees this one at work.
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

  // Whether a run holds a temporary file of path right now: it is in its
  // last step, where the system may have made it let go of the file itself.
  // Asked of the names, not of a listing, which may be older than that
  // run's files. Changes nothing.
  static bool HeldFor(platform::Files& files, const std::string& path);
  // Whether a run is at work on path right now: it holds the file, or a
  // temporary file of it. Changes nothing.
  static bool AtWork(platform::Files& files, const std::string& path);

 private:
  // folder -> the names in it that may be temporary files
  std::map<std::string, std::set<std::string>> listed_;
};

// The folder flush that makes a step durable; one per folder suffices for
// all the files of a group in it. Throws KvoError.
void SyncFolder(platform::Files& files, const std::string& folder);

// Whether the file at path, which this run has just locked (held open as
// in), is this run's to change: no other run is at work on it in a moment
// it let go of the file, and the name still leads to the file held.
enum class Claim { Ours, Busy, Moved };
Claim ClaimFile(platform::Files& files, const std::string& path, const platform::InputFile& in);

// A file's bytes still those that were read (their digest, read), where
// its identity cannot show an edit that put the time back: read once more,
// through the run's own lock. Throws Failed(Failure::Changed).
void CheckSameBytes(platform::InputFile& file, std::optional<std::uint64_t> read);
// Removes path; a leftover that stays is cleared by the next run.
void RemoveQuietly(platform::Files& files, const std::string& path);

// A file the run made under a temporary name beside a data file: removed,
// quietly, when this goes, unless Keep() said it took a name of its own or
// holds something to keep.
class TemporaryName {
 public:
  explicit TemporaryName(platform::Files& files, std::string path = {})
      : files_(files), path_(std::move(path)) {}
  TemporaryName(const TemporaryName&) = delete;
  TemporaryName& operator=(const TemporaryName&) = delete;
  ~TemporaryName() {
    if (!path_.empty()) RemoveQuietly(files_, path_);
  }
  std::string& path() { return path_; }
  std::string Keep() { return std::exchange(path_, {}); }

 private:
  platform::Files& files_;
  std::string path_;
};
// Lets go of the original, which was only read.
void ReleaseInput(Staged& staged);
// Why a new name could not be made, in words a user can act on.
std::string CreateReason(const platform::FileError& e);
// Why a file of needed bytes beside path could not be written: too little
// room on the disk where that is so, whatever the driver called it
// (fusefat says "not permitted" when full); else the system's reason.
std::string WriteReason(platform::Files& files, const platform::FileError& e,
                        const std::string& path, std::uint64_t needed);
// Throws Failed(kind, ...) where the disk has less room than needed bytes
// beside path, before anything is written.
void CheckRoom(platform::Files& files, const std::string& path, std::uint64_t needed, Failure kind);
// A new file beside path under a temporary name with the given ending; its
// name in chosen.
std::unique_ptr<platform::OutputFile> CreateBeside(platform::Files& files, const std::string& path,
                                                   std::string_view ending, std::string& chosen);
// A flushed copy of from beside path, with from's attributes and times;
// changeTimeKept learns whether the disk keeps a change time.
std::string CopyBeside(platform::Files& files, platform::InputFile& from, const std::string& path,
                       std::string_view ending, bool* changeTimeKept = nullptr);
// A second name of from beside path, or nothing where there are none.
std::optional<std::string> LinkBeside(platform::Files& files, const std::string& from,
                                      const std::string& path);
// from takes to's name in one step, replacing it. Where the system replaces
// no file another opener holds (Windows: a look reading it, or another run
// that opened it and lets go as soon as it sees this one at work), that is
// waited for, about as long as a run waits for a look on POSIX; a signal
// ends the wait (platform::Interrupted). After a wait, to must still be
// expected, unchanged (an opener may have written to it): otherwise
// Failed(Failure::Changed), nothing renamed.
void RenameOver(platform::Files& files, const std::string& from, const std::string& to,
                const platform::FileIdentity& expected);
// replacement takes path's name in one step: swapped where the system can, and
// what was displaced checked to be expected; else renamed over it. The
// caller holds replacement already.
void Replace(platform::Files& files, const std::string& replacement, const std::string& path,
             const platform::FileIdentity& expected, std::unique_ptr<platform::InputFile>& held,
             bool& stuck);

}  // namespace kvo
