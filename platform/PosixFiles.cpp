// The file layer over POSIX (Linux).
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "Files.h"
#include "Interrupts.h"
#include "Paths.h"
#include "WriteBehind.h"

namespace kvo::platform {

Problem ProblemOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return Problem::Missing;
    case ENAMETOOLONG:
      return Problem::TooLong;
    case EACCES:
    case EPERM:
      return Problem::NoAccess;
    case EWOULDBLOCK:
      return Problem::Locked;
    case ENOLCK:
      return Problem::NoLock;
    case ENOSPC:
    case EDQUOT:
      return Problem::Full;
    case ELOOP:  // a link put in place of the resolved name
      return Problem::NotRegular;
    case EMFILE:
    case ENFILE:
      return Problem::TooManyOpen;
    default:
      return Problem::Other;
  }
}

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path) {
  const int error = errno;
  throw FileError(std::string(what) + " " + path + ": " + std::strerror(error), ProblemOf(error),
                  error);
}

[[noreturn]] void NotRegular(const std::string& path, mode_t mode) {
  if (S_ISDIR(mode)) throw FileError("a folder: " + path, Problem::Folder);
  throw FileError("not a regular file: " + path, Problem::NotRegular);
}

std::int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct timespec Timespec(std::int64_t ns) {
  return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

FileIdentity IdentityFrom(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
          static_cast<std::uint64_t>(st.st_size), Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// A file system that keeps no owners at all (FAT through FUSE says "not
// implemented") is one that refuses to change them.
bool OwnerRefused(int error) {
  return error == EPERM || error == ENOSYS || error == EOPNOTSUPP;
}

// Likewise for the permission bits: FAT through FUSE (fusefat) keeps none
// and says "not implemented"; the new file then has what the disk gives
// every file, as the original has.
bool ModeRefused(int error) {
  return error == EPERM || error == ENOSYS || error == EOPNOTSUPP;
}

// A run's lock on a file: refused at once while another run holds it. A
// look (status, verify) holds it shared for a moment only: that is waited
// for, so that no look ever makes a run fail. (Bounded, should another
// program keep a shared lock for good; a signal ends the wait at once.)
void LockForRun(int fd, const std::string& path) {
  for (int tries = 0;; ++tries) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return;
    if (errno != EWOULDBLOCK || tries == 10'000) Fail("lock", path);
    // A shared lock of our own fails only where a run holds the file.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) Fail("lock", path);
    if (::flock(fd, LOCK_UN) != 0) Fail("lock", path);
    ThrowIfInterrupted();
    PauseWhileBusy(1);
  }
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);  // only on paths that already failed
  }
  int get() const { return fd_; }
  void Close(const std::string& path) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail("close", path);
  }

 private:
  int fd_;
};

class PosixInput final : public InputFile {
 public:
  PosixInput(Fd fd, std::string path, const struct stat& st)
      : fd_(std::move(fd)),
        path_(std::move(path)),
        identity_(IdentityFrom(st)),
        remaining_(identity_.size),
        attributes_{fd_.get(),
                    st.st_mode & 07777u,
                    st.st_uid,
                    st.st_gid,
                    0,
                    Nanoseconds(st.st_atim),
                    Nanoseconds(st.st_mtim)} {}

  std::size_t Read(std::span<std::uint8_t> out) override {
    for (;;) {
      const ssize_t n = ::read(fd_.get(), out.data(), out.size());
      if (n >= 0) {
        const auto got = static_cast<std::uint64_t>(n);
        remaining_ -= std::min(remaining_, got);
        return static_cast<std::size_t>(n);
      }
      if (errno != EINTR) Fail("read", path_);
      ThrowIfInterrupted();
    }
  }
  std::uint64_t Remaining() const override { return remaining_; }
  // Up to the end the file had when it was opened.
  std::uint64_t Skip(std::uint64_t n) override {
    const std::uint64_t k = std::min(n, remaining_);
    if (::lseek(fd_.get(), static_cast<off_t>(k), SEEK_CUR) < 0) Fail("seek", path_);
    remaining_ -= k;
    return k;
  }
  void Close() override { fd_.Close(path_); }
  void Rewind() override {
    if (::lseek(fd_.get(), 0, SEEK_SET) != 0) Fail("seek", path_);
    remaining_ = identity_.size;
  }
  const FileIdentity& Identity() const override { return identity_; }
  const FileAttributes& Attributes() const override { return attributes_; }
  bool Unlocked() const override { return unlocked; }
  bool unlocked = false;

