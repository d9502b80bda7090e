#include "Standing.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "Commit.h"
#include "Container.h"
#include "Digest.h"
#include "Errors.h"
#include "Messages.h"
#include "Paths.h"

namespace kvo {

using platform::FileError;
using platform::Files;
using platform::InputFile;

namespace {

// Takes the bytes of a conversion and compares them with a file as they
// come, so that nothing but a buffer is held: notes the first byte that
// differs.
class ComparingSink final : public ByteSink {
 public:
  // size: about what the file holds, so that a small file takes a small
  // buffer; the buffer is written before it is read, and not cleared first.
  ComparingSink(ByteSource& file, std::uint64_t size)
      : file_(file),
        capacity_(static_cast<std::size_t>(std::clamp<std::uint64_t>(size, 1, kMaxBuffer))),
        buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity_)) {}

  void Write(std::span<const std::uint8_t> bytes) override {
    while (!bytes.empty() && ended_ == 0 && !differs_) {
      if (pos_ == got_ && !Fill()) {
        ended_ = 'f';
        return;
      }
      const std::size_t n = std::min(bytes.size(), got_ - pos_);
      const std::uint8_t* mine = buffer_.get() + pos_;
      // memcmp first: it is many times faster than finding the place, which
      // only a difference needs.
      if (std::memcmp(bytes.data(), mine, n) != 0) {
        offset_ += static_cast<std::size_t>(
            std::mismatch(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), mine)
                .first -
            bytes.begin());
        differs_ = true;
        return;
      }
      offset_ += n;
      pos_ += n;
      bytes = bytes.subspan(n);
    }
  }

  // After the conversion's last byte: the file must end there as well.
  void Finish() {
    if (ended_ == 0 && !differs_ && (pos_ < got_ || Fill())) ended_ = 'c';
  }
  bool Same() const { return ended_ == 0 && !differs_; }
  std::uint64_t offset() const { return offset_; }
  char ended() const { return ended_; }

 private:
  static constexpr std::uint64_t kMaxBuffer = std::uint64_t{1} << 20;

  bool Fill() {
    got_ = ReadFully(file_, std::span(buffer_.get(), capacity_));
    pos_ = 0;
    if (digest) digest->Add(std::span(buffer_.get(), got_));
    return got_ > 0;
  }

 public:
  // Where set, takes every byte of the file read.
  Digest* digest = nullptr;

 private:
  ByteSource& file_;
  std::size_t capacity_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::size_t got_ = 0, pos_ = 0;
  std::uint64_t offset_ = 0;
  bool differs_ = false;
  char ended_ = 0;  // 'f': the file ended first; 'c': the conversion did
};

Finding Found(Standing standing, std::string detail = {}) {
  Finding f;
  f.standing = standing;
  f.detail = std::move(detail);
  return f;
}

// A version 1.1 file beside its backup: the backup converted again and
// compared, byte for byte.
Finding CompareWithBackup(Files& files, std::unique_ptr<InputFile> file, const std::string& backup,
                          TableSets& tables, bool toChange) {
  const std::string name = platform::NameOf(backup);
  std::unique_ptr<InputFile> old;
  try {
    old = toChange ? files.OpenRead(backup) : files.OpenToLook(backup);
  } catch (const FileError& e) {
    if (e.problem() == platform::Problem::TooManyOpen) throw;
    if (e.problem() == platform::Problem::Locked) return Found(Standing::Busy, name);
    return Found(Standing::Damaged, name + ": " + ProblemText(e.problem()));
  }
  Digest digest;
  try {
    Header header{};
    if (ReadFully(*old, header) != header.size() || VersionOf(header) != Version::V10) {
      return Found(Standing::Damaged, NotOriginalDetail(name));
    }
    ClearTables(tables);
    file->Rewind();
    ComparingSink compared(*file, file->Identity().size);
    if (toChange) compared.digest = &digest;
    const Counts counts = ConvertDataFile0(*old, &compared, tables);
    compared.Finish();
    ClearTables(tables);
    if (!compared.Same()) {
      const Place place = PlaceOf(compared.offset(), counts);
      return Found(Standing::Changed, DifferenceDetail(compared.offset(), place.block, place.record,
                                                       compared.ended(), name));
    }
  } catch (const FileError& e) {
    return Found(Standing::Damaged, std::string(kReadFailedText) + ": " + platform::Reason(e));
  } catch (const KvoError& e) {
    return Found(Standing::Damaged, name + ": " + e.what());
  }
  Finding f = Found(Standing::Converted);
  f.file = std::move(file);
  f.backup = std::move(old);
  if (toChange) f.fileDigest = digest.Value();
  return f;
}

}  // namespace

