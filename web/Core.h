// The browser's core, shared by its parts: the run's files and results, the
// texts handed to the page, and what the page does next with a file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Model.h"

namespace kvo::web {

struct Run {
  Operation operation = Operation::Convert;
  bool download = false;
  std::vector<FileResult> results;
  std::map<std::string, std::size_t> backups;  // each backup name, and the first file it is for
  std::string text;                            // the last text asked for
};

Run& TheRun();
// The result of the run's file at index.
inline FileResult& ResultAt(int index) {
  return TheRun().results.at(static_cast<std::size_t>(index));
}
// The text, kept until the next is asked for.
const char* Text(std::string text);

// What the page does next with a file, and what the browser's answers to
// it mean; the steps' order and their clean-up are decided here, once.
// Look: read the file, look for its backup's name (and read a file there);
// Compare: bring the bytes under the backup's name beside the file's as
// read; Convert: bring the bytes the job wants (for undo the backup's, with
// the file's beside each piece); Keep: offer the conversion for saving.
// In place, the desktop tool's steps: Stage: the new file's bytes into its
// stream (which changes nothing until it is closed) and the original's copy
// under a temporary name beside it, at once; Write: the new file's bytes
// alone, where a run cut short made the backup; Turn: wait until the files
// before it are read, and say whether the user cancelled; Pass: let the
// next file go on; Name: the copy takes the backup's name, looked for right
// before; Check: the file (and a backup read) as read; Restore: undo's
// backup bytes into the file's stream; Close: the new file takes the name.
// Clean-up: Drop removes the copy, Remove the backup.
enum class Action {
  Look,
  Compare,
  Convert,
  Keep,
  Stage,
  Write,
  Turn,
  Pass,
  Name,
  Check,
  Restore,
  Close,
  Drop,
  Remove,
  Done
};
constexpr const char* kActionNames[] = {"Look",    "Compare", "Convert", "Keep",   "Stage",
                                        "Write",   "Turn",    "Pass",    "Name",   "Check",
                                        "Restore", "Close",   "Drop",    "Remove", "Done"};

// The page's answer to an action, as flags: the browser refused (with its
// error); it refused the second file (Stage: the copy; Convert: the new
// file); the file, or the backup read, is no longer as read; a file or a
// folder has the backup's name; the user cancelled.
enum Answer {
  kRefused = 1,
  kOtherRefused = 2,
  kChanged = 4,
  kBackupChanged = 8,
  kTaken = 16,
  kFolder = 32,
  kCancelled = 64
};
constexpr const char* kAnswerNames[] = {"Refused", "OtherRefused", "Changed",  "BackupChanged",
                                        "Taken",   "Folder",       "Cancelled"};

// The page's runs: conversion in place, conversion for saving, undo.
enum class Mode { Place, Save, Undo };
constexpr const char* kModeNames[] = {"place", "save", "undo"};

struct Plan {
  Action at = Action::Look;
  bool same = true;          // Compare: the bytes so far are the same
  bool resumed = false;      // the backup's name holds the original's bytes already
  bool copy = false;         // the copy is beside the file
  bool named = false;        // the backup holds the original; the new file is not in place
  bool backupTaken = false;  // another file holds the backup's name
  bool failed = false;
  int checks = 0;  // undo: the checks passed
};

// What befell a file on the disk, with the reason in the user's words: the
// text as the kind of failure chooses it.
void Befell(FileResult& r, Failure kind, const std::string& reason);

// The plan and the result of a job's file; room for the pieces Compare
// brings.
Plan& PlanOf(int job);
FileResult& ResultOf(int job);
std::vector<std::uint8_t>& PairOf(int job);

// Why the browser refused, by the name of its error, in the desktop tool's
// words.
std::string BrowserReason(std::string_view error);

}  // namespace kvo::web
