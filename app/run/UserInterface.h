// What a conversion run needs from whoever drives it: the window, the command
// line or a test.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Model.h"

namespace kvo {

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
