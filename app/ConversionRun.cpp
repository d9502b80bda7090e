#include "ConversionRun.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <system_error>
#include <thread>

#include "Commit.h"
#include "Container.h"
#include "Errors.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Paths.h"
#include "Standing.h"

namespace kvo {

namespace {

using platform::FileError;
using platform::Files;

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
// while the helper thread lets go of them during the next group.
std::size_t GroupFiles(Files& files, Operation operation) {
  const std::size_t allowed = files.OpenFilesAllowed();
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

// The reason behind the message: the system's words, or which file is in
// the way.
std::string DetailOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const KvoError& e) {
    return e.detail();
  } catch (const FileError& e) {
    return e.what();
  } catch (...) {
    return {};
  }
}

void Settle(FileResult& result, Outcome outcome, std::string message, std::string detail = {}) {
  result.outcome = outcome;
  result.message = std::move(message);
  result.detail = std::move(detail);
  result.openProblem.reset();
}

// Whether the original still holds the bytes and the place it had when it
// was opened: a file cut short meanwhile reads as incomplete.
bool ChangedSince(Files& files, const std::string& path, const platform::InputFile& in) {
  try {
    const auto now = files.IdentityOf(path);
    return !now || *now != in.Identity();
  } catch (const FileError&) {
    return false;
  }
}

// The user cancelled while a file was read or written: it rolls back.
struct Cancelled {};

// Counts the bytes of one file as they are read and written, tells the user
// every few megabytes, and stops there when asked to: until the file is
// complete, nothing of the user's has changed.
class Meter {
 public:
  Meter(UserInterface& ui, std::uint64_t total) : ui_(ui), total_(total) {}
  void Add(std::size_t bytes) {
    done_ += bytes;
    if (done_ - told_ < kStep) return;
    told_ = done_;
    ui_.FileProgress(std::min(done_, total_), total_);
    if (ui_.CancelRequested()) throw Cancelled{};
  }

 private:
  static constexpr std::uint64_t kStep = std::uint64_t{4} << 20;
  UserInterface& ui_;
  std::uint64_t total_, done_ = 0, told_ = 0;
};

class MeteredSource final : public ByteSource {
 public:
  MeteredSource(ByteSource& in, Meter& meter) : in_(in), meter_(meter) {}
  std::size_t Read(std::span<std::uint8_t> out) override {
    const std::size_t n = in_.Read(out);
    meter_.Add(n);
    return n;
  }
  std::uint64_t Remaining() const override { return in_.Remaining(); }

 private:
  ByteSource& in_;
  Meter& meter_;
};

class MeteredSink final : public ByteSink {
 public:
  MeteredSink(ByteSink& out, Meter& meter) : out_(out), meter_(meter) {}
  void Write(std::span<const std::uint8_t> bytes) override {
    out_.Write(bytes);
    meter_.Add(bytes.size());
  }

 private:
  ByteSink& out_;
  Meter& meter_;
};

// The process may open no more files: the file at hand waits for the next
// group, which starts with the files of this one let go of.
struct OutOfFiles {};

[[noreturn]] void Rethrow(const FileError& e) {
  if (e.problem() == platform::Problem::TooManyOpen) throw OutOfFiles{};
  throw e;
}

using FileKey = std::pair<std::uint64_t, std::uint64_t>;  // device and index

FileKey KeyOf(const platform::FileIdentity& id) {
  return {id.device, id.index};
}

const char* VersionName(const Header& header) {
  switch (VersionOf(header)) {
    case Version::V10:
      return "1.0";
    case Version::V11:
      return "1.1";
    default:
      return nullptr;
  }
}

// One file of a run, from its name to its new bytes beside it (or to the
// reason it goes no further).
class Preparation {
 public:
  Preparation(UserInterface& ui, Files& files, const RunOptions& options, Leftovers& leftovers)
      : ui_(ui), files_(files), options_(options), leftovers_(leftovers) {}

