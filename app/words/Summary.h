// One summary of a run, computed once here and shown by every front end:
// which outcomes are failures, the counts, the lines of the files that need
// a look, and what one file's line or box says.
#pragma once

#include <string>
#include <vector>

#include "Messages.h"
#include "UserInterface.h"

namespace kvo {

// The summary of a run of several files: how many were converted, already at
// version 1.1, not converted and not begun, in lines.
std::string SummaryText(const std::vector<FileResult>& results);
// Whether a file's outcome makes the run a failure: not converted (a file
// named, not found in a folder, that has version 1.1 already included), not
// undone, not confirmed on the disk, or (status and verify) found damaged,
// interrupted or, for verify, changed.
bool IsProblem(const FileResult& result);
// The command line's summary of a run: the counts, in one line.
std::string CountsLine(const std::vector<FileResult>& results, Operation operation,
                       bool checkOnly = false);
// The files that need a look, for a summary box: each entry marked, with
// its name and why, in the order a reader expects; names below the folder
// they all share, which the heading says once.
struct FailureListing {
  std::string heading;  // names the list, for the eye and for a screen reader
  std::string entries;  // one line each, "• NAME: why"
};
FailureListing FailureList(const std::vector<FileResult>& results);
// What a file's line says: its message, and behind it in brackets why (the
// detail, or why it could not be opened).
std::string Explained(const FileResult& result);
// A file's line on the command line and in the browser: its path and what
// befell it.
std::string FileLine(const FileResult& result);
// What a file's own box says: its message, and as a second line why (the
// detail, or why it could not be opened), as a sentence.
std::string BoxText(const FileResult& result);
// A phrase as a sentence: a capital first letter (unless it starts with a
// file's name) and a full stop.
std::string Sentence(std::string text);

}  // namespace kvo
