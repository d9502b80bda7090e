// What a conversion run needs from whoever drives it: the window, the command
// line or a test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Files.h"

namespace kvo {

enum class Outcome {
  Cancelled,         // nothing chosen, nothing touched
  WrongVersion,      // not a version 1.0 file; untouched
  AlreadyConverted,  // a version 1.1 file; untouched
  Converted,         // version 1.1 under the chosen name, the original as .old
  Convertible,       // checked only: a conversion would succeed; nothing touched
  Failed,            // an error box; the message says where the original is
                     // unless it is untouched under its name
  Interrupted,       // rolled back: a signal came while it was converted
  NotReached,        // not begun: the run was cancelled or stopped before it
  SameFile,          // another name of a file dealt with earlier in the run
  Unconfirmed,       // converted, but the system would not confirm that the
                     // folder's new names are on the disk
  Examined,          // status or verify: looked at, nothing changed
  Undone,            // the original is back under its name
  NotOpened,         // not to be opened (missing, held, not a file); untouched
};

// What a run does to each file.
enum class Operation {
  Convert,
  Status,  // says where each file stands
  Verify,  // as status, and a converted file that differs from the
           // conversion of its backup is a failure
  Undo,    // puts each original back where the file is its exact conversion
};

// Where a data file stands, as status and verify find it.
enum class Standing {
  ToConvert,    // version 1.0
  Converted,    // version 1.1, exactly the conversion of its backup
  Changed,      // version 1.1, differs from the conversion of its backup
  NoBackup,     // version 1.1 without a backup
  BackupAlone,  // a backup whose data file is not there
  Backup,       // a backup named itself
  Interrupted,  // a conversion ended midway; the next run finishes it
  Damaged,      // cut short, of another version, or not to be read
  NotData,      // no data file at all (a note named *.dat)
  Busy,         // another run holds it right now
};

// The named moments of one file's way through a run, as every surface (the
// browser page too) names them: the file read and its new bytes written
// beside it; its backup being made; the backups on the disk, before the
// file is checked once more; that check passed, just before the new file
// (for undo, the original) takes the name; undo's backup ready to go back.
enum class Step { Read, Backup, Replace, Last, PutBack };
inline constexpr const char* kStepNames[] = {"read", "backup", "replace", "last", "putback"};

// How one file ended.
struct FileResult {
  std::string path;       // as chosen or found
  bool inFolder = false;  // found in a folder that was named, not named itself
  Outcome outcome = Outcome::NotReached;
  std::string message;  // what its box says; an error's is ready to show
  std::string detail;   // why, or what else the user should know; may be empty
  // Why it could not be opened, where that was the reason it was refused.
  std::optional<platform::Problem> openProblem;
  Operation operation = Operation::Convert;
  std::optional<Standing> standing;  // where status, verify or undo found it
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // The file to convert, or nothing when the user cancels.
  virtual std::optional<std::string> ChooseFile() = 0;
  // Plain information: one OK, no icon.
  virtual void ShowInformation(const std::string& text) = 0;
  // An error that ended the run; the text is ready to show.
  virtual void ShowError(const std::string& text) = 0;
  virtual void BeginWait() = 0;
  virtual void EndWait() = 0;
  // The outcomes of a run of several files, in one box. With offerUndo the
  // box offers to undo the run: true when the user chose that.
  virtual bool ShowSummary(const std::vector<FileResult>& results, bool offerUndo) = 0;
  // A run of several files is about to begin the file current: done of
  // total are settled.
  virtual void Progress(std::size_t /*done*/, std::size_t /*total*/,
                        const std::string& /*current*/) {}
  // Within the file begun last: done of total bytes read and written. Comes
  // every few megabytes, so that a long file shows its progress too.
  virtual void FileProgress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
  // Whether the user asked to stop: the run stops before the next file, or
  // rolls back the file at hand while nothing of it has changed yet.
  virtual bool CancelRequested() { return false; }
  // Each file's outcome once it is settled, in the order of the files.
  virtual void FileDone(const FileResult&) {}
  // Asked once when the program was started with files: whether to convert
  // them. question names the file, or how many and where.
  virtual bool ConfirmStart(const std::string& /*question*/) { return true; }
  // The file at path has come to step. Nothing to do for a front end; tests
  // put another program's doings there.
  virtual void Reached(Step /*step*/, const std::string& /*path*/) {}
};

}  // namespace kvo