  // Undo takes a file with several names back under the one whose backup is
  // there, whichever the walk meets first; the others are its second names.
  // A name of another file's backup is that backup's second name.
  void Plan(const std::vector<FileToConvert>& list) {
    if (options_.operation != Operation::Undo) return;
    std::map<FileKey, std::vector<std::size_t>> names;
    std::map<FileKey, std::size_t> backups;
    std::vector<bool> hasBackup(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (list[i].backupAlone) continue;
      try {
        const std::string path = files_.Resolve(list[i].path);
        const auto id = files_.IdentityOf(path);
        if (!id) continue;
        names[KeyOf(*id)].push_back(i);
        if (const auto backup = files_.IdentityOf(BackupPath(path))) {
          hasBackup[i] = !backup->SameFile(*id);
          if (hasBackup[i]) backups.emplace(KeyOf(*backup), i);
        }
      } catch (const FileError&) {
        // The run says what is wrong with it.
      }
    }
    for (const auto& [key, indices] : names) {
      std::size_t owner = indices.front();
      for (const std::size_t i : indices) {
        if (hasBackup[i]) {
          owner = i;
          break;
        }
      }
      for (const std::size_t i : indices) {
        if (i != owner) planned_[i] = {list[owner].path, VersionAt(list[i].path)};
      }
      if (const auto b = backups.find(key); b != backups.end()) {
        for (const std::size_t i : indices) {
          planned_[i] = {BackupPath(list[b->second].path), "1.0"};
        }
      }
    }
  }

