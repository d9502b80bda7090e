// The browser's core, shared by its parts: the run's files and results, the
// texts handed to the page, and what the page does next with a file.
#pragma once

#include <string>
#include <vector>

#include "Model.h"

namespace kvo::web {

struct Run {
  Operation operation = Operation::Convert;
  bool download = false;
  std::vector<FileResult> results;
  std::string text;  // the last text asked for
};

Run& TheRun();
// The text, kept until the next is asked for.
const char* Text(std::string text);

// What the page does next with a file converted in place: the desktop
// tool's steps in its order and, once one fails, what takes back what the
// steps before it made. Stage: the new file's bytes into its stream (which
// changes nothing until it is closed) and the original's copy under a
// temporary name beside it, at once; Turn: wait until the files before it
// are read, and stop there on a cancel; Name: the copy takes the backup's
// name, looked for right before; Check: the file is as it was read; Close:
// the new file takes the name. Drop removes the copy, TakeBack the backup
// while it holds the original's bytes.
enum class Action { Stage, Turn, Name, Check, Close, Drop, TakeBack, Done };
constexpr const char* kActionNames[] = {"Stage", "Turn", "Name",     "Check",
                                        "Close", "Drop", "TakeBack", "Done"};

struct Plan {
  Action at = Action::Stage;
  bool resumed = false;  // the backup's name holds the original's bytes already
  bool copy = false;     // the copy is beside the file
  bool named = false;    // the backup holds the original; the new file is not in place
  bool failed = false;
};

// What befell a file on the disk, with the reason in the user's words: the
// text as the kind of failure chooses it.
void Befell(FileResult& r, Failure kind, const std::string& reason);

// The plan and the result of a job's file.
Plan& PlanOf(int job);
FileResult& ResultOf(int job);

}  // namespace kvo::web

extern "C" const char* kvo_reason(const char* name);
