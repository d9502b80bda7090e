#include "FaultyFiles.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kvo::test {

namespace {

#ifndef _WIN32
// Windows refuses to rename over a file while anyone has it open. On POSIX
// each opener marks its open file with a read lock of its open file
// description on a byte no one uses; a rename asks whether any is there.
constexpr off_t kMarker = off_t{1} << 60;

void Mark(int fd) {
  struct flock mark {};
  mark.l_type = F_RDLCK;
  mark.l_whence = SEEK_SET;
  mark.l_start = kMarker;
  mark.l_len = 1;
  ::fcntl(fd, F_OFD_SETLK, &mark);
}
#endif

class FaultyInput final : public platform::InputFile {
 public:
  FaultyInput(std::unique_ptr<platform::InputFile> real, FaultyFiles& files)
      : real_(std::move(real)), files_(files), identity_(real_->Identity()) {
    if (files.noChangeTime) identity_.changed = 0;
  }
  std::size_t Read(std::span<std::uint8_t> out) override {
    files_.Call("read");
    return real_->Read(out);
  }
  std::uint64_t Remaining() const override { return real_->Remaining(); }
  void Close() override {
    files_.Call("close");
    real_->Close();
  }
  void Rewind() override {
    files_.Call("rewind");
    real_->Rewind();
  }
  const platform::FileIdentity& Identity() const override { return identity_; }
  const platform::FileAttributes& Attributes() const override { return real_->Attributes(); }

 private:
  std::unique_ptr<platform::InputFile> real_;
  FaultyFiles& files_;
  platform::FileIdentity identity_;
};

class FaultyOutput final : public platform::OutputFile {
 public:
  FaultyOutput(std::unique_ptr<platform::OutputFile> real, FaultyFiles& files, std::string path)
      : real_(std::move(real)), files_(files), path_(std::move(path)) {
#ifndef _WIN32
    // Open for reading beside the writer, only to carry its mark.
    if (files.noOpenRenames && (marker_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC)) >= 0) {
      Mark(marker_);
    }
#endif
  }
  ~FaultyOutput() override {
    Unmark();
  }
  void Write(std::span<const std::uint8_t> bytes) override {
    files_.Call("write");
    real_->Write(bytes);
  }
  void Complete(const platform::InputFile& from) override {
    files_.Call("complete");
    real_->Complete(from);
  }
  void KeepTimes(const platform::InputFile& from) override {
    files_.Call("times");
    real_->KeepTimes(from);
  }
  void Finish() override {
    real_->Finish();
  }
  bool KeepsChangeTime() override {
    return !files_.noChangeTime && real_->KeepsChangeTime();
  }
  // Counted where the layer's SyncFiles is called.
  void Sync() override {
    real_->Sync();
  }
  void SyncFileSystem() override {
    real_->SyncFileSystem();
  }
  std::uint64_t Device() const override {
    const std::uint64_t device = files_.device ? files_.device(path_) : 0;
    return device != 0 ? device : real_->Device();
  }
  void Close() override {
    files_.Call("close");
    real_->Close();
    Unmark();
  }

 private:
  void Unmark() {
#ifndef _WIN32
    if (marker_ >= 0) ::close(marker_);
    marker_ = -1;
#endif
  }

  std::unique_ptr<platform::OutputFile> real_;
  FaultyFiles& files_;
  std::string path_;
  int marker_ = -1;
};

}  // namespace

void FaultyFiles::Call(const char* what) {
  if (!failing.empty() && failing == what) {
    throw platform::FileError(std::string("failing: ") + what, platform::ProblemOf(error), error);
  }
  if (!only.empty() && only != what) return;
  ++calls_;
  log_.emplace_back(what);
  if (before) before(calls_, what);
  if (calls_ == failAt_ || (failFrom && failAt_ > 0 && calls_ > failAt_)) {
    throw platform::FileError(std::string("injected failure: ") + what, platform::ProblemOf(error),
                              error);
  }
}

std::unique_ptr<platform::InputFile> FaultyFiles::OpenRead(const std::string& path) {
  Call("open");
  auto file = std::make_unique<FaultyInput>(real_.OpenRead(path), *this);
#ifndef _WIN32
  if (noOpenRenames) Mark(static_cast<int>(file->Attributes().handle));
#endif
  return file;
}

std::unique_ptr<platform::InputFile> FaultyFiles::OpenToLook(const std::string& path) {
  Call("open");
  auto file = std::make_unique<FaultyInput>(real_.OpenToLook(path), *this);
#ifndef _WIN32
  if (noOpenRenames) Mark(static_cast<int>(file->Attributes().handle));
#endif
  return file;
}

bool FaultyFiles::OpenedByAny([[maybe_unused]] const std::string& path) {
#ifdef _WIN32
  return false;
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kMarker;
  probe.l_len = 1;
  const bool opened = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return opened;
#endif
}

std::unique_ptr<platform::OutputFile> FaultyFiles::CreateNew(const std::string& path) {
  Call("create");
  return std::make_unique<FaultyOutput>(real_.CreateNew(path), *this, path);
}

void FaultyFiles::SyncFiles(std::span<platform::OutputFile* const> files) {
  Call("fsync");
  real_.SyncFiles(files);
}

bool FaultyFiles::LinkNoReplace(const std::string& from, const std::string& to) {
  Call("link");
  return !noHardLinks && real_.LinkNoReplace(from, to);
}

void FaultyFiles::RenameNoReplace(const std::string& from, const std::string& to) {
  Call("rename");
  real_.RenameNoReplace(from, to);
}

void FaultyFiles::RenameReplace(const std::string& from, const std::string& to) {
  Call("replace");
  // As Windows refuses, and the Windows layer says so.
  if (noOpenRenames && OpenedByAny(to)) {
    throw platform::FileError("replace: open " + to, platform::Problem::Locked, EBUSY);
  }
  real_.RenameReplace(from, to);
}

bool FaultyFiles::Exchange(const std::string& a, const std::string& b) {
  if (noHardLinks || noExchange) return false;
  Call("exchange");
  return real_.Exchange(a, b);
}

void FaultyFiles::Remove(const std::string& path) {
  Call("remove");
  real_.Remove(path);
}

bool FaultyFiles::RemoveUnlessHeld(const std::string& path) {
  Call("remove");
  return real_.RemoveUnlessHeld(path);
}

void FaultyFiles::SyncFolder(const std::string& folder) {
  Call("fsyncdir");
  real_.SyncFolder(folder);
}

}  // namespace kvo::test