  // Settles result, or leaves the file staged for its group's commit.
  void Prepare(std::size_t index, const FileToConvert& entry, FileResult& result, Staged& staged) {
    result.operation = options_.operation;
    if (entry.backupAlone) {
      PrepareAlone(result, staged, entry.path);
      return;
    }
    const std::string& chosen = result.path;
    std::unique_ptr<platform::InputFile> in;
    std::unique_ptr<platform::FolderHold> folder;
    std::string path;
    try {
      // A link is followed: the file it points to is converted in its own
      // folder, and the link then points at the new file.
      path = files_.Resolve(chosen);
      folder = files_.HoldFolder(platform::FolderOf(path));
      // A file has one backup name; the backup itself is never converted.
      if (IsOwnBackup(files_, path, BackupPath(path))) {
        OwnBackup(result, staged, path);
        return;
      }
      if (const auto plan = planned_.find(index); plan != planned_.end()) {
        SameFile(result, plan->second.first, plan->second.second);
        return;
      }
      // Each file once, however many names lead to it.
      if (const auto id = files_.IdentityOf(path)) {
        const auto seen = seen_.find(KeyOf(*id));
        if (seen != seen_.end() && seen->second.index != index) {
          // Another name in a folder keeps the file it had; the same name,
          // or a link to it, holds whatever the first now holds.
          SameFile(result, seen->second.name,
                   seen->second.path != path ? seen->second.version : nullptr);
          return;
        }
      }
      const bool look =
          options_.operation == Operation::Status || options_.operation == Operation::Verify;
      in = look ? files_.OpenToLook(path) : files_.OpenRead(path);
    } catch (const FileError& e) {
      if (e.problem() == platform::Problem::TooManyOpen) throw OutOfFiles{};
      if (options_.operation != Operation::Convert) {
        // Missing, or not to be opened: Examine says which.
        Look(result, staged, path.empty() ? chosen : path, std::move(folder));
        return;
      }
      Settle(result, Outcome::WrongVersion, kWrongVersionText);
      result.openProblem = e.problem();
      if (e.problem() == platform::Problem::Locked && Leftovers::AnyFor(files_, path)) {
        result.detail = kBusyDetail;  // held by another run of this tool
      } else if (e.problem() == platform::Problem::Missing && !path.empty() &&
                 IdentityOf(BackupPath(path))) {
        result.detail = BackupAloneDetail(path, platform::NameOf(BackupPath(path)));
      }
      return;
    }
    Seen& seen = seen_[KeyOf(in->Identity())];
    seen = {index, chosen, path, nullptr};
    if (options_.operation != Operation::Convert) {
      Look(result, staged, path, std::move(folder), std::move(in));
      return;
    }

    Header header{};
    std::size_t got = 0;
    try {
      got = ReadFully(*in, header);
    } catch (const FileError& e) {
      Settle(result, Outcome::Failed, ErrorBoxText(kReadFailedText), e.what());
      return;
    }
    if (got == header.size()) seen.version = VersionName(header);
    if (got != header.size() || !CheckHeader0(header)) {
      const bool converted = got == header.size() && header == kHeader;
      // What a run that ended after its last rename may have left beside it.
      if (converted && !options_.checkOnly) leftovers_.RemoveFor(files_, path);
      Settle(result, converted ? Outcome::AlreadyConverted : Outcome::WrongVersion,
             kWrongVersionText, converted ? kAlreadyConvertedDetail : "");
      return;
    }

    staged = {};
    staged.folder = std::move(folder);
    staged.path = path;
    staged.backup = BackupPath(path);
    staged.input = std::move(in);
    // Only temporary files that no run holds are cleared away; one that is
    // held means another run is converting this file right now.
    if (!options_.checkOnly && !leftovers_.RemoveFor(files_, staged.path)) {
      throw KvoError(kBackupFailedText, kBusyDetail);
    }
    // The backup name is checked first, to spare the work, and again by the
    // link or rename, which never replaces a file.
    if (const auto backup = IdentityOf(staged.backup)) {
      // The original under its backup name already: an earlier run was
      // interrupted before the new file took the name. This run finishes
      // its job.
      staged.resumed = backup->SameFile(staged.input->Identity()) || HoldsOriginal(staged);
      if (!staged.resumed)
        throw KvoError(kBackupFailedText, BackupExistsDetail(platform::NameOf(staged.backup)));
    }

    TableSets& tables = Tables();
    // Read once and written once, the new file about as long as the old.
    Meter meter(ui_, 2 * staged.input->Identity().size);
    const Counts counts = ReadWhole(staged, tables, meter);
    // The format ends with its last block; whatever follows is not carried
    // over, and stays in the backup.
    const std::uint64_t extra = staged.input->Remaining();
    ConvertTables(tables, counts);
    if (options_.checkOnly) {
      CheckCommittable(files_, staged, ConvertedSize(counts));
      staged = {};
      Settle(result, Outcome::Convertible, kConvertibleText,
             extra > 0 ? ExtraBytesDetail(extra, platform::NameOf(BackupPath(path)), true) : "");
      return;
    }

    try {
      CreateTemporary(files_, staged);
    } catch (const FileError& e) {
      Rethrow(e);
    }
    try {
      MeteredSink out(*staged.output, meter);
      WriteDataFile(out, tables, counts);
      staged.output->Complete(*staged.input);
    } catch (const FileError& e) {
      Abandon(files_, staged);
      throw KvoError(kOutputFailedText, e.what());
    } catch (...) {
      Abandon(files_, staged);
      throw;
    }
    // Settled once its group is committed.
    Settle(result, Outcome::Converted, kSuccessText,
           extra > 0 ? ExtraBytesDetail(extra, platform::NameOf(staged.backup), false) : "");
  }

  // Forgets the file at index, which waits for the next group.
  void Retry(std::size_t index) {
    std::erase_if(seen_, [index](const auto& entry) { return entry.second.index == index; });
  }

 private:
  struct Seen {
    std::size_t index;    // in the run's files
    std::string name;     // as it was chosen
    std::string path;     // links followed
    const char* version;  // "1.0", "1.1" or nothing, as its header says
  };

  TableSets& Tables() { return options_.tables != nullptr ? *options_.tables : ProcessTables(); }

  // What the header of the file at path says, if it can be read.
  const char* VersionAt(const std::string& path) {
    try {
      auto in = files_.OpenToLook(files_.Resolve(path));
      Header header{};
      if (ReadFully(*in, header) == header.size()) return VersionName(header);
    } catch (const FileError&) {
    }
    return nullptr;
  }

