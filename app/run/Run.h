// One conversion run, from the choice of a file to the final message: the
// steps behind the window's button, also driven by the command line, and its
// siblings status, verify and undo over the same walk, groups and flushes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "FileList.h"
#include "Files.h"
#include "TableSets.h"
#include "UserInterface.h"

namespace kvo {

// The button: the dialog, then the conversion of the chosen file, then its
// box.
Outcome RunConversion(UserInterface& ui, platform::Files& files, const RunOptions& options = {});

// Files and folders dropped on the window or given to the program: each as
// if chosen in the dialog, folders with every *.dat in and below them. One
// file named gives its own box, anything else one summary, which offers to
// undo the files this run converted.
std::vector<FileResult> RunConversion(UserInterface& ui, platform::Files& files,
                                      const std::vector<std::string>& named,
                                      const RunOptions& options = {});

// What a window's handler does around a run: nothing may escape into the
// event loop. The run reports its own errors; anything else still ends in an
// error box, and the window stays usable.
void ReportingErrors(UserInterface& ui, const std::function<void()>& work);

// Runs options.operation over the files one after the other: converts them,
// tells where each stands, verifies or undoes them, and reports each through
// ui.FileDone, in order. The new files are flushed to the disk in groups, and
// no original changes its name before its group's new bytes are on the disk. Cancelling
// stops before the next file; a signal stops there too, or rolls back the
// files not yet in place.
std::vector<FileResult> RunOperation(UserInterface& ui, platform::Files& files,
                                     const std::vector<FileToConvert>& list,
                                     const RunOptions& options = {});

}  // namespace kvo
