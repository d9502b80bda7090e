// The run's own parts, shared by its operations: how one file is met and
// prepared, how a group's members step through their commit, and how each
// step's outcome is settled. Not for the front ends: they see Run.h.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "Commit.h"
#include "Container.h"
#include "Errors.h"
#include "FileList.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Metered.h"
#include "Names.h"
#include "Paths.h"
#include "Standing.h"
#include "Summary.h"

namespace kvo::run {

using platform::FileError;
using platform::Files;

// The process may open no more files: the file at hand waits for the next
// group, which starts with the files of this one let go of.
struct OutOfFiles {};

// A FileError of the file at hand: out of open files, the file waits for the
// next group; anything else goes on as it is.
[[noreturn]] void Rethrow(const FileError& e);

// "1.0", "1.1", or nothing, as a header says.
const char* VersionName(const Header& header);

// A file of the group being committed.
struct Member {
  std::size_t index;  // in the run's files
  Staged staged;
};

// Takes each member of a group one step of its commit; those that made it,
// by folder. The step throws KvoError for a member that did not, or
// Interrupted where a signal stopped its copy; either way the step took back
// what it made.
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
    } catch (const platform::Interrupted&) {
      Settle(results[m.index], Outcome::Interrupted, kInterruptedText);
    }
  }
  return folders;
}

// The folder flush after the last step: where it fails, the members' new
// names are in place but not confirmed on the disk, as text says.
void ConfirmFolder(Files& files, const std::string& folder, const std::vector<Member*>& members,
                   std::vector<FileResult>& results, const char* text);

using FileKey = std::pair<std::uint64_t, std::uint64_t>;  // device and index
FileKey KeyOf(const platform::FileIdentity& id);

// A buffer kept from file to file and grown as needed: its memory is had
// once per run, not once per file.
class Scratch {
 public:
  // Up to n bytes read from in: as many as it gave.
  std::span<const std::uint8_t> Fill(ByteSource& in, std::size_t n) {
    if (n > size_) {
      bytes_.reset();
      bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(n);
      size_ = n;
    }
    return {bytes_.get(), ReadFully(in, std::span(bytes_.get(), n))};
  }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
};

// One file of a run, from its name to what its operation stages for the
// group's commit (or to the reason it goes no further). The parts common
// to every operation are in Prepare.cpp; conversion's in Convert.cpp,
// status and verify's in Look.cpp, undo's in Undo.cpp.
class Preparation {
 public:
  Preparation(UserInterface& ui, Files& files, const RunOptions& options, Leftovers& leftovers)
      : ui_(ui), files_(files), options_(options), leftovers_(leftovers) {}

  // Undo takes a file with several names back under the one whose backup is
  // there, whichever the walk meets first; the others are its second names.
  // A name of another file's backup is that backup's second name.
  void Plan(const std::vector<FileToConvert>& list);

  // Settles result, or leaves the file staged for its group's commit.
  void Prepare(std::size_t index, const FileToConvert& entry, FileResult& result, Staged& staged);

  // Forgets the file at index, which waits for the next group.
  void Retry(std::size_t index);

  // A second name of a file this run dealt with: a run cut short may have
  // worked through it, and what it left goes, while this run holds the
  // file; result's detail says what went. Once its group has let go of it.
  void ClearForSecondName(FileResult& result);

 private:
  struct Seen {
    // In the run's files; none for the backup of a file this undo puts back.
    std::optional<std::size_t> index;
    std::string name;     // as it was chosen
    std::string path;     // links followed
    const char* version;  // "1.0", "1.1" or nothing, as its header says
  };

  void PlanWritable(const std::vector<FileToConvert>& list);
  TableSets& Tables() { return options_.tables != nullptr ? *options_.tables : ProcessTables(); }
  const char* VersionAt(const std::string& path);
  // path: a second name of the file met first as name.
  void SameFile(FileResult& result, const std::string& name, const char* version);
  void OwnBackup(FileResult& result, Staged& staged, const std::string& path);
  std::optional<platform::FileIdentity> IdentityOf(const std::string& path);
  // The file (its path) whose backup, under path, this run is putting
  // back, if any.
  std::optional<std::string> PuttingBack(const std::string& path);

  // Convert.cpp
  void Stage(FileResult& result, Staged& staged, const std::string& path,
             std::unique_ptr<platform::FolderHold> folder, std::unique_ptr<platform::InputFile> in,
             Seen& seen);
  bool HoldsOriginal(Staged& staged);

  // Look.cpp
  void Look(FileResult& result, Staged& staged, const std::string& path,
            std::unique_ptr<platform::FolderHold> folder,
            std::unique_ptr<platform::InputFile> opened = nullptr);

  // Undo.cpp
  void StageUndo(FileResult& result, Staged& staged, const std::string& path,
                 std::unique_ptr<platform::FolderHold> folder, Finding& found);
  void PrepareAlone(FileResult& result, Staged& staged, const std::string& backup,
                    std::string path = {});
  bool DropTwin(const Finding& found, const std::string& backup, const std::string& path);

  UserInterface& ui_;
  Files& files_;
  const RunOptions& options_;
  Leftovers& leftovers_;
  // Each file opened in this run, and how it was met.
  std::map<FileKey, Seen> seen_;
  // Undo: the names that are second names of another's file, and what they
  // hold (name met first, version).
  std::map<std::size_t, std::pair<std::string, const char*>> planned_;
  // A file read whole.
  Scratch whole_;
  // The backup names this run's conversions take, and whose each is: two
  // files of one name but its case (x.dat, x.DAT) would share one.
  std::map<std::string, std::string> backupsTaken_;
};

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
      ++held_;
    }
    ready_.notify_one();
  }

  // Waits until the helper holds at most n files: what it still holds
  // counts against the process's limit of open files. Whether it held any.
  bool WaitUntilHolding(std::size_t n) {
    std::unique_lock lock(mutex_);
    const bool any = held_ > 0;
    released_.wait(lock, [&] { return held_ <= n; });
    return any;
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      ready_.wait(lock, [this] { return done_ || !queue_.empty(); });
      if (queue_.empty()) return;
      auto batch = std::move(queue_);
      queue_.clear();
      const std::size_t n = batch.size();
      lock.unlock();
      batch.clear();  // only read: a close cannot lose anything
      lock.lock();
      held_ -= n;
      released_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_, released_;
  std::vector<std::unique_ptr<platform::InputFile>> queue_;
  std::size_t held_ = 0;  // queued or being let go of
  bool done_ = false;
  std::thread thread_;
};

// Conversion's commit of a group (Convert.cpp).
void CommitConversion(Files& files, std::vector<Member>& group, std::vector<FileResult>& results,
                      UserInterface& ui);

// Undo's commit of a group (Undo.cpp).
void RestoreGroup(Files& files, std::vector<Member>& group, std::vector<FileResult>& results,
                  Releaser& releaser, UserInterface& ui);

}  // namespace kvo::run
