// What every operation does first with a name: follow it, hold its folder,
// refuse a backup, meet each file once, and open it as the operation needs.
#include <algorithm>

#include "Names.h"
#include "Operations.h"
#include "Paths.h"

namespace kvo::run {

FileKey KeyOf(const platform::FileIdentity& id) {
  return {id.device, id.index};
}

[[noreturn]] void Rethrow(const FileError& e) {
  if (e.problem() == platform::Problem::TooManyOpen) throw OutOfFiles{};
  throw e;
}

void ConfirmFolder(Files& files, const std::string& folder, const std::vector<Member*>& members,
                   std::vector<FileResult>& results, const char* text) {
  try {
    files.SyncFolder(folder);
  } catch (const FileError& e) {
    for (Member* m : members) {
      Settle(results[m->index], Outcome::Unconfirmed, ErrorBoxText(text), platform::Reason(e));
    }
  }
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

// Undo takes a file with several names back under the one whose backup is
// there, whichever the walk meets first; the others are its second names.
// A name of another file's backup is that backup's second name.
void Preparation::Plan(const std::vector<FileToConvert>& list) {
  if (options_.operation == Operation::Convert) return PlanWritable(list);
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

// Of the names that lead to one file, the conversion goes through one whose
// folder it may write (a read-only mount and its writable path named
// together); the others are its second names.
void Preparation::PlanWritable(const std::vector<FileToConvert>& list) {
  std::map<FileKey, std::vector<std::size_t>> names;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].backupAlone) continue;
    try {
      if (const auto id = files_.IdentityOf(files_.Resolve(list[i].path))) {
        names[KeyOf(*id)].push_back(i);
      }
    } catch (const FileError&) {
      // The run says what is wrong with it.
    }
  }
  const auto writable = [&](std::size_t i) {
    try {
      files_.CheckCreatable(BackupPath(files_.Resolve(list[i].path)));
      return true;
    } catch (const FileError&) {
      return false;
    }
  };
  for (const auto& [key, indices] : names) {
    if (indices.size() < 2 || writable(indices.front())) continue;
    const auto owner = std::ranges::find_if(indices, writable);
    if (owner == indices.end()) continue;
    for (const std::size_t i : indices) {
      if (i != *owner) planned_[i] = {list[*owner].path, VersionAt(list[i].path)};
    }
  }
}

// Settles result, or leaves the file staged for its group's commit.
void Preparation::Prepare(std::size_t index, const FileToConvert& entry, FileResult& result,
                          Staged& staged) {
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
    // Undo changes nothing it cannot hold.
    if (options_.operation == Operation::Undo && e.problem() == platform::Problem::NoLock) {
      Fail(result, Failure::NotUndone, kNoLockDetail);
      return;
    }
    if (options_.operation != Operation::Convert) {
      // Missing, or not to be opened: Examine says which.
      Look(result, staged, path.empty() ? chosen : path, std::move(folder));
      return;
    }
    // A file another program holds is no wrong version: say it is in use.
    const bool held = e.problem() == platform::Problem::Locked;
    Settle(result, Outcome::NotOpened, held ? kHeldText : kWrongVersionText);
    result.openProblem = e.problem();
    if (held && Leftovers::AnyFor(files_, path)) {
      result.detail = kBusyDetail;  // held by another run of this tool
    } else if (e.problem() == platform::Problem::Missing && !path.empty() &&
               IdentityOf(BackupPath(path))) {
      // The way back, where the backup is one undo would take.
      FileResult alone;
      Staged none;
      PrepareAlone(alone, none, BackupPath(path), path);
      if (alone.standing == Standing::BackupAlone) result.detail = alone.detail;
    }
    return;
  }
  Seen& seen = seen_[KeyOf(in->Identity())];
  seen = {index, chosen, path, nullptr};
  if (options_.operation != Operation::Convert) {
    Look(result, staged, path, std::move(folder), std::move(in));
    return;
  }
  Stage(result, staged, path, std::move(folder), std::move(in), seen);
}

