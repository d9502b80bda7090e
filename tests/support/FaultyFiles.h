// The system's files, with one chosen call made to fail: counts every call of
// the file layer that changes or reads the disk (open, read, create, write,
// complete, times, rewind, fsync, close, link, rename, replace, remove,
// fsyncdir) and fails the k-th as the system would, with the system's own
// error code. A hook sees each counted call first.
#pragma once

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "Files.h"
#include "ForwardingFiles.h"

namespace kvo::test {

// The error a disk gives for a failed read or write.
#ifdef _WIN32
inline constexpr int kIoError = 1117;  // ERROR_IO_DEVICE
#else
inline constexpr int kIoError = EIO;
#endif

class FaultyFiles : public ForwardingFiles {
 public:
  explicit FaultyFiles(long failAt = 0, platform::Files& real = platform::SystemFiles())
      : ForwardingFiles(real), failAt_(failAt) {}

  std::unique_ptr<platform::InputFile> OpenRead(const std::string& path) override;
  std::unique_ptr<platform::InputFile> OpenToLook(const std::string& path) override;
  std::unique_ptr<platform::OutputFile> CreateNew(const std::string& path) override;
  void SyncFiles(std::span<platform::OutputFile* const> files) override;
  bool LinkNoReplace(const std::string& from, const std::string& to) override;
  void RenameNoReplace(const std::string& from, const std::string& to) override;
  void RenameReplace(const std::string& from, const std::string& to) override;
  bool Exchange(const std::string& a, const std::string& b) override;
  void Remove(const std::string& path) override;
  bool RemoveUnlessHeld(const std::string& path) override;
  bool RenamesOpenFiles() const override { return !noOpenRenames && real_.RenamesOpenFiles(); }
  std::vector<platform::FolderEntry> List(const std::string& folder) override {
    if (looks) Call("list");
    return real_.List(folder);
  }
  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override {
    if (looks) Call("statfs");
    return real_.FreeBytes(folder);
  }
  std::optional<platform::FileIdentity> IdentityOf(const std::string& path) override {
    if (looks) Call("stat");
    auto id = real_.IdentityOf(path);
    if (id && noChangeTime) id->changed = 0;
    return id;
  }
  void SyncFolder(const std::string& folder) override;
  // Where open files are marked (noOpenRenames): whether one holds path.
  static bool OpenedByAny(const std::string& path);
  std::size_t OpenFilesAllowed() override {
    return openFilesAllowed != 0 ? openFilesAllowed : real_.OpenFilesAllowed();
  }

  // Every call is counted; the one numbered failAt (from 1) fails, and with
  // failFrom every call from then on.
  void Call(const char* what);
  long calls() const { return calls_; }
  const std::vector<std::string>& log() const { return log_; }
  bool failFrom = false;
  // The code the failing calls fail with (errno, or the Windows error code).
  int error = kIoError;
  // Calls of this kind fail from now on, counted or not (a disk that is
  // full fails every "write").
  std::string failing;
  // Only calls of this kind count ("" for all).
  std::string only;
  // Runs before each counted call, with its number and kind.
  std::function<void(long, const std::string&)> before;
  // As a file system without hard links (FAT): every link is refused, and
  // so is a swap of two names.
  bool noHardLinks = false;
  // As a system that cannot swap two names in one step (Windows, FUSE).
  bool noExchange = false;
  // As a process that may hold only this many files open (0: as it may).
  std::size_t openFilesAllowed = 0;
  // Which file system a new file is on, by its path: a folder whose files
  // lie on several (0: the real one).
  std::function<std::uint64_t(const std::string&)> device;
  // As a disk that keeps no change time (FAT, exFAT through FUSE): a file's
  // identity shows none, and a new file says so.
  bool noChangeTime = false;
  // As Windows: no open file is renamed or replaced, and a rename over a
  // name that another opener (of any process) holds open fails, as the
  // Windows layer says it (Problem::Locked).
  bool noOpenRenames = false;
  // Counts the calls that only look, too: stat, list and statfs.
  bool looks = false;

 private:
  long failAt_;
  long calls_ = 0;
  std::vector<std::string> log_;
};

}  // namespace kvo::test
