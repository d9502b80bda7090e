#include "ConversionRun.h"

#include <memory>
#include <new>
#include <set>

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
// in one go: bounded, so that a huge folder never needs twice its size free
// and the open files stay few.
constexpr std::size_t kGroupFiles = 256;
constexpr std::uint64_t kGroupBytes = std::uint64_t{256} << 20;

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

FileResult Result(const std::string& path, Outcome outcome, std::string message) {
  return {path, outcome, std::move(message), std::nullopt};
}

// One file of a run, from its name to its new bytes beside it (or to the
// reason it goes no further).
class Preparation {
 public:
  Preparation(Files& files, const RunOptions& options, Leftovers& leftovers)
      : files_(files), options_(options), leftovers_(leftovers) {}

  // The result so far; a staged file is in staged.
  FileResult Prepare(const std::string& chosen, Staged& staged) {
    std::unique_ptr<platform::InputFile> in;
    std::string path;
    try {
      // A link is followed: the file it points to is converted in its own
      // folder, and the link then points at the new file.
      path = files_.Resolve(chosen);
      in = files_.OpenRead(path);
    } catch (const FileError& e) {
      FileResult refused = Result(chosen, Outcome::WrongVersion, kWrongVersionText);
      refused.openProblem = e.problem();
      return refused;
    }

    Header header{};
    std::size_t got = 0;
    try {
      got = ReadFully(*in, header);
    } catch (const FileError&) {
    }
    if (got != header.size() || !CheckHeader0(header)) {
      const bool converted = got == header.size() && header == kHeader;
      return Result(chosen, converted ? Outcome::AlreadyConverted : Outcome::WrongVersion,
                    kWrongVersionText);
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
      return Result(chosen, Outcome::Convertible, kConvertibleText);
    }

    leftovers_.RemoveFor(files_, staged.path);
    CreateTemporary(files_, staged);
    try {
      WriteDataFile(*staged.output, tables, counts);
      staged.output->TakeAccessOf(*staged.input);
    } catch (const FileError&) {
      Abandon(files_, staged);
      throw KvoError(kOutputFailedText);
    } catch (...) {
      Abandon(files_, staged);
      throw;
    }
    return Result(chosen, Outcome::Converted, kSuccessText);
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

// Flushes a group's new files together, puts each in place, then flushes
// each folder once. Fills in the results of those that fail.
void CommitGroup(Files& files, std::vector<Member>& group, std::vector<FileResult>& results) {
  std::vector<platform::OutputFile*> outputs;
  for (Member& m : group) outputs.push_back(m.staged.output.get());
  try {
    if (!outputs.empty()) files.SyncFiles(outputs);
    for (Member& m : group) m.staged.output->Close();
  } catch (const FileError&) {
    for (Member& m : group) {
      Abandon(files, m.staged);
      results[m.index] =
          Result(results[m.index].path, Outcome::Failed, ErrorBoxText(kOutputFailedText));
    }
    return;
  }
  // Each folder once, after all of its files.
  std::map<std::string, std::vector<std::size_t>> folders;
  for (Member& m : group) {
    try {
      Commit(files, m.staged);
      folders[platform::FolderOf(m.staged.path)].push_back(m.index);
    } catch (const KvoError& e) {
      results[m.index] = Result(results[m.index].path, Outcome::Failed, ErrorBoxText(e.what()));
    }
  }
  for (const auto& [folder, members] : folders) {
    try {
      SyncFolder(files, folder);
    } catch (const KvoError& e) {
      for (const std::size_t i : members) {
        results[i] = Result(results[i].path, Outcome::Failed, ErrorBoxText(e.what()));
      }
    }
  }
}

}  // namespace

std::vector<FileResult> ConvertFiles(UserInterface& ui, Files& files,
                                     const std::vector<std::string>& paths,
                                     const RunOptions& options) {
  platform::HoldInterrupts hold;
  std::vector<FileResult> results;
  for (const std::string& path : paths) results.push_back(Result(path, Outcome::Interrupted, ""));
  Leftovers leftovers;
  Preparation preparation(files, options, leftovers);

  std::size_t next = 0;
  bool stopped = false;
  while (next < paths.size() && !stopped) {
    std::vector<Member> group;
    std::uint64_t bytes = 0;
    const std::size_t first = next;
    while (next < paths.size() && group.size() < kGroupFiles && bytes < kGroupBytes) {
      if (platform::InterruptSignal() != 0) {
        stopped = true;
        break;
      }
      Staged staged;
      try {
        results[next] = preparation.Prepare(paths[next], staged);
      } catch (const platform::Interrupted&) {
        // The file at hand rolled itself back.
        results[next] = Result(paths[next], Outcome::Interrupted, "");
        ++next;
        stopped = true;
        break;
      } catch (...) {
        results[next] =
            Result(paths[next], Outcome::Failed, ErrorBoxText(MessageOf(std::current_exception())));
      }
      if (staged.output) {
        bytes += staged.input->Identity().size;
        group.push_back({next, std::move(staged)});
      }
      ++next;
    }
    if (stopped) {
      // Nothing of this group has changed its name: all of it rolls back.
      for (Member& m : group) {
        Abandon(files, m.staged);
        results[m.index] = Result(paths[m.index], Outcome::Interrupted, "");
      }
      group.clear();
    }
    CommitGroup(files, group, results);
    for (std::size_t i = first; i < next; ++i) ui.FileDone(results[i]);
  }
  return results;
}

Outcome RunConversion(UserInterface& ui, Files& files, const RunOptions& options) {
  WaitCursor wait(ui);
  std::optional<std::string> chosen;
  try {
    chosen = ui.ChooseFile();
  } catch (...) {
    wait.End();
    ui.ShowError(ErrorBoxText(MessageOf(std::current_exception())));
    return Outcome::Failed;
  }
  if (!chosen) return Outcome::Cancelled;
  const FileResult result = ConvertFiles(ui, files, {*chosen}, options).front();
  wait.End();
  if (result.outcome == Outcome::Failed) {
    ui.ShowError(result.message);
  } else if (result.outcome != Outcome::Interrupted) {
    ui.ShowInformation(result.message);
  }
  return result.outcome;
}

}  // namespace kvo
