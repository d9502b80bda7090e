#include "Run.h"

// The run: the walk over the files, their groups, progress, cancel and held
// signals; each file prepared and each group committed by its operation.
#include <algorithm>
#include <new>
#include <set>

#include "Interrupts.h"
#include "Operations.h"

namespace kvo {

namespace {

using namespace run;

// A group's new files wait beside their originals until the group is flushed
// in one go: bounded, so that a huge folder never needs twice its size free.
constexpr std::size_t kGroupFiles = 1000;
constexpr std::uint64_t kGroupBytes = std::uint64_t{512} << 20;
// Files the process holds besides the groups': the standard streams, a
// folder being listed, a backup's copy being written, the libraries' own.
constexpr std::size_t kFilesKeptOpenElsewhere = 16;
// Undo's groups are smaller: the files of one group are let go of while the
// next is verified.
constexpr std::uint64_t kUndoGroupBytes = std::uint64_t{32} << 20;

// As many files as the process may hold open: each member holds its file,
// its new file or backup, and its folder; undo's members are held once more
// while the helper thread lets go of them during the next group. The
// folders the walk holds count against it too.
std::size_t GroupFiles(Files& files, Operation operation, const std::vector<FileToConvert>& list) {
  std::set<const platform::FolderHold*> walked;
  for (const FileToConvert& f : list) walked.insert(f.folder.get());
  const std::size_t allowed =
      files.OpenFilesAllowed() - std::min(files.OpenFilesAllowed() / 2, walked.size());
  const std::size_t perMember = operation == Operation::Undo ? 5 : 3;
  const std::size_t members = allowed > kFilesKeptOpenElsewhere + perMember
                                  ? (allowed - kFilesKeptOpenElsewhere) / perMember
                                  : 1;
  return std::min(kGroupFiles, members);
}

// The wait cursor from the start of the run until the first message.
class WaitCursor {
 public:
  explicit WaitCursor(UserInterface& ui) : ui_(ui) { ui_.BeginWait(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  ~WaitCursor() { End(); }
  void End() {
    if (on_) ui_.EndWait();
    on_ = false;
  }

 private:
  UserInterface& ui_;
  bool on_ = true;
};

// Whatever ended a file or a run, as an error of ours: its message, and the
// reason behind it (the system's words, or which file is in the way).
KvoError ErrorOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const KvoError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return KvoError(kOutOfMemoryText);
  } catch (const FileError& e) {
    return Failed(Failure::Output, platform::Reason(e));
  } catch (const std::exception& e) {
    return KvoError(e.what());
  } catch (...) {
    return Failed(Failure::Output);
  }
}

// What a second name of a file converted or undone holds, read once the
// group is through: a second name in the folder keeps the file it had, but
// a path through a link to the folder or another mount of it shows what the
// first now holds. The line says "weiterhin" only where that is so.
void SayWhatASecondNameHolds(Files& files, FileResult& r) {
  if (r.outcome != Outcome::SameFile || r.heldVersion == nullptr) return;
  try {
    const auto in = files.OpenToLook(r.path);
    Header header{};
    const char* version = ReadFully(*in, header) == header.size() ? VersionName(header) : nullptr;
    in->Close();
    if (version != nullptr && std::string_view(version) == r.heldVersion) return;
  } catch (const FileError&) {
    // Not to be read now: nothing said of it rather than something untrue.
  }
  r.detail.clear();
}

// A group's commit, as its operation makes it.
void CommitGroup(Files& files, std::vector<Member>& group, std::vector<FileResult>& results,
                 Releaser& releaser, UserInterface& ui) {
  if (group.empty()) return;
  if (group.front().staged.restoring) {
    RestoreGroup(files, group, results, releaser, ui);
  } else {
    CommitConversion(files, group, results, ui);
  }
}

// The files a run converted: what its undo puts back.
std::vector<FileToConvert> ConvertedIn(const std::vector<FileResult>& results) {
  std::vector<FileToConvert> converted;
  for (const FileResult& r : results) {
    if (r.operation == Operation::Convert &&
        (r.outcome == Outcome::Converted || r.outcome == Outcome::Unconfirmed)) {
      converted.push_back({r.path, r.inFolder});
    }
  }
  return converted;
}

// The box at the end of a run: one file's own, or the summary of several,
// which offers to undo a conversion. True when the user chose that.
bool ShowOutcome(UserInterface& ui, const std::vector<FileResult>& results, bool single) {
  if (!single) {
    if (results.empty()) {
      ui.ShowInformation(kNothingFoundText);
      return false;
    }
    return ui.ShowSummary(results, !ConvertedIn(results).empty());
  }
  const FileResult& result = results.front();
  if (result.outcome == Outcome::Failed || result.outcome == Outcome::Unconfirmed) {
    ui.ShowError(BoxText(result));
  } else if (result.outcome == Outcome::Interrupted) {
    // "Abbrechen" in the middle of a file: the user learns that it is as it
    // was. A signal ends the program instead, and asks nobody.
    if (platform::InterruptSignal() == 0) ui.ShowInformation(BoxText(result));
  } else if (result.outcome != Outcome::NotReached) {
    ui.ShowInformation(BoxText(result));
  }
  return false;
}

}  // namespace

std::vector<FileResult> RunOperation(UserInterface& ui, Files& files,
                                     const std::vector<FileToConvert>& list,
                                     const RunOptions& options) {
  platform::HoldInterrupts hold;
  std::vector<FileResult> results;
  for (const FileToConvert& f : list) {
    FileResult& r = results.emplace_back();
    r.path = f.path;
    r.inFolder = f.inFolder;
  }
  Leftovers leftovers;
  Preparation preparation(ui, files, options, leftovers);
  preparation.Plan(list);
  const std::size_t total = list.size();
  const std::size_t groupFiles = GroupFiles(files, options.operation, list);
  const std::uint64_t groupBytes =
      options.operation == Operation::Undo ? kUndoGroupBytes : kGroupBytes;
  Releaser releaser;

  std::size_t next = 0;
  bool stopped = false;
  while (next < total && !stopped) {
    std::vector<Member> group;
    std::uint64_t bytes = 0;
    const std::size_t first = next;
    // The helper holds at most one group's replaced files meanwhile.
    releaser.WaitUntilHolding(groupFiles);
    while (next < total && group.size() < groupFiles && bytes < groupBytes) {
      ui.Progress(next, total, list[next].path);
      if (platform::InterruptSignal() != 0 || ui.CancelRequested()) {
        stopped = true;
        break;
      }
      Staged staged;
      try {
        preparation.Prepare(next, list[next], results[next], staged);
      } catch (const platform::Interrupted&) {
        // The file at hand rolled itself back.
        Settle(results[next++], Outcome::Interrupted, kInterruptedText);
        stopped = true;
        break;
      } catch (const Cancelled&) {
        Settle(results[next++], Outcome::Interrupted, kInterruptedText);
        stopped = true;
        break;
      } catch (const OutOfFiles&) {
        // The group's files are let go of once it is committed, and the
        // helper's once it is through; then this file starts afresh. Alone,
        // it is the system's limit.
        preparation.Retry(next);
        results[next] = {};
        results[next].path = list[next].path;
        results[next].inFolder = list[next].inFolder;
        if (!group.empty()) break;
        if (releaser.WaitUntilHolding(0)) continue;
        Fail(results[next], Failure::Read, kTooManyOpenDetail);
        results[next].operation = options.operation;
      } catch (...) {
        Fail(results[next], ErrorOf(std::current_exception()));
      }
      if (staged.output || staged.restoring) {
        if (staged.input) bytes += staged.input->Identity().size;
        group.push_back({next, std::move(staged)});
      }
      ++next;
    }
    // Cancelled: the files begun are finished, the rest is not begun. A
    // signal rolls back what has not changed names yet.
    CommitGroup(files, group, results, releaser, ui);
    bool released = false;  // this run's own locks, which a look would meet
    for (std::size_t i = first; i < next; ++i) {
      if (results[i].outcome == Outcome::SameFile && !released) {
        releaser.WaitUntilHolding(0);
        released = true;
      }
      SayWhatASecondNameHolds(files, results[i]);
      if (results[i].outcome == Outcome::SameFile) preparation.ClearForSecondName(results[i]);
      ui.FileDone(results[i]);
    }
  }
  ui.Progress(next, total, "");
  return results;
}

void ReportingErrors(UserInterface& ui, const std::function<void()>& work) {
  try {
    work();
  } catch (...) {
    ui.ShowError(ErrorBoxText(ErrorOf(std::current_exception()).what()));
  }
}

Outcome RunConversion(UserInterface& ui, Files& files, const RunOptions& options) {
  // The dialog shows its own cursor; the wait cursor follows it, from the
  // moment it closes until the box appears.
  std::optional<std::string> chosen;
  try {
    chosen = ui.ChooseFile();
  } catch (...) {
    ui.ShowError(ErrorBoxText(ErrorOf(std::current_exception()).what()));
    return Outcome::Failed;
  }
  if (!chosen) return Outcome::Cancelled;
  WaitCursor wait(ui);
  const auto results = RunOperation(ui, files, {{*chosen, false}}, options);
  wait.End();
  ShowOutcome(ui, results, true);
  return results.front().outcome;
}

std::vector<FileResult> RunConversion(UserInterface& ui, Files& files,
                                      const std::vector<std::string>& named,
                                      const RunOptions& options) {
  if (options.askFirst) {
    // Asked of what is there: a file that is not is said to be missing at
    // once, not offered to be converted first.
    std::vector<std::string> there;
    for (const std::string& path : named) {
      try {
        if (files.IdentityOf(path)) there.push_back(path);
      } catch (const FileError&) {
        there.push_back(path);  // there, but not to be looked at: the run says why
      }
    }
    if (!there.empty() && !ui.ConfirmStart(StartQuestion(files, there))) return {};
  }
  WaitCursor wait(ui);
  const auto list = FilesToConvert(files, named);
  const auto results = RunOperation(ui, files, list, options);
  wait.End();
  if (ShowOutcome(ui, results, list.size() == 1 && !list.front().inFolder)) {
    // Exactly the files this run converted, each only while it is still
    // exactly what the run made of its backup.
    WaitCursor undoing(ui);
    RunOptions undo = options;
    undo.operation = Operation::Undo;
    const auto undone = RunOperation(ui, files, ConvertedIn(results), undo);
    undoing.End();
    ui.ShowSummary(undone, false);
  }
  return results;
}

}  // namespace kvo