  void SameFile(FileResult& result, const std::string& name, const char* version) {
    Settle(result, Outcome::SameFile, std::string(kSameFileText) + " " + name,
           version != nullptr ? SameFileDetail(version) : "");
  }

  // A backup named as a file: never converted. Beside its data file it is
  // that file's backup, and no failure; alone, undo puts it back.
  void OwnBackup(FileResult& result, Staged& staged, const std::string& path) {
    const Operation op = options_.operation;
    std::optional<std::string> owner;
    try {
      // The backup of a file this run is putting back.
      if (const auto id = files_.IdentityOf(path)) {
        if (const auto it = seen_.find(KeyOf(*id));
            it != seen_.end() && it->second.index == SIZE_MAX)
          owner = platform::NameOf(it->second.path);
      }
    } catch (const FileError&) {
    }
    for (const char* ending : {".dat", ".DAT"}) {
      const std::string data = path.substr(0, path.size() - 4) + ending;
      if (!owner && IdentityOf(data)) owner = platform::NameOf(data);
    }
    if (op == Operation::Undo && !owner) {
      PrepareAlone(result, staged, path);
      return;
    }
    if (op == Operation::Status || op == Operation::Verify || (op == Operation::Undo && owner)) {
      Settle(result, Outcome::Examined, kIsBackupText, owner ? "die Sicherung von " + *owner : "");
      result.standing = Standing::Backup;
      return;
    }
    Settle(result, Outcome::Failed, ErrorBoxText(kBackupFailedText), kOwnBackupDetail);
  }

  // A backup whose data file is missing: undo puts it back under the data
  // file's name; everything else says so, with that way out.
  void PrepareAlone(FileResult& result, Staged& staged, const std::string& backup) {
    const std::string path = backup.substr(0, backup.size() - 4) + ".dat";
    const std::string detail = BackupAloneDetail(path, platform::NameOf(backup));
    result.standing = Standing::BackupAlone;
    if (options_.operation != Operation::Undo || options_.checkOnly) {
      Settle(result, Outcome::Examined, kBackupAloneText, detail);
      return;
    }
    try {
      staged = {};
      staged.folder = files_.HoldFolder(platform::FolderOf(backup));
      staged.path = path;
      staged.backup = backup;
      staged.restoring = files_.OpenRead(backup);
      // What the run that lost the file's name left beside it goes too,
      // unless a run holds it.
      if (!leftovers_.RemoveFor(files_, path)) {
        staged = {};
        Settle(result, Outcome::Failed, ErrorBoxText(kNotUndoneText), kBusyDetail);
        return;
      }
      Header header{};
      if (ReadFully(*staged.restoring, header) != header.size() || !CheckHeader0(header)) {
        staged = {};
        Settle(result, Outcome::Failed, ErrorBoxText(kNotUndoneText),
               platform::NameOf(backup) + " hat nicht Version 1.0");
        return;
      }
    } catch (const FileError& e) {
      staged = {};
      Rethrow(e);
    }
    Settle(result, Outcome::Undone, kUndoneText,
           platform::NameOf(path) + " aus " + platform::NameOf(backup) + " wiederhergestellt");
  }

