#include "ConversionRun.h"

#include <algorithm>
#include <memory>
#include <new>

#include "Commit.h"
#include "Container.h"
#include "Errors.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Paths.h"

namespace kvo {

namespace {

using platform::FileError;
using platform::Files;

// A group's new files wait beside their originals until the group is flushed
// in one go: bounded, so that a huge folder never needs twice its size free.
// Each file of a group holds two files open, its original and its new file.
constexpr std::size_t kGroupFiles = 1000;
constexpr std::uint64_t kGroupBytes = std::uint64_t{512} << 20;
constexpr std::size_t kFilesKeptOpenElsewhere = 16;

std::size_t GroupFiles(Files& files) {
  const std::size_t allowed = files.OpenFilesAllowed();
  const std::size_t pairs =
      allowed > kFilesKeptOpenElsewhere + 2 ? (allowed - kFilesKeptOpenElsewhere) / 2 : 1;
  return std::min(kGroupFiles, pairs);
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

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const KvoError& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return kOutOfMemoryText;
  } catch (const FileError&) {
    return kOutputFailedText;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return kOutputFailedText;
  }
}

void Settle(FileResult& result, Outcome outcome, std::string message) {
  result.outcome = outcome;
  result.message = std::move(message);
  result.openProblem.reset();
}

// One file of a run, from its name to its new bytes beside it (or to the
// reason it goes no further).
class Preparation {
 public:
  Preparation(Files& files, const RunOptions& options, Leftovers& leftovers)
      : files_(files), options_(options), leftovers_(leftovers) {}

  // Settles result, or leaves the file staged for its group's commit.
  void Prepare(FileResult& result, Staged& staged) {
    const std::string& chosen = result.path;
    std::unique_ptr<platform::InputFile> in;
    std::string path;
    try {
      // A link is followed: the file it points to is converted in its own
      // folder, and the link then points at the new file.
      path = files_.Resolve(chosen);
      in = files_.OpenRead(path);
    } catch (const FileError& e) {
      Settle(result, Outcome::WrongVersion, kWrongVersionText);
      result.openProblem = e.problem();
      return;
    }

    Header header{};
    std::size_t got = 0;
    try {
      got = ReadFully(*in, header);
    } catch (const FileError&) {
    }
    if (got != header.size() || !CheckHeader0(header)) {
      const bool converted = got == header.size() && header == kHeader;
      Settle(result, converted ? Outcome::AlreadyConverted : Outcome::WrongVersion,
             kWrongVersionText);
      return;
    }

    TableSets& tables = options_.tables != nullptr ? *options_.tables : ProcessTables();
    const Counts counts = ReadWhole(*in, tables);

    staged = Staged{path, BackupPath(path), {}, std::move(in), nullptr, false};
    // The backup name is checked first, to spare the work, and again by the
    // link or rename, which never replaces a file.
    if (const auto backup = IdentityOf(staged.backup)) {
      // A second name of this very file: an earlier run was interrupted
      // just before the new file took the name. This run finishes its job.
      if (!backup->SameFile(staged.input->Identity())) throw KvoError(kBackupFailedText);
      staged.resumed = true;
    }
    ConvertTables(tables, counts);
    if (options_.checkOnly) {
      CheckCommittable(files_, staged);
      staged = {};
      Settle(result, Outcome::Convertible, kConvertibleText);
      return;
    }

    leftovers_.RemoveFor(files_, staged.path);
    CreateTemporary(files_, staged);
    try {
      WriteDataFile(*staged.output, tables, counts);
      staged.output->Complete(*staged.input);
    } catch (const FileError&) {
      Abandon(files_, staged);
      throw KvoError(kOutputFailedText);
    } catch (...) {
      Abandon(files_, staged);
      throw;
    }
    // Settled once its group is committed.
    Settle(result, Outcome::Converted, kSuccessText);
  }

 private:
  static Counts ReadWhole(platform::InputFile& in, TableSets& tables) {
    ClearTables(tables);
    try {
      return ReadDataFile0(in, tables);
    } catch (const FileError&) {
      // The system could not give us the whole file.
      throw KvoError(kIncompleteText);
    }
  }

  std::optional<platform::FileIdentity> IdentityOf(const std::string& path) {
    try {
      return files_.IdentityOf(path);
    } catch (const FileError&) {
      throw KvoError(kBackupFailedText);
    }
  }