// Forgets the file at index, which waits for the next group.
void Preparation::Retry(std::size_t index) {
  std::erase_if(seen_, [index](const auto& entry) { return entry.second.index == index; });
}

// What the header of the file at path says, if it can be read.
const char* Preparation::VersionAt(const std::string& path) {
  try {
    auto in = files_.OpenToLook(files_.Resolve(path));
    Header header{};
    if (ReadFully(*in, header) == header.size()) return VersionName(header);
  } catch (const FileError&) {
  }
  return nullptr;
}

void Preparation::SameFile(FileResult& result, const std::string& name, const char* version) {
  Settle(result, Outcome::SameFile, SameFileText(name),
         version != nullptr ? SameFileDetail(version) : "");
  result.heldVersion = version;
}

void Preparation::ClearForSecondName(FileResult& result) {
  const Operation op = options_.operation;
  if (options_.checkOnly || (op != Operation::Convert && op != Operation::Undo)) return;
  try {
    const std::string path = files_.Resolve(result.path);
    const auto held = files_.OpenRead(path);
    if (!leftovers_.RemoveFor(files_, path) || ClaimFile(files_, path, *held) != Claim::Ours) {
      return;
    }
    // Undo: a name that holds the original, its own backup name a second
    // name of it, is what an undo cut short beside a shared backup leaves.
    // The twin goes, as it does for a file met by its own name.
    const std::string backup = BackupPath(path);
    const auto twin = files_.IdentityOf(backup);
    Header header{};
    if (op != Operation::Undo || !twin || !twin->SameFile(held->Identity()) ||
        ReadFully(*held, header) != header.size() || VersionOf(header) != Version::V10) {
      return;
    }
    files_.Remove(backup);
    files_.SyncFolder(platform::FolderOf(backup));
    const std::string dropped = TwinDroppedDetail(platform::NameOf(backup));
    result.detail = result.detail.empty() ? dropped : result.detail + "; " + dropped;
  } catch (const FileError&) {
    // Refused while another run holds the file, or no file may be opened
    // now: what is left stays for a later run, which meets this name first
    // or alone. The name's own outcome is settled either way.
  } catch (const platform::Interrupted&) {
    // A signal ended a wait for a look: left for a later run likewise.
  }
}

// A backup named as a file: never converted. Beside its data file it is
// that file's backup, and no failure; alone, undo puts it back.
void Preparation::OwnBackup(FileResult& result, Staged& staged, const std::string& path) {
  const Operation op = options_.operation;
  std::optional<std::string> owner = PuttingBack(path);
  if (owner) owner = platform::NameOf(*owner);
  for (const bool upper : {false, true}) {
    const std::string data = DataPathOf(path, upper);
    if (!owner && IdentityOf(data)) owner = platform::NameOf(data);
  }
  if (op == Operation::Undo && !owner) {
    PrepareAlone(result, staged, path);
    return;
  }
  if (op == Operation::Status || op == Operation::Verify || (op == Operation::Undo && owner)) {
    Settle(result, Outcome::Examined, kIsBackupText, owner ? BackupOfDetail(*owner) : "");
    result.standing = Standing::Backup;
    return;
  }
  Fail(result, Failure::Backup, kOwnBackupDetail);
}

std::optional<std::string> Preparation::PuttingBack(const std::string& path) {
  try {
    if (const auto id = files_.IdentityOf(path)) {
      if (const auto it = seen_.find(KeyOf(*id)); it != seen_.end() && !it->second.index)
        return it->second.path;
    }
  } catch (const FileError&) {
  }
  return std::nullopt;
}

std::optional<platform::FileIdentity> Preparation::IdentityOf(const std::string& path) {
  try {
    return files_.IdentityOf(path);
  } catch (const FileError& e) {
    throw Failed(Failure::Backup, platform::Reason(e));
  }
}

}  // namespace kvo::run