  // Status, verify and undo: where the file stands, and for undo the
  // original staged to take its name back.
  void Look(FileResult& result, Staged& staged, const std::string& path,
            std::unique_ptr<platform::FolderHold> folder,
            std::unique_ptr<platform::InputFile> opened = nullptr) {
    const std::string backup = BackupPath(path);
    const bool undo = options_.operation == Operation::Undo;
    // Undo clears the temporary files interrupted runs left, while it holds
    // the file and before it opens the backup, a second name of which may
    // be among them; one that another run holds means that run is at work.
    if (undo && opened && !leftovers_.RemoveFor(files_, path)) {
      Settle(result, Outcome::Failed, ErrorBoxText(kNotUndoneText), kBusyDetail);
      return;
    }
    Finding found;
    try {
      found = Examine(files_, path, backup, Tables(), std::move(opened), undo);
    } catch (const FileError&) {
      throw OutOfFiles{};  // the only one that escapes
    }
    result.standing = found.standing;
    if (!undo) {
      Settle(result, Outcome::Examined, StandingText(found.standing, options_.operation),
             std::move(found.detail));
      return;
    }
    switch (found.standing) {
      case Standing::Converted:
        staged = {};
        staged.folder = std::move(folder);
        staged.path = path;
        staged.backup = backup;
        staged.input = std::move(found.file);
        staged.restoring = std::move(found.backup);
        // A second name of the backup is its second name, not a failure.
        seen_[KeyOf(staged.restoring->Identity())] = {SIZE_MAX, backup, path, "1.0"};
        Settle(result, Outcome::Undone, kUndoneText);  // once its group is through
        return;
      case Standing::ToConvert:
      case Standing::Interrupted:  // the original is under its name
        Settle(result, Outcome::Examined, kNothingToUndoText);
        // A twin of the original under the backup name goes too.
        if (found.backupIsTwin && found.file && DropTwin(found, backup)) {
          result.detail = TwinDroppedDetail(platform::NameOf(backup));
        }
        return;
      case Standing::BackupAlone:
        PrepareAlone(result, staged, backup);
        return;
      case Standing::Changed:
        Settle(result, Outcome::Failed, ErrorBoxText(kNotUndoneText),
               std::string(kChangedSinceDetail) + found.detail);
        return;
      case Standing::NoBackup:
        Settle(result, Outcome::Failed, ErrorBoxText(kNotUndoneText),
               found.detail.empty() ? platform::NameOf(backup) + " fehlt" : found.detail);
        return;
      default:
        Settle(
            result, Outcome::Failed, ErrorBoxText(kNotUndoneText),
            found.detail.empty() ? StandingText(found.standing, options_.operation) : found.detail);
        return;
    }
  }

  // Removes a backup that holds the original's very bytes, beside the
  // original under its own name: the end an interrupted undo was making for.
  bool DropTwin(const Finding& found, const std::string& backup) {
    try {
      const platform::FileIdentity expected =
          found.backup ? found.backup->Identity() : found.file->Identity();
      if (files_.IdentityOf(backup) != expected) return false;
      files_.Remove(backup);
      files_.SyncFolder(platform::FolderOf(backup));
      return true;
    } catch (const FileError&) {
      return false;  // left as it was: the original is whole under its name
    }
  }

  Counts ReadWhole(Staged& staged, TableSets& tables, Meter& meter) {
    ClearTables(tables);
    try {
      MeteredSource in(*staged.input, meter);
      return ReadDataFile0(in, tables);
    } catch (const FileError& e) {
      // The system could not give us the whole file: not the file's fault.
      throw KvoError(kReadFailedText, e.what());
    } catch (const KvoError&) {
      // Cut short by another program while it was read?
      if (ChangedSince(files_, staged.path, *staged.input)) throw KvoError(kChangedText);
      throw;
    }
  }

  // Whether the backup is a copy of the original, made by an interrupted run
  // on a file system without hard links. Leaves the original read up to the
  // end of its header again.
  bool HoldsOriginal(Staged& staged) {
    bool same = false;
    try {
      auto backup = files_.OpenRead(staged.backup);
      same = SameBytes(*staged.input, *backup);
      backup->Close();
      staged.input->Rewind();
      Header header{};
      ReadFully(*staged.input, header);
    } catch (const FileError& e) {
      throw KvoError(kBackupFailedText, e.what());
    }
    return same;
  }

  std::optional<platform::FileIdentity> IdentityOf(const std::string& path) {
    try {
      return files_.IdentityOf(path);
    } catch (const FileError& e) {
      throw KvoError(kBackupFailedText, e.what());
    }
  }

