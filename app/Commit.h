// Putting a new file in place of its original so that the original's name
// always holds one complete file: the original, or the new one.
//
// The new bytes go to a short temporary name beside the original and onto
// the disk. Then the original gets its backup name as a second name (a hard
// link, which fails when the backup name is taken), the new file is renamed
// over the original's name in one step, and the folder is flushed. Where the
// file system has no hard links, the original is renamed to its backup name
// and the new file takes its name after, with a moment in between where the
// name stands empty.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "Files.h"

namespace kvo {

// A converted file written beside its original, not yet in its place.
struct Staged {
  std::string path;                              // the original, links followed
  std::string backup;                            // path with the ending .old
  std::string temporary;                         // where the new bytes are
  std::unique_ptr<platform::InputFile> input;    // open and locked until the commit
  std::unique_ptr<platform::OutputFile> output;  // open until flushed
  // The backup name is a second name of the original already: an earlier run
  // was interrupted between making it and putting the new file in place.
  bool resumed = false;
};

// The temporary name of path's new file: short, whatever the length of
// path's name, in the same folder and tied to that name. attempt counts up
// while a name is taken by something that cannot be cleared away.
std::string TemporaryPath(const std::string& path, int attempt);

// Clears away the temporary files that interrupted runs left beside a file.
// Lists each folder once, however many of its files are converted.
class Leftovers {
 public:
  // Only while holding path's lock: then no other run of it is under way,
  // and whatever temporary file of it there is was left behind.
  void RemoveFor(platform::Files& files, const std::string& path);

 private:
  // folder -> the names in it that may be temporary files
  std::map<std::string, std::set<std::string>> listed_;
};

// Creates the temporary file: writes go there afterwards.
void CreateTemporary(platform::Files& files, Staged& staged);

// Removes the temporary file; the original was never touched. Quiet: it runs
// on paths that failed already, and a leftover is cleared by the next run.
void Abandon(platform::Files& files, Staged& staged);

// Puts the flushed, closed new file in place of the original and the
// original under its backup name. Throws KvoError with a message that says
// what is on the disk afterwards.
void Commit(platform::Files& files, Staged& staged);

// The folder flush that makes a commit durable; one per folder suffices for
// all the files committed in it. Throws KvoError.
void SyncFolder(platform::Files& files, const std::string& folder);

// Whether Commit would be allowed to go ahead, without changing anything:
// the backup name free (or the second name of an interrupted run), and the
// folder able to take both new names. Throws KvoError.
void CheckCommittable(platform::Files& files, const Staged& staged);

}  // namespace kvo
