// The run's data model: what a run does to each file, where a file stands,
// the named moments of its way, and how it ended. Every front end reads it;
// none of it knows of a window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Errors.h"
#include "Files.h"
#include "TableSets.h"

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
  Failure failure = Failure::None;   // where it failed, what befell it
  std::optional<Standing> standing;  // where status, verify or undo found it
  // A second name: the version it held when met, which its line says it
  // still holds ("1.0", "1.1"; null where it could not be read).
  const char* heldVersion = nullptr;
};

// How a run goes.
struct RunOptions {
  // Read and check the file and convert it in memory, but change nothing on
  // disk: says whether a real run would succeed.
  bool checkOnly = false;
  // Convert, or say where each file stands, verify, or undo.
  Operation operation = Operation::Convert;
  // The tables to work in; the process's own when null.
  TableSets* tables = nullptr;
  // The program was started with these files (a double-click, "Öffnen mit",
  // "Senden an"): the user is asked once before anything is done. Files
  // dropped on the open window are converted at once.
  bool askFirst = false;
};

}  // namespace kvo