  UserInterface& ui_;
  Files& files_;
  const RunOptions& options_;
  Leftovers& leftovers_;
  // Each file opened in this run, and how it was met.
  std::map<FileKey, Seen> seen_;
  // Undo: the names that are second names of another's file, and what they
  // hold (name met first, version).
  std::map<std::size_t, std::pair<std::string, const char*>> planned_;
};

struct Member {
  std::size_t index;  // in the run's files
  Staged staged;
};

void Fail(FileResult& result, const std::string& message, std::string detail = {}) {
  Settle(result, Outcome::Failed, ErrorBoxText(message), std::move(detail));
}

void Fail(FileResult& result, const KvoError& e) {
  Fail(result, e.what(), e.detail());
}

// Takes each member of a group one step of its commit; those that made it,
// by folder. The step throws KvoError for a member that did not.
template <class Step>
std::map<std::string, std::vector<Member*>> StepByFolder(std::vector<Member>& group,
                                                         std::vector<FileResult>& results,
                                                         Step step) {
  std::map<std::string, std::vector<Member*>> folders;
  for (Member& m : group) {
    try {
      step(m.staged);
      folders[platform::FolderOf(m.staged.path)].push_back(&m);
    } catch (const KvoError& e) {
      Fail(results[m.index], e);
    }
  }
  return folders;
}

// The folder flush after the last step: where it fails, the members' new
// names are in place but not confirmed on the disk, as text says.
void ConfirmFolder(Files& files, const std::string& folder, const std::vector<Member*>& members,
                   std::vector<FileResult>& results, const char* text) {
  try {
    files.SyncFolder(folder);
  } catch (const FileError& e) {
    for (Member* m : members) {
      Settle(results[m->index], Outcome::Unconfirmed, ErrorBoxText(text), e.what());
    }
  }
}

// Lets go of the files that undo replaced, on a thread of its own: freeing a
// file's blocks and cached pages costs about as much as reading it, and the
// next group's verification need not wait for that. Where no thread can be
// had, they are let go of at once.
class Releaser {
 public:
  Releaser() = default;
  Releaser(const Releaser&) = delete;
  Releaser& operator=(const Releaser&) = delete;
  ~Releaser() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    ready_.notify_one();
    if (thread_.joinable()) thread_.join();
  }

  void Add(std::unique_ptr<platform::InputFile> file) {
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        return;  // file goes here and now
      }
    }
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(file));
    }
    ready_.notify_one();
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ready_.wait(lock, [this] { return done_ || !queue_.empty(); });
      if (queue_.empty()) return;
      auto batch = std::move(queue_);
      queue_.clear();
      lock.unlock();
      batch.clear();  // only read: a close cannot lose anything
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::unique_ptr<platform::InputFile>> queue_;
  bool done_ = false;
  std::thread thread_;
};

// Undo's commit: each original back under its name (or a backup alone under
// its file's), each folder flushed once; then the backups go, and each
// folder is flushed once more. A signal that came before stops the whole
// group unchanged.
void RestoreGroup(Files& files, std::vector<Member>& group, std::vector<FileResult>& results,
                  Releaser& releaser) {
  if (platform::InterruptSignal() != 0) {
    for (Member& m : group) Settle(results[m.index], Outcome::Interrupted, kInterruptedText);
    return;
  }
  const auto folders = StepByFolder(group, results, [&](Staged& staged) {
    if (staged.input) {
      PutBack(files, staged);
    } else {
      RestoreAlone(files, staged);
    }
  });
  for (const auto& [folder, members] : folders) {
    ConfirmFolder(files, folder, members, results, kUndoNotSyncedText);
    bool dropped = false;
    for (Member* m : members) {
      // Only once the original is on the disk under its name.
      if (results[m->index].outcome != Outcome::Undone || !m->staged.backupToDrop) continue;
      DropBackup(files, m->staged);
      dropped = true;
    }
    if (dropped) ConfirmFolder(files, folder, members, results, kUndoNotSyncedText);
  }
  for (Member& m : group) {
    if (m.staged.input) releaser.Add(std::move(m.staged.input));
  }
}