  Files& files_;
  const RunOptions& options_;
  Leftovers& leftovers_;
};

struct Member {
  std::size_t index;  // in the run's files
  Staged staged;
};

void Fail(FileResult& result, const std::string& message) {
  Settle(result, Outcome::Failed, ErrorBoxText(message));
}

// Flushes a group's new files together, puts each in place, then flushes
// each folder once. Settles the results of those that fail.
void CommitGroup(Files& files, std::vector<Member>& group, std::vector<FileResult>& results) {
  std::vector<platform::OutputFile*> outputs;
  for (Member& m : group) outputs.push_back(m.staged.output.get());
  try {
    if (!outputs.empty()) files.SyncFiles(outputs);
    for (Member& m : group) m.staged.output->Close();
  } catch (const FileError&) {
    for (Member& m : group) {
      Abandon(files, m.staged);
      Fail(results[m.index], kOutputFailedText);
    }
    return;
  }
  // Each folder once, after all of its files.
  std::map<std::string, std::vector<std::size_t>> folders;
  for (Member& m : group) {
    m.staged.output.reset();
    try {
      Commit(files, m.staged);
      folders[platform::FolderOf(m.staged.path)].push_back(m.index);
    } catch (const KvoError& e) {
      Fail(results[m.index], e.what());
    }
  }
  for (const auto& [folder, members] : folders) {
    try {
      SyncFolder(files, folder);
    } catch (const KvoError& e) {
      for (const std::size_t i : members) Fail(results[i], e.what());
    }
  }
}

// The box at the end of a run: one file's own, or the summary of several.
void ShowOutcome(UserInterface& ui, const std::vector<FileResult>& results, bool single) {
  if (!single) {
    if (results.empty()) {
      ui.ShowInformation(kNothingFoundText);
    } else {
      ui.ShowSummary(results);
    }
    return;
  }
  const FileResult& result = results.front();
  if (result.outcome == Outcome::Failed) {
    ui.ShowError(result.message);
  } else if (result.outcome != Outcome::Interrupted && result.outcome != Outcome::NotReached) {
    ui.ShowInformation(result.message);
  }
}

}  // namespace

std::vector<FileResult> ConvertFiles(UserInterface& ui, Files& files,
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
  Preparation preparation(files, options, leftovers);
  const std::size_t total = list.size();
  const std::size_t groupFiles = GroupFiles(files);

  std::size_t next = 0;
  bool stopped = false;
  while (next < total && !stopped) {
    std::vector<Member> group;
    std::uint64_t bytes = 0;
    const std::size_t first = next;
    while (next < total && group.size() < groupFiles && bytes < kGroupBytes) {
      if (total > 1) ui.Progress(next, total, list[next].path);
      if (platform::InterruptSignal() != 0 || ui.CancelRequested()) {
        stopped = true;
        break;
      }
      Staged staged;
      try {
        preparation.Prepare(results[next], staged);
      } catch (const platform::Interrupted&) {
        // The file at hand rolled itself back.
        Settle(results[next++], Outcome::Interrupted, kInterruptedText);
        stopped = true;
        break;
      } catch (...) {
        Fail(results[next], MessageOf(std::current_exception()));
      }
      if (staged.output) {
        bytes += staged.input->Identity().size;
        group.push_back({next, std::move(staged)});
      }
      ++next;
    }
    if (platform::InterruptSignal() != 0) {
      // Nothing of this group has changed its name: all of it rolls back.
      for (Member& m : group) {
        Abandon(files, m.staged);
        Settle(results[m.index], Outcome::Interrupted, kInterruptedText);
      }
      group.clear();
    }
    // Cancelled: the files begun are finished, the rest is not begun.
    CommitGroup(files, group, results);
    for (std::size_t i = first; i < next; ++i) ui.FileDone(results[i]);
  }
  if (total > 1) ui.Progress(next, total, "");
  return results;
}

void ReportingErrors(UserInterface& ui, const std::function<void()>& work) {
  try {
    work();
  } catch (...) {
    ui.ShowError(ErrorBoxText(MessageOf(std::current_exception())));
  }
}

Outcome RunConversion(UserInterface& ui, Files& files, const RunOptions& options) {
  // The dialog shows its own cursor; the wait cursor follows it, from the
  // moment it closes until the box appears.
  std::optional<std::string> chosen;
  try {
    chosen = ui.ChooseFile();
  } catch (...) {
    ui.ShowError(ErrorBoxText(MessageOf(std::current_exception())));
    return Outcome::Failed;
  }
  if (!chosen) return Outcome::Cancelled;
  WaitCursor wait(ui);
  const auto results = ConvertFiles(ui, files, {{*chosen, false}}, options);
  wait.End();
  ShowOutcome(ui, results, true);
  return results.front().outcome;
}

std::vector<FileResult> RunConversion(UserInterface& ui, Files& files,
                                      const std::vector<std::string>& named,
                                      const RunOptions& options) {
  WaitCursor wait(ui);
  const auto list = FilesToConvert(files, named);
  const auto results = ConvertFiles(ui, files, list, options);
  wait.End();
  ShowOutcome(ui, results, list.size() == 1 && !list.front().inFolder);
  return results;
}

}  // namespace kvo