bool SameBytes(InputFile& a, InputFile& b) {
  if (a.Identity().size != b.Identity().size) return false;
  a.Rewind();
  b.Rewind();
  std::vector<std::uint8_t> x(std::size_t{1} << 20), y(x.size());
  for (;;) {
    const std::size_t n = ReadFully(a, x);
    if (ReadFully(b, std::span(y).first(n)) != n ||
        !std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(n), y.begin())) {
      return false;
    }
    if (n < x.size()) return b.Remaining() == 0;
  }
}

Finding Examine(Files& files, const std::string& path, const std::string& backup, TableSets& tables,
                std::unique_ptr<InputFile> file, bool toChange, int again) {
  const std::string backupName = platform::NameOf(backup);
  try {
    try {
      if (!file) file = toChange ? files.OpenRead(path) : files.OpenToLook(path);
    } catch (const FileError& e) {
      if (e.problem() == platform::Problem::TooManyOpen) throw;
      if (e.problem() == platform::Problem::Missing && files.IdentityOf(backup)) {
        return Found(Standing::BackupAlone, BackupAloneDetail(path, backupName));
      }
      if (e.problem() == platform::Problem::Locked) {
        return Found(Standing::Busy,
                     Leftovers::AnyFor(files, path) ? kBusyDetail : ProblemText(e.problem()));
      }
      return Found(Standing::Damaged, ProblemText(e.problem()));
    }
    Header header{};
    const std::size_t got = ReadFully(*file, header);
    const Version version = VersionOf(std::span(header).first(got));
    // A header of another version is a data file the tool cannot take;
    // anything else is no data file at all.
    if (version == Version::Unknown) return Found(Standing::Damaged, kOtherVersionDetail);
    if (version == Version::Other) return Found(Standing::NotData);
    const auto kept = files.IdentityOf(backup);
    if (version == Version::V11) {
      if (!kept) return Found(Standing::NoBackup);
      if (kept->SameFile(file->Identity())) {
        return Found(Standing::NoBackup, SameAsFileDetail(backupName));
      }
      return CompareWithBackup(files, std::move(file), backup, tables, toChange);
    }
    // Read whole, as a conversion would: a file cut short is damaged.
    try {
      ClearTables(tables);
      ReadDataFile0(*file, tables);
      ClearTables(tables);
    } catch (const KvoError& e) {
      ClearTables(tables);
      return Found(Standing::Damaged, e.what());
    }
    // What a run leaves midway is said to be so only where no run is at
    // work on the file: a look met it while a run held it.
    const auto atWork = [&] { return !toChange && Leftovers::AtWork(files, path); };
    // A run ended before its temporary file was cleared away: the next
    // run, or undo, clears it.
    const bool leftover = Leftovers::AnyFor(files, path);
    if (leftover && atWork()) return Found(Standing::Busy, kBusyDetail);
    // The file stays open (for undo, locked) while its leftovers are cleared.
    const auto keeping = [&](Finding f) {
      f.file = std::move(file);
      return f;
    };
    if (!kept) return keeping(Found(Standing::ToConvert, leftover ? kLeftoverDetail : ""));
    // The original under both names: what a conversion leaves when it ends
    // between its backup and its rename.
    if (kept->SameFile(file->Identity())) {
      // A look beside a conversion that took the name meanwhile saw the
      // original under both names for a moment: looked at again, as it is.
      const auto now = files.IdentityOf(path);
      if (!toChange && (!now || !now->SameFile(file->Identity())) && again > 0) {
        file.reset();
        return Examine(files, path, backup, tables, nullptr, toChange, again - 1);
      }
      if (atWork()) return Found(Standing::Busy, kBusyDetail);
      Finding f = Found(Standing::Interrupted);
      f.backupIsTwin = true;
      f.file = std::move(file);
      return f;
    }
    std::unique_ptr<InputFile> old;
    try {
      old = toChange ? files.OpenRead(backup) : files.OpenToLook(backup);
    } catch (const FileError& e) {
      // Something of the backup's name that cannot be read (a link to
      // nothing, a device): the file is fine, its backup name is taken.
      // (Held, too, it is no backup of this file's: another's, at work.)
      if (e.problem() == platform::Problem::TooManyOpen) throw;
      return keeping(Found(Standing::ToConvert, BackupExistsDetail(backupName)));
    }
    if (SameBytes(*file, *old)) {
      // Made by hand, or by a run on a disk without hard links: either way
      // the next run takes it as the backup.
      if (atWork()) return Found(Standing::Busy, kBusyDetail);
      Finding f = Found(Standing::ToConvert, SameBytesDetail(backupName));
      f.backupIsTwin = true;
      f.file = std::move(file);
      f.backup = std::move(old);
      return f;
    }
    return keeping(Found(Standing::ToConvert, BackupExistsDetail(backupName)));
  } catch (const FileError& e) {
    if (e.problem() == platform::Problem::TooManyOpen) throw;
    return Found(Standing::Damaged, std::string(kReadFailedText) + ": " + platform::Reason(e));
  }
}

}  // namespace kvo