// Flushes a group's new files together, then gives every original its
// backup, flushes each folder once, puts each new file in place and flushes
// each folder once more. Settles the results of those that fail. A signal
// that came before the backups rolls the whole group back.
void CommitGroup(Files& files, std::vector<Member>& group, std::vector<FileResult>& results,
                 Releaser& releaser) {
  if (group.empty()) return;
  if (group.front().staged.restoring) {
    RestoreGroup(files, group, results, releaser);
    return;
  }
  std::vector<platform::OutputFile*> outputs;
  for (Member& m : group) outputs.push_back(m.staged.output.get());
  try {
    files.SyncFiles(outputs);
    for (Member& m : group) m.staged.output->Close();
  } catch (const FileError& e) {
    for (Member& m : group) {
      Abandon(files, m.staged);
      Fail(results[m.index], kOutputFailedText, e.what());
    }
    return;
  }
  for (Member& m : group) m.staged.output.reset();
  if (platform::InterruptSignal() != 0) {
    for (Member& m : group) {
      Abandon(files, m.staged);
      Settle(results[m.index], Outcome::Interrupted, kInterruptedText);
    }
    return;
  }

  // folder -> its members still on their way
  auto folders = StepByFolder(group, results, [&](Staged& staged) { MakeBackup(files, staged); });
  // Every backup is on the disk before any new file takes a name: a power
  // cut must never leave the new file in place without its backup.
  for (auto it = folders.begin(); it != folders.end();) {
    try {
      SyncFolder(files, it->first);
      ++it;
    } catch (const KvoError& e) {
      for (Member* m : it->second) {
        RollBack(files, m->staged);
        Fail(results[m->index], kBackupFailedText, e.detail());
      }
      it = folders.erase(it);
    }
  }
  for (auto& [folder, members] : folders) {
    std::vector<Member*> placed;
    for (Member* m : members) {
      try {
        PutInPlace(files, m->staged);
        placed.push_back(m);
      } catch (const KvoError& e) {
        Fail(results[m->index], e);
      }
    }
    if (!placed.empty()) ConfirmFolder(files, folder, placed, results, kFolderNotSyncedText);
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
  } else if (result.outcome != Outcome::Interrupted && result.outcome != Outcome::NotReached) {
    ui.ShowInformation(BoxText(result));
  }
  return false;
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
  Preparation preparation(ui, files, options, leftovers);
  preparation.Plan(list);
  const std::size_t total = list.size();
  const std::size_t groupFiles = GroupFiles(files, options.operation);
  const std::uint64_t groupBytes =
      options.operation == Operation::Undo ? kUndoGroupBytes : kGroupBytes;
  Releaser releaser;

  std::size_t next = 0;
  bool stopped = false;
  while (next < total && !stopped) {
    std::vector<Member> group;
    std::uint64_t bytes = 0;
    const std::size_t first = next;
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
        // The group's files are let go of once it is committed; then this
        // file starts the next group. Alone, it is the system's limit.
        preparation.Retry(next);
        results[next] = {};
        results[next].path = list[next].path;
        results[next].inFolder = list[next].inFolder;
        if (!group.empty()) break;
        Fail(results[next], kReadFailedText, kTooManyOpenDetail);
        results[next].operation = options.operation;
      } catch (...) {
        Fail(results[next], MessageOf(std::current_exception()),
             DetailOf(std::current_exception()));
      }
      if (staged.output || staged.restoring) {
        if (staged.input) bytes += staged.input->Identity().size;
        group.push_back({next, std::move(staged)});
      }
      ++next;
    }
    // Cancelled: the files begun are finished, the rest is not begun. A
    // signal rolls back what has not changed names yet.
    CommitGroup(files, group, results, releaser);
    for (std::size_t i = first; i < next; ++i) ui.FileDone(results[i]);
  }
  ui.Progress(next, total, "");
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
  if (ShowOutcome(ui, results, list.size() == 1 && !list.front().inFolder)) {
    // Exactly the files this run converted, each only while it is still
    // exactly what the run made of its backup.
    WaitCursor undoing(ui);
    RunOptions undo = options;
    undo.operation = Operation::Undo;
    const auto undone = ConvertFiles(ui, files, ConvertedIn(results), undo);
    undoing.End();
    ui.ShowSummary(undone, false);
  }
  return results;
}

}  // namespace kvo
