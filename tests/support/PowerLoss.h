// What a power cut can leave of a run, after each of its file-system calls:
// a file layer that records every call that changes the disk, and a model
// of one folder that rebuilds the states a power loss may leave, in the
// manner of ALICE (OSDI 2014) and SQLite's test6.c.
//
// Data written to a file is durable once the file is flushed (or the whole
// file system is). Names made, renamed or removed are durable once their
// folder is flushed (or the whole file system is); until then they survive
// in order, a prefix of them, or, in the pessimistic model, any subset.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Files.h"
#include "ForwardingFiles.h"
#include "TempDir.h"

namespace kvo::test {

// One call that changes the disk. Names are the folder's entries; inode
// numbers are the model's own.
struct DiskOp {
  enum Kind { Create, Write, SyncFile, SyncAll, Link, Rename, Remove, SyncFolder, Exchange } kind;
  int inode = 0;
  std::string from, to;  // names: Create and Remove use from
  std::vector<std::uint8_t> bytes;
  int other = 0;  // Exchange: the inode that had the name to
  // Create: the new file's file system; SyncAll: the one flushed (0: all).
  std::uint64_t device = 0;
};

// Passes every call on to real and records those that change the disk.
// Handles one folder, which holds the files start (name -> bytes) when the
// run begins, second names among them (sameAs: name -> an earlier name of
// its file); given its path as root, its subfolders too, each flushed on its
// own ("sub/name"). Flushes are recorded as the layer below makes them: a
// file's own, or its file system's.
class RecordingFiles final : public ForwardingFiles {
 public:
  RecordingFiles(std::map<std::string, std::vector<std::uint8_t>> start, platform::Files& real,
                 const std::map<std::string, std::string>& sameAs = {},
                 const std::string& root = {});

  std::unique_ptr<platform::OutputFile> CreateNew(const std::string& path) override;
  void SyncFiles(std::span<platform::OutputFile* const> files) override;
  bool LinkNoReplace(const std::string& from, const std::string& to) override;
  void RenameNoReplace(const std::string& from, const std::string& to) override;
  void RenameReplace(const std::string& from, const std::string& to) override;
  bool Exchange(const std::string& a, const std::string& b) override;
  void Remove(const std::string& path) override;
  bool RemoveUnlessHeld(const std::string& path) override;
  void SyncFolder(const std::string& folder) override;

  // The folder as it was at the start: name -> bytes, all durable.
  const std::map<std::string, std::vector<std::uint8_t>>& start() const { return start_; }
  // Each start name's inode: second names share one.
  const std::map<std::string, int>& startInodes() const { return startInodes_; }
  const std::vector<DiskOp>& ops() const { return ops_; }
  const std::filesystem::path& root() const { return root_; }
  void Add(DiskOp op) { ops_.push_back(std::move(op)); }
  int InodeOf(const std::string& path) const;
  int NewInode() { return ++inodes_; }

 private:
  void Moved(const std::string& from, const std::string& to);
  // A path's name in the model: from the root on, its folder's links followed.
  std::string Key(const std::string& path) const;

  std::filesystem::path root_;

  std::map<std::string, std::vector<std::uint8_t>> start_;
  std::map<std::string, int> names_;  // as the run sees them now
  std::vector<DiskOp> ops_;
  int inodes_ = 0;
  std::map<std::string, int> startInodes_;
};

// A folder a power cut may leave: name -> bytes, and which names are one
// file (hard links of one inode share a group number).
struct DiskState {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::map<std::string, int> inode;
};

// Unflushed name changes survive in order (a prefix), in any subset, or all
// but one (the one a reordering disk loses, as ALICE's tests pick it).
enum class Persistence { InOrder, AnySubset, AllButOne };

// Every state a power cut right after the first `done` recorded calls may
// leave, under the model given. Unflushed data is none, half, zeros or all
// of what was written.
// With one, just the state that number picks (which name changes survive,
// which fate the data meets): as many name changes as a run makes.
std::vector<DiskState> StatesAfter(const RecordingFiles& run, std::size_t done, Persistence model,
                                   std::optional<std::uint64_t> one = std::nullopt);

// How many name changes a power cut right after the first `done` recorded
// calls may lose: those since the last flush of the folder.
std::size_t UnflushedNameChanges(const RecordingFiles& run, std::size_t done);

// Puts a state into an empty folder, hard links as hard links.
void Materialize(const DiskState& state, const TempDir& folder);

}  // namespace kvo::test
