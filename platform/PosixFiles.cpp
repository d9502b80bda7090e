// The file layer over POSIX (Linux).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Files.h"

namespace kvo::platform {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& path) {
  throw FileError(std::string(what) + " " + path + ": " + std::strerror(errno));
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
  PosixInput(Fd fd, std::string path, std::uint64_t size)
      : fd_(std::move(fd)), path_(std::move(path)), remaining_(size) {}

  std::size_t Read(std::span<std::uint8_t> out) override {
    for (;;) {
      const ssize_t n = ::read(fd_.get(), out.data(), out.size());
      if (n >= 0) {
        const auto got = static_cast<std::uint64_t>(n);
        remaining_ -= std::min(remaining_, got);
        return static_cast<std::size_t>(n);
      }
      if (errno != EINTR) Fail("read", path_);
    }
  }
  std::uint64_t Remaining() const override { return remaining_; }
  void Close() override { fd_.Close(path_); }

 private:
  Fd fd_;
  std::string path_;
  std::uint64_t remaining_;
};

// Large blocks go out in pieces: one write of a hundred megabytes makes the
// kernel hold far more dirty pages at once than writeback wants.
constexpr std::size_t kChunk = std::size_t{1} << 20;

class PosixOutput final : public OutputFile {
 public:
  PosixOutput(Fd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

  void Write(std::span<const std::uint8_t> bytes) override {
    while (!bytes.empty()) {
      const ssize_t n =
          ::write(fd_.get(), bytes.data(), std::min<std::size_t>(bytes.size(), kChunk));
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail("write", path_);
      }
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
  }
  void Sync() override {
    if (::fsync(fd_.get()) != 0) Fail("fsync", path_);
  }
  void Close() override { fd_.Close(path_); }

 private:
  Fd fd_;
  std::string path_;
};

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

class PosixFiles final : public Files {
 public:
  std::unique_ptr<InputFile> OpenRead(const std::string& path) override {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) Fail("open", path);
    // Like a share mode of 0: a second run, or another program taking the
    // same lock, cannot open the file meanwhile.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) Fail("lock", path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) Fail("stat", path);
    return std::make_unique<PosixInput>(std::move(fd), path,
                                        static_cast<std::uint64_t>(st.st_size));
  }

  std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (fd.get() < 0) Fail("create", path);
    return std::make_unique<PosixOutput>(std::move(fd), path);
  }

  void RenameNoReplace(const std::string& from, const std::string& to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) Fail("rename", from);
    // The filesystem knows no RENAME_NOREPLACE. A hard link fails just the
    // same when the new name exists; then the old name goes.
    if (::link(from.c_str(), to.c_str()) != 0) Fail("link", from);
    if (::unlink(from.c_str()) != 0) Fail("unlink", from);
  }

  void Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) Fail("unlink", path);
  }

  bool Exists(const std::string& path) override {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  }

  void SyncFolderOf(const std::string& path) override {
    const std::string folder = FolderOf(path);
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) Fail("open", folder);
    if (::fsync(fd.get()) != 0) Fail("fsync", folder);
    fd.Close(folder);
  }
};

}  // namespace

Files& SystemFiles() {
  static PosixFiles files;
  return files;
}

}  // namespace kvo::platform
