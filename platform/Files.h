// The thin file layer under the conversion run: open, read, write, flush,
// close, links and renames. One implementation per operating system; tests
// wrap it to make single calls fail.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "Stream.h"

namespace kvo::platform {

// What kept a file from being opened, in words a user can act on.
enum class Problem {
  Other,
  Missing,
  NoAccess,
  Locked,
  NotRegular,
  // A folder where a file was expected: one whose files could not be listed.
  Folder,
  TooLong,
  // The process holds as many files open as it may: no fault of the file.
  TooManyOpen,
  // The disk gives no locks (a network share without its lock service).
  NoLock,
  // The disk, or the user's share of it, is full.
  Full,
};

// A failed file operation: what() names the call and the path, for
// diagnostics; the system's error code gives the user's reason (Reason()).
class FileError : public std::runtime_error {
 public:
  explicit FileError(const std::string& what, Problem problem = Problem::Other, int code = 0)
      : std::runtime_error(what), problem_(problem), code_(code) {}
  Problem problem() const { return problem_; }
  // errno, or the Windows error code; 0 where no call of the system failed.
  int code() const { return code_; }

 private:
  Problem problem_;
  int code_;
};

// Why the system refused, in words a user knows, in German: our own for the
// common reasons, the system's own (on Windows in the user's language) for
// the rest; never a call's name, a path or English words.
std::string Reason(const FileError& error);
// The same for a failure that the system gave no code for.
std::string ProblemReason(Problem problem);
// What a system error code (errno, or the Windows error code) means for the
// user.
Problem ProblemOf(int code);

// Which file a name stands for, and in which state: two looks at the same,
// unchanged file give equal identities.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;  // the file's number on its device
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds, in the system's own epoch
  // When the file last changed in any way, in nanoseconds: unlike the
  // modification time, no program can set it back, so a file rewritten in
  // place with its size and time kept still shows. 0 where the system has
  // none.
  std::int64_t changed = 0;
  bool SameFile(const FileIdentity& other) const {
    return device == other.device && index == other.index;
  }
  // The same file, its size and time as they were; only its change time may
  // differ, as a second name or a rename of the run's own changes it.
  bool SameBytes(const FileIdentity& other) const {
    return SameFile(other) && size == other.size && modified == other.modified;
  }
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What a new file takes over from its original, in the system's own terms:
// the open original (its access lists and extended attributes are read from
// it), its permission bits and owner (on Windows its attributes), its times.
struct FileAttributes {
  std::intptr_t handle = -1;  // the descriptor, or the HANDLE
  std::uint32_t mode = 0;     // permission bits, or FILE_ATTRIBUTE_*
  std::uint32_t owner = 0, group = 0;
  // In nanoseconds (POSIX) or FILETIME's ticks.
  std::int64_t created = 0, accessed = 0, modified = 0;
};

class InputFile : public ByteSource {
 public:
  // Read() throws FileError when the system reports an error.
  virtual void Close() = 0;
  // Opened to look without the moment's lock a look takes, as the disk
  // gives none: a run may have held it meanwhile.
  virtual bool Unlocked() const { return false; }
  // Back to the first byte, through the same locked handle.
  virtual void Rewind() = 0;
  // The file as it was when it was opened.
  virtual const FileIdentity& Identity() const = 0;
  virtual const FileAttributes& Attributes() const = 0;
};

class OutputFile : public ByteSink {
 public:
  // Every byte is written: the file takes the permission bits of original
  // (until now it was its creator's alone) and, where the process may change
  // them, its owner and group; and the system may start putting it on the
  // disk, ahead of the flush that waits for it. Where the system has them,
  // the original's access list and extended attributes come along. The
  // original stays open until Finish (or a later call) has waited for it.
  virtual void Complete(const InputFile& original) = 0;
  // The file takes the original's times as well: a copy that stands in for it.
  virtual void KeepTimes(const InputFile& original) = 0;
  // Write and Complete may hand the bytes to the system later, on a thread
  // of their own, while the caller goes on; each later call waits for them.
  // Waits until the system has them all; throws the failure of any.
  virtual void Finish() {}
  // Puts this file's bytes on the disk.
  virtual void Sync() = 0;
  // Puts everything written to this file's file system on the disk, this
  // file's bytes among it: one call for many files. Where the system has no
  // such call, this file's bytes alone.
  virtual void SyncFileSystem() = 0;
  // Which file system holds the file; 0 where that cannot be told.
  virtual std::uint64_t Device() const = 0;
  // Whether its file system keeps a change time of its own, found out on
  // this file while it is new: its times are set back and then to now. Where
  // the change time follows the modification time (FAT and exFAT through
  // FUSE), a program that writes in place and puts the time back leaves the
  // file's identity as it was.
  virtual bool KeepsChangeTime() = 0;
  virtual void Close() = 0;
};

// A folder kept open by the run while it works in it.
class FolderHold {
 public:
  virtual ~FolderHold() = default;
};

struct FolderEntry {
  std::string name;
  bool folder = false;  // a real folder, not a link to one
};

class Files {
 public:
  virtual ~Files() = default;
  // While the hold lives, every call on a name in this folder works in the
  // folder that was opened here, even when it is renamed or moved meanwhile:
  // the run follows it instead of losing track of its files.
  virtual std::unique_ptr<FolderHold> HoldFolder(const std::string& folder) = 0;
  // The full path of the file that path names, links followed.
  virtual std::string Resolve(const std::string& path) = 0;
  // Opens an existing regular file for reading, locked against every other
  // opener until it is closed. Anything else (missing, locked, a folder, a
  // device or pipe, a file the system keeps from being renamed or replaced)
  // fails without waiting and without a byte read.
  virtual std::unique_ptr<InputFile> OpenRead(const std::string& path) = 0;
  // Opens an existing regular file only to read it, keeping it from no one:
  // a run that opens it meanwhile is not refused. Fails as OpenRead does,
  // and with Problem::Locked while another run holds the file. A file the
  // system keeps from being changed is read all the same, and so is one on
  // a disk that gives no locks (Unlocked says so); OpenRead fails there
  // with Problem::NoLock.
  virtual std::unique_ptr<InputFile> OpenToLook(const std::string& path) = 0;
  // Creates a file that must not exist yet, readable by its creator only,
  // and held with the same lock as OpenRead's until it is closed.
  virtual std::unique_ptr<OutputFile> CreateNew(const std::string& path) = 0;
  // Puts what was written to these files on the disk: together, where the
  // system can, rather than one by one. They stay open. The files may come
  // from a layer over this one: only OutputFile's own calls are made.
  virtual void SyncFiles(std::span<OutputFile* const> files) = 0;
  // Gives the file from a second name. False, changing nothing, where the
  // file system has no hard links; throws when to exists.
  virtual bool LinkNoReplace(const std::string& from, const std::string& to) = 0;
  // Renames; fails, and changes nothing, when a file of the new name exists.
  virtual void RenameNoReplace(const std::string& from, const std::string& to) = 0;
  // Renames in one step, replacing what has the new name: at every moment to
  // names either the old file or the new one. Fails with Problem::Locked,
  // changing nothing, where the system replaces no file another opener
  // holds (Windows).
  virtual void RenameReplace(const std::string& from, const std::string& to) = 0;
  // Swaps the files of two existing names in one step. False, changing
  // nothing, where the file system cannot.
  virtual bool Exchange(const std::string& a, const std::string& b) = 0;
  virtual void Remove(const std::string& path) = 0;
  // Removes a file unless another run holds it (OpenRead's or CreateNew's
  // lock): false, changing nothing, when one does; true when it is gone.
  virtual bool RemoveUnlessHeld(const std::string& path) = 0;
  // Whether an open file can be renamed and replaced while it stays open and
  // locked. Windows replaces no open file.
  virtual bool RenamesOpenFiles() const = 0;
  // The name itself (a link is not followed); nothing when there is none.
  virtual std::optional<FileIdentity> IdentityOf(const std::string& path) = 0;
  // What a folder holds, in no particular order.
  virtual std::vector<FolderEntry> List(const std::string& folder) = 0;
  // Throws FileError when a file of this name could not be made in its
  // folder (no write access, a name too long), without making one.
  virtual void CheckCreatable(const std::string& path) = 0;
  // Throws FileError where the system would refuse to rename over path or
  // remove it (another user's file in a shared folder, one with the sticky
  // bit), without changing anything.
  virtual void CheckReplaceable(const std::string& path) = 0;
  // How many bytes the folder's file system can still take; nothing when
  // the system does not say.
  virtual std::optional<std::uint64_t> FreeBytes(const std::string& folder) = 0;
  // Makes the renames and creations in a folder durable.
  virtual void SyncFolder(const std::string& folder) = 0;
  // How many files the process may hold open at once, raised as far as the
  // system lets it.
  virtual std::size_t OpenFilesAllowed() = 0;
};

// The operating system's files.
Files& SystemFiles();

}  // namespace kvo::platform