 private:
  Fd fd_;
  std::string path_;
  FileIdentity identity_;
  std::uint64_t remaining_;
  FileAttributes attributes_;
};

// The original's extended attributes, its access list among them
// (system.posix_acl_access), onto the new file. What the file system or the
// process's rights do not allow to copy stays behind, as with cp -a; the
// original keeps it under its backup name.
void CopyAttributes(int from, int to, const std::string& path) {
  std::vector<char> names(1024);
  ssize_t n;
  while ((n = ::flistxattr(from, names.data(), names.size())) < 0 && errno == ERANGE) {
    names.resize(names.size() * 4);
  }
  if (n < 0) {
    if (errno == ENOTSUP || errno == ENOSYS) return;  // a disk that keeps none
    Fail("listxattr", path);
  }
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + n; name += std::strlen(name) + 1) {
    ssize_t size = ::fgetxattr(from, name, nullptr, 0);
    if (size < 0) continue;  // gone meanwhile, or not ours to read
    value.resize(static_cast<std::size_t>(size) + 1);
    size = ::fgetxattr(from, name, value.data(), value.size());
    if (size < 0) continue;
    if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) != 0 &&
        errno != EPERM && errno != ENOTSUP) {
      Fail("setxattr", path);
    }
  }
}

// Large blocks go out in pieces: one write of a hundred megabytes makes the
// kernel hold far more dirty pages at once than writeback wants. (Where no
// writing thread can be had, a whole block comes here at once.)
constexpr std::size_t kChunk = std::size_t{1} << 20;

class PosixOutput final : public OutputFile {
 public:
  // device: its file system's, where the caller knows it already.
  PosixOutput(Fd fd, std::string path, std::uint64_t device)
      : fd_(std::move(fd)),
        path_(std::move(path)),
        device_(device),
        lane_([this](std::span<const std::uint8_t> bytes) { WriteNow(bytes); }) {}

  void Write(std::span<const std::uint8_t> bytes) override {
    ThrowIfInterrupted();
    lane_.Write(bytes);
  }

  void Complete(const InputFile& from) override {
    // Behind the last byte: a write by anyone but root clears the set-user-ID
    // and set-group-ID bits, so the mode comes once nothing is left to write.
    // Then writeback starts, while the next files are converted, as Git's
    // batched flush does; the flush later only waits for what is left. (The
    // original stays open until then.)
    lane_.Post([this, original = from.Attributes()] {
      CopyOwnerAndMode(original);
      ::sync_file_range(fd_.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    });
  }

  void KeepTimes(const InputFile& from) override {
    lane_.Wait();
    const timespec times[2] = {Timespec(from.Attributes().accessed),
                               Timespec(from.Attributes().modified)};
    if (::futimens(fd_.get(), times) != 0) Fail("utimens", path_);
  }

  void Finish() override { lane_.Wait(); }
  void Sync() override {
    lane_.Wait();
    if (::fsync(fd_.get()) != 0) Fail("fsync", path_);
  }
  void SyncFileSystem() override {
    lane_.Wait();
    if (::syncfs(fd_.get()) != 0) Fail("syncfs", path_);
  }
  std::uint64_t Device() const override {
    if (device_ != 0) return device_;
    struct stat st {};
    return ::fstat(fd_.get(), &st) == 0 ? static_cast<std::uint64_t>(st.st_dev) : 0;
  }
  bool KeepsChangeTime() override {
    lane_.Wait();
    // 2000-01-01, a moment FAT can hold and no run happens at; both times,
    // as exfat-fuse sets none where one is left out.
    const timespec past[2] = {{946684800, 0}, {946684800, 0}};
    struct stat st {};
    const bool set = ::futimens(fd_.get(), past) == 0 && ::fstat(fd_.get(), &st) == 0 &&
                     st.st_mtim.tv_sec == past[1].tv_sec;
    ::futimens(fd_.get(), nullptr);  // now again; a write sets it anyway
    // Where the time could not be set back, nothing is known: not kept.
    return set && st.st_ctim.tv_sec != st.st_mtim.tv_sec;
  }
  void Close() override {
    lane_.Wait();
    fd_.Close(path_);
  }

 private:
  static constexpr std::uint64_t kWritebackStep = std::uint64_t{16} << 20;

  // On the lane's thread.
  void WriteNow(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
      const std::size_t asked = std::min<std::size_t>(bytes.size(), kChunk);
      const ssize_t n = ::write(fd_.get(), bytes.data(), asked);
      if (n < 0) {
        if (errno == EINTR) continue;
        // A write cut short, then a failure: the disk is full, whatever the
        // driver calls it (fusefat says "not permitted").
        if (cutShort_ && errno != EFBIG && errno != EDQUOT) errno = ENOSPC;
        Fail("write", path_);  // EFBIG past a file-size limit, ENOSPC, EIO, ...
      }
      cutShort_ = static_cast<std::size_t>(n) < asked;
      bytes = bytes.subspan(static_cast<std::size_t>(n));
      written_ += static_cast<std::uint64_t>(n);
    }
    // A large file's writeback starts as it is written, in steps, so that
    // the disk works while the rest is converted; the flush at the end
    // then waits only for the last step, as it does for a small file.
    if (written_ - kicked_ >= kWritebackStep) {
      ::sync_file_range(fd_.get(), static_cast<off_t>(kicked_),
                        static_cast<off_t>(written_ - kicked_), SYNC_FILE_RANGE_WRITE);
      kicked_ = written_;
    }
  }

