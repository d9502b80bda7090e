// The steps on names, and the rules for the names around a data file: its
// own backup, a cut run's leftovers, the folder's flush.
#include "NameSteps.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <span>
#include <vector>

#include "Digest.h"
#include "Errors.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"

namespace kvo {

using platform::FileError;
using platform::Files;

void CheckSameBytes(platform::InputFile& file, std::optional<std::uint64_t> read) {
  if (!read) return;
  Digest now;
  try {
    file.Rewind();
    std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
    while (const std::size_t n = file.Read(buffer)) now.Add(std::span(buffer).first(n));
  } catch (const FileError& e) {
    throw Failed(Failure::Read, platform::Reason(e));
  }
  if (now.Value() != *read) throw Failed(Failure::Changed);
}

void RemoveQuietly(Files& files, const std::string& path) {
  try {
    files.Remove(path);
  } catch (const FileError&) {
  }
}

void ReleaseInput(Staged& staged) {
  // Only read: its close cannot lose anything.
  if (!staged.input) return;
  try {
    staged.input->Close();
  } catch (const FileError&) {
  }
  staged.input.reset();
}

// Why a new name could not be made, in words a user can act on where the
// system's reason is a plain one.
std::string CreateReason(const FileError& e) {
  return e.problem() == platform::Problem::NoAccess ? kFolderNotWritableDetail
                                                    : platform::Reason(e);
}

std::string WriteReason(Files& files, const FileError& e, const std::string& path,
                        std::uint64_t needed) {
  // (A full disk that says so is said in the system's words.)
  if (e.problem() != platform::Problem::NoAccess && e.problem() != platform::Problem::Other) {
    return platform::Reason(e);
  }
  try {
    const auto free = files.FreeBytes(platform::FolderOf(path));
    if (free && *free < needed) return NoRoomDetail(needed, *free);
  } catch (const FileError&) {
  }
  return platform::Reason(e);
}

void CheckRoom(Files& files, const std::string& path, std::uint64_t needed, Failure kind) {
  const auto free = files.FreeBytes(platform::FolderOf(path));
  if (free && *free < needed) throw Failed(kind, NoRoomDetail(needed, *free));
}

// Creates a file beside path under a temporary name with the given ending,
// trying the next number while a name is taken by something that is not
// ours to clear away.
std::unique_ptr<platform::OutputFile> CreateBeside(Files& files, const std::string& path,
                                                   std::string_view ending, std::string& chosen) {
  for (int attempt = 0;; ++attempt) {
    chosen = BesidePath(path, attempt, ending);
    try {
      return files.CreateNew(chosen);
    } catch (const FileError& e) {
      // Otherwise nothing new can be named in this folder, and so neither
      // can a backup.
      const bool taken = files.IdentityOf(chosen).has_value();
      if (!taken || attempt + 1 == kNameAttempts) throw Failed(Failure::Backup, CreateReason(e));
    }
  }
}

// A flushed copy of from beside path under a temporary name, with from's
// permissions and times; returns that name.
std::string CopyBeside(Files& files, platform::InputFile& from, const std::string& path,
                       std::string_view ending, bool* changeTimeKept) {
  // Named once it is made (a name tried and refused is another's); closed
  // before it is removed, unless it is whole.
  TemporaryName copy(files);
  std::string made;
  auto out = CreateBeside(files, path, ending, made);
  copy.path() = made;
  if (changeTimeKept != nullptr) *changeTimeKept = out->KeepsChangeTime();
  from.Rewind();
  std::vector<std::uint8_t> buffer(std::size_t{1} << 20);
  std::uint64_t copied = 0;
  while (const std::size_t n = from.Read(buffer)) {
    out->Write(std::span(buffer).first(n));
    copied += n;
  }
  if (copied != from.Identity().size) throw Failed(Failure::Changed);
  out->Complete(from);
  out->KeepTimes(from);
  platform::OutputFile* const flushed[] = {out.get()};
  files.SyncFiles(flushed);
  out->Close();
  return copy.Keep();
}

// A second name of from beside path under a temporary name, or nothing
// where the file system has no hard links.
std::optional<std::string> LinkBeside(Files& files, const std::string& from,
                                      const std::string& path) {
  for (int attempt = 0;; ++attempt) {
    const std::string name = BesidePath(path, attempt, kTemporaryEnding);
    try {
      if (!files.LinkNoReplace(from, name)) return std::nullopt;
      return name;
    } catch (const FileError&) {
      if (!files.IdentityOf(name) || attempt + 1 == kNameAttempts) throw;
    }
  }
}

void RenameOver(Files& files, const std::string& from, const std::string& to,
                const platform::FileIdentity& expected) {
  constexpr unsigned kPatience = 10'000;  // milliseconds of pauses
  for (unsigned waited = 0, pause = 1;; waited += pause, pause = std::min(pause * 2, 50u)) {
    try {
      files.RenameReplace(from, to);
      return;
    } catch (const FileError& e) {
      if (e.problem() != platform::Problem::Locked || waited >= kPatience) throw;
    }
    platform::ThrowIfInterrupted();
    platform::PauseWhileBusy(pause);
    if (files.IdentityOf(to) != expected) throw Failed(Failure::Changed);
  }
}

// Puts the file at replacement in place of path in one step, where the
// system can swap two names: then what was displaced must be exactly
// expected, or the swap is undone and the run reports a change, so that a
// program's last-moment write or save is never destroyed. (The swap itself
// changes the displaced file's change time; the caller's recheck just
// before compared that.) Elsewhere a rename replaces path, and the caller's
// recheck just before is all there is. The file open as held is closed
// before a rename: FUSE hides an open file under another name instead of
// letting it go.
//
// Throws FileError when nothing has changed. Throws Failed(Failure::Changed)
// when the swap was undone; if even that failed, the names stay swapped,
// stuck says so and the detail says where the changed file now is.
void Replace(Files& files, const std::string& replacement, const std::string& path,
             const platform::FileIdentity& expected, std::unique_ptr<platform::InputFile>& held,
             bool& stuck) {
  stuck = false;
  if (files.Exchange(replacement, path)) {
    const auto displaced = files.IdentityOf(replacement);
    if (!displaced || !displaced->SameBytes(expected)) {
      try {
        files.Exchange(replacement, path);
      } catch (const FileError&) {
        stuck = true;
        throw Failed(Failure::Changed, kReplacementDetail + platform::NameOf(replacement));
      }
      throw Failed(Failure::Changed);
    }
    RemoveQuietly(files, replacement);  // a leftover is cleared by the next run
    return;
  }
  if (held) {
    try {
      held->Close();
    } catch (const FileError&) {
    }
    held.reset();
  }
  RenameOver(files, replacement, path, expected);
}

bool IsOwnBackup(Files& files, const std::string& path, const std::string& backup) {
  if (path == backup) return true;
  // Names that differ in case only ("Sued.OLD"): the same name wherever the
  // folder finds the file itself under the backup name.
  const std::string name = platform::NameOf(path), backupName = platform::NameOf(backup);
  const auto lower = [](unsigned char c) { return std::tolower(c); };
  if (!std::ranges::equal(name, backupName, {}, lower, lower)) return false;
  try {
    const auto file = files.IdentityOf(path);
    const auto other = files.IdentityOf(backup);
    if (!file || !other) return false;
    if (file->SameFile(*other)) return true;
    // FUSE may number one file differently under each spelling: where the
    // backup's spelling is no entry of its own, the folder found the file
    // itself under it.
    for (const platform::FolderEntry& entry : files.List(platform::FolderOf(path))) {
      if (entry.name == backupName) return false;
    }
    return true;
  } catch (const FileError&) {
    return true;  // when in doubt, the original is not touched
  }
}

void SyncFolder(Files& files, const std::string& folder) {
  try {
    files.SyncFolder(folder);
  } catch (const FileError& e) {
    throw KvoError(kFolderNotSyncedText, platform::Reason(e));
  }
}

}  // namespace kvo
