// The table of scenarios every surface passes (tests/scenarios.txt): its rows
// read, the files they name made, and a folder compared with what a row
// says must hold afterwards. The browser's runner reads the same table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "UserInterface.h"

namespace kvo::test {

// A file's bytes as the table writes them: a base, then changes, left to
// right.
//   v10/N   a version 1.0 file from seed N, its fixed blocks and a few records
//           (about 220 KB)
//   big/N   the same, 9 MB: above what is read in one call
//   neg     a version 1.0 file with a negative count
//   empty   no bytes;  note   a text, no data file
//   +tail   20 bytes behind the last block    -cut  the last 100 bytes cut off
//   +!      one byte appended                 ~     byte 100 changed, same length
//   >11     converted to version 1.1
std::vector<std::uint8_t> Contents(const std::string& expression);

// One entry of a folder, before or after.
struct Entry {
  enum Kind { File, Folder, HardLink, Link } kind = File;
  std::string name;              // relative, '/' between folders
  std::string contents;          // File: its expression; HardLink, Link: the other name
  std::optional<unsigned> mode;  // as given after '@'
  bool roots = false;            // "@MODE:root": root's, among a plain user's files
};

struct Line {
  bool problem = false;  // on the error output, marked in the browser
  std::string text;
  friend bool operator==(const Line&, const Line&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Line& line) {
    return out << (line.problem ? "line!: " : "line: ") << line.text;
  }
};

struct Scenario {
  std::string name;
  int line = 0;  // where the row starts in the table
  std::vector<Entry> files;
  std::vector<std::string> run;  // the command line's arguments
  struct Event {
    std::string step;  // a step of the run (Step's names), or "start"
    std::string file;  // whose step; empty for "start"
    std::string action;
    std::vector<std::string> args;
  };
  std::optional<Event> at;
  bool plainUser = false;  // run as a user who is not root
  std::vector<Entry> after;
  std::vector<Line> lines;
  std::optional<std::string> sum;
  int exit = 0;
  std::optional<std::vector<Entry>> then;    // after a rerun; otherwise as after
  std::map<std::string, std::string> notOn;  // surface -> why it cannot produce the row
};

// Throws std::runtime_error naming the table's line of a fault.
std::vector<Scenario> ReadScenarios(const std::string& path);

// Names in a row may stand for the run's own files: {tmp:NAME} is the
// temporary name of NAME's new file, in its folder.
std::string ExpandName(const std::string& name);

// Makes the entries in folder (which exists); with owner, gives them and the
// folder to that user and group before their modes are set.
void Build(const std::string& folder, const std::vector<Entry>& entries,
           std::optional<unsigned> owner = std::nullopt);

// What differs between folder and entries, one line each; empty when none.
// Modes are compared only with modes.
std::vector<std::string> Differences(const std::string& folder, const std::vector<Entry>& entries,
                                     bool modes);

// Whether the run, at step of the file at path (as it names it), has come
// to the row's event.
bool IsAt(const Scenario::Event& event, Step step, const std::string& path);

// The event, where it is another program's doing to the folder's files (an
// edit, a removal, a rename): done now. False for the others (the user, a
// signal, the end of the process, a full disk), which each runner makes in
// its own way.
bool DoToFiles(const Scenario::Event& event, const std::string& folder);

// The lines a run's results give, as the command line prints them, names
// relative to folder; files not begun have none.
std::vector<Line> LinesOf(const std::vector<FileResult>& results, const std::string& folder);

// A window's run of a row: the boxes are the window's own, and the row's
// event comes at its step: another program's doings, or the user pressing
// "Abbrechen".
class RowUi final : public UserInterface {
 public:
  RowUi(UserInterface& window, const Scenario& row, std::string folder)
      : window_(window), row_(row), folder_(std::move(folder)) {}
  std::optional<std::string> ChooseFile() override { return window_.ChooseFile(); }
  void ShowInformation(const std::string& text) override { window_.ShowInformation(text); }
  void ShowError(const std::string& text) override { window_.ShowError(text); }
  bool ShowSummary(const std::vector<FileResult>& results, bool offerUndo) override {
    return window_.ShowSummary(results, offerUndo);
  }
  void BeginWait() override { window_.BeginWait(); }
  void EndWait() override { window_.EndWait(); }
  void Progress(std::size_t done, std::size_t total, const std::string& current) override {
    window_.Progress(done, total, current);
  }
  bool CancelRequested() override { return cancelled || window_.CancelRequested(); }
  void Reached(Step step, const std::string& path) override {
    if (fired || !row_.at || !IsAt(*row_.at, step, path)) return;
    fired = true;
    if (row_.at->action == "cancel") {
      cancelled = true;
    } else {
      if (!DoToFiles(*row_.at, folder_)) unknown = row_.at->action;
    }
  }
  bool fired = false, cancelled = false;
  std::string unknown;  // an event no window can make

 private:
  UserInterface& window_;
  const Scenario& row_;
  std::string folder_;
};

// What a run's results and the folder afterwards say against the row: each
// file's line, the counts, the disk; one line for each difference.
std::vector<std::string> Mismatches(const Scenario& row, const std::vector<FileResult>& results,
                                    const std::string& folder, bool modes);

// The event's changes to a file, as another program makes them.
void Append(const std::string& path);
void SaveOver(const std::string& path);
// Rewrites one byte in place and puts the time back, until the file's
// change time shows it (it is coarse: a change in the same tick would not).
void RewriteKeepingTime(const std::string& path);

}  // namespace kvo::test