  // The owner first: a change of owner clears the set-id bits. Only root
  // may give a file away, and only a member may give it a group; anyone
  // else keeps the new file as theirs, as copying it would.
  void CopyOwnerAndMode(const FileAttributes& original) {
    if (::fchown(fd_.get(), original.owner, original.group) != 0) {
      if (!OwnerRefused(errno)) Fail("chown", path_);
      if (::fchown(fd_.get(), static_cast<uid_t>(-1), original.group) != 0 &&
          !OwnerRefused(errno)) {
        Fail("chown", path_);
      }
    }
    if (::fchmod(fd_.get(), original.mode) != 0 && !ModeRefused(errno)) Fail("chmod", path_);
    // After the mode: an access list sets the group bits to its mask.
    CopyAttributes(static_cast<int>(original.handle), fd_.get(), path_);
  }

  Fd fd_;
  std::string path_;
  std::uint64_t device_;
  std::uint64_t written_ = 0, kicked_ = 0;  // the lane's
  bool cutShort_ = false;                   // the lane's: the last write took less than asked
  Lane lane_;                               // gone before fd_: nothing is written to a closed file
};

// A folder's key among the held ones: "a/" and "a" are the same folder.
std::string FolderKey(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// A name as the calls take it: relative to a held folder's descriptor, or
// the path itself.
struct At {
  int folder;
  std::string name;
  const char* c_str() const { return name.c_str(); }
};

class PosixFiles final : public Files {
 public:
  std::unique_ptr<FolderHold> HoldFolder(const std::string& folder) override {
    const std::string key = FolderKey(folder);
    std::lock_guard lock(mutex_);
    auto it = held_.find(key);
    if (it == held_.end()) {
      // Without read access the folder cannot be opened: its names are used
      // as they are, as before.
      const int fd = ::open(key.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd < 0) return std::make_unique<FolderHold>();
      // Its file system is the one of every file made in it: looked up once.
      struct stat st {};
      const std::uint64_t device =
          ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_dev) : 0;
      it = held_.emplace(key, Held{fd, 0, device}).first;
    }
    ++it->second.holds;
    return std::make_unique<Hold>(*this, key);
  }

  std::string Resolve(const std::string& path) override {
    // Only a link needs following; a folder on the way that is a link leads
    // to the same folder either way.
    struct stat st {};
    const At at = Locate(path);
    if (::fstatat(at.folder, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) Fail("stat", path);
    if (!S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) Fail("realpath", path);
    std::string resolved(real);
    std::free(real);
    return resolved;
  }

  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    Fd fd = OpenRegular(path);
    // Like a share mode of 0: a second run, or another program taking the
    // same lock, cannot open the file meanwhile.
    LockForRun(fd.get(), path);
    // chattr +i or +a: not even root may rename or replace it.
    int flags = 0;
    if (::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 &&
        (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0) {
      errno = EPERM;
      Fail("immutable or append-only (chattr)", path);
    }
    return Input(std::move(fd), path);
  }

  std::unique_ptr<InputFile> OpenToLook(const std::string& path) override {
    Fd fd = OpenRegular(path);
    // A shared lock fails only where a run holds the file; let go of at once,
    // so that a run starting now is not refused. A disk without locks is
    // read all the same.
    const bool locked = ::flock(fd.get(), LOCK_SH | LOCK_NB) == 0;
    if (!locked && errno != ENOLCK) Fail("lock", path);
    if (locked && ::flock(fd.get(), LOCK_UN) != 0) Fail("lock", path);
    auto file = Input(std::move(fd), path);
    static_cast<PosixInput&>(*file).unlocked = !locked;
    return file;
  }

  std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
    // 0600: nobody else reads the new bytes before they have the original's
    // permissions.
    const At at = Locate(path);
    Fd fd(::openat(at.folder, at.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                   0600));
    if (fd.get() < 0) Fail("create", path);
    // Held like an original: another run sees it is in use, not left over.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) Fail("lock", path);
    return std::make_unique<PosixOutput>(std::move(fd), path, HeldDevice(FolderOf(path)));
  }

  void SyncFiles(std::span<OutputFile* const> files) override {
    // Every file's bytes with the system first: a flush of the file system
    // puts only those on the disk.
    for (OutputFile* file : files) file->Finish();
    // One file: its own flush. Several: one flush per file system, Git's
    // batched flush in its safe form.
    if (files.size() == 1) {
      files[0]->Sync();
      return;
    }
    std::set<std::uint64_t> done;
    for (OutputFile* file : files) {
      if (done.insert(file->Device()).second) file->SyncFileSystem();
    }
  }

  bool LinkNoReplace(const std::string& from, const std::string& to) override {
    const At a = Locate(from), b = Locate(to);
    if (::linkat(a.folder, a.c_str(), b.folder, b.c_str(), 0) == 0) return true;
    switch (errno) {
      case EPERM:  // FAT and exFAT; also where hard links to others' files are barred
      case EOPNOTSUPP:
      case ENOSYS:
      case EMLINK:
        return false;
      default:
        Fail("link", from);
    }
  }

  void RenameNoReplace(const std::string& from, const std::string& to) override {
    const At a = Locate(from), b = Locate(to);
    if (::renameat2(a.folder, a.c_str(), b.folder, b.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) Fail("rename", from);
    // The filesystem knows no RENAME_NOREPLACE. A hard link fails just the
    // same when the new name exists; then the old name goes.
    if (::linkat(a.folder, a.c_str(), b.folder, b.c_str(), 0) == 0) {
      if (::unlinkat(a.folder, a.c_str(), 0) != 0) Fail("unlink", from);
      return;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) Fail("link", from);
    // No hard links either (exFAT through FUSE): look, then rename. Only
    // another program creating the name in between could be replaced.
    struct stat st {};
    if (::fstatat(b.folder, b.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      errno = EEXIST;
      Fail("rename", from);
    }
    if (errno != ENOENT) Fail("stat", to);
    if (::renameat(a.folder, a.c_str(), b.folder, b.c_str()) != 0) Fail("rename", from);
  }

  void RenameReplace(const std::string& from, const std::string& to) override {
    const At a = Locate(from), b = Locate(to);
    if (::renameat(a.folder, a.c_str(), b.folder, b.c_str()) != 0) Fail("rename", from);
  }

  bool Exchange(const std::string& a, const std::string& b) override {
    const At x = Locate(a), y = Locate(b);
    if (::renameat2(x.folder, x.c_str(), y.folder, y.c_str(), RENAME_EXCHANGE) == 0) return true;
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP) return false;
    Fail("exchange", a);
  }

  void Remove(const std::string& path) override {
    const At at = Locate(path);
    if (::unlinkat(at.folder, at.c_str(), 0) != 0) Fail("unlink", path);
  }

  bool RemoveUnlessHeld(const std::string& path) override {
    const At at = Locate(path);
    Fd fd(
        ::openat(at.folder, at.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    if (fd.get() < 0) {
      if (errno == ENOENT) return true;
      Fail("open", path);
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) return false;
      Fail("lock", path);
    }
    // Removed while locked: a run that opens it now finds nothing to take.
    Remove(path);
    fd.Close(path);
    return true;
  }

  bool RenamesOpenFiles() const override { return true; }

  std::optional<FileIdentity> IdentityOf(const std::string& path) override {
    struct stat st {};
    const At at = Locate(path);
    if (::fstatat(at.folder, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return IdentityFrom(st);
    if (errno == ENOENT) return std::nullopt;
    Fail("stat", path);
  }

  std::vector<FolderEntry> List(const std::string& folder) override {
    const int held = HeldFolder(folder);
    const int fd = held >= 0 ? ::openat(held, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) Fail("opendir", folder);
    DIR* dir = ::fdopendir(fd);
    if (dir == nullptr) {
      ::close(fd);
      Fail("opendir", folder);
    }
    std::vector<FolderEntry> entries;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      bool isFolder = entry->d_type == DT_DIR;
      if (entry->d_type == DT_UNKNOWN) {
        struct stat st {};
        isFolder = ::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                   S_ISDIR(st.st_mode);
      }
      entries.push_back({name, isFolder});
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
      errno = error;
      Fail("readdir", folder);
    }
    return entries;
  }

  void CheckCreatable(const std::string& path) override {
    const std::string folder = FolderOf(path);
    const long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax > 0 && NameOf(path).size() > static_cast<std::size_t>(nameMax)) {
      errno = ENAMETOOLONG;
      Fail("name", path);
    }
    if (path.size() >= PATH_MAX) {
      errno = ENAMETOOLONG;
      Fail("path", path);
    }
    // The effective user's rights, as creating would use them; root passes
    // any folder that is not on a read-only mount.
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) Fail("access", folder);
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0) {
      errno = EROFS;
      Fail("access", folder);
    }
  }

  void CheckReplaceable(const std::string& path) override {
    // With the sticky bit, only the file's owner, the folder's or root may
    // rename over a name or remove it: a run would make a backup's second
    // name it could neither use nor take back.
    struct stat folder {
    }, file{};
    if (::geteuid() == 0 || ::stat(FolderOf(path).c_str(), &folder) != 0 ||
        (folder.st_mode & S_ISVTX) == 0 || ::stat(path.c_str(), &file) != 0) {
      return;  // what cannot be looked at is left to the rename to say
    }
    if (file.st_uid != ::geteuid() && folder.st_uid != ::geteuid()) {
      errno = EPERM;
      Fail("replace", path);
    }
  }

  std::optional<std::uint64_t> FreeBytes(const std::string& folder) override {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0) return std::nullopt;
    return std::uint64_t{fs.f_bavail} * fs.f_frsize;
  }

  void SyncFolder(const std::string& folder) override {
    if (const int held = HeldFolder(folder); held >= 0) {
      if (::fsync(held) != 0) Fail("fsync", folder);
      return;
    }
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) Fail("open", folder);
    if (::fsync(fd.get()) != 0) Fail("fsync", folder);
    fd.Close(folder);
  }

  std::size_t OpenFilesAllowed() override {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 256;
    const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 65536);
    if (limit.rlim_cur < wanted) {
      limit.rlim_cur = wanted;
      if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return static_cast<std::size_t>(limit.rlim_cur);
  }

 private:
  struct Held {
    int fd;
    int holds;
    std::uint64_t device;  // 0 where it could not be told
  };
  class Hold final : public FolderHold {
   public:
    Hold(PosixFiles& files, std::string key) : files_(files), key_(std::move(key)) {}
    ~Hold() override { files_.Release(key_); }

   private:
    PosixFiles& files_;
    std::string key_;
  };

  // Opening a device or a pipe can block or have effects of its own: look
  // before opening, and again at what was opened.
  Fd OpenRegular(const std::string& path) {
    struct stat st {};
    const At at = Locate(path);
    if (::fstatat(at.folder, at.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) Fail("stat", path);
    if (!S_ISREG(st.st_mode)) NotRegular(path, st.st_mode);
    Fd fd(
        ::openat(at.folder, at.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    if (fd.get() < 0) Fail("open", path);
    return fd;
  }

  static std::unique_ptr<InputFile> Input(Fd fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) Fail("stat", path);
    if (!S_ISREG(st.st_mode)) NotRegular(path, st.st_mode);
    return std::make_unique<PosixInput>(std::move(fd), path, st);
  }

  void Release(const std::string& key) {
    std::lock_guard lock(mutex_);
    const auto it = held_.find(key);
    if (it == held_.end() || --it->second.holds > 0) return;
    ::close(it->second.fd);  // only read
    held_.erase(it);
  }

  std::uint64_t HeldDevice(const std::string& folder) {
    std::lock_guard lock(mutex_);
    const auto it = held_.find(FolderKey(folder));
    return it == held_.end() ? 0 : it->second.device;
  }

  int HeldFolder(const std::string& folder) {
    std::lock_guard lock(mutex_);
    const auto it = held_.find(FolderKey(folder));
    return it == held_.end() ? -1 : it->second.fd;
  }

  At Locate(const std::string& path) {
    const std::string name = NameOf(path);
    const int held = name.empty() ? -1 : HeldFolder(FolderOf(path));
    return held >= 0 ? At{held, name} : At{AT_FDCWD, path};
  }

  std::mutex mutex_;
  std::map<std::string, Held> held_;  // folder -> its descriptor
};

}  // namespace

Files& SystemFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace kvo::platform
