// Convert (and check): a version 1.0 file read, converted and written beside
// it; then the group's commit: its new files flushed together, the backups
// made and flushed, the new files put in place.
#include "Interrupts.h"
#include "Metered.h"
#include "Names.h"
#include "Operations.h"
#include "Paths.h"

namespace kvo::run {

// Whether the original changed since it was opened (its bytes, or which
// file its name holds): a file cut short meanwhile reads as incomplete.
bool ChangedSince(Files& files, const std::string& path, const platform::InputFile& in) {
  try {
    const auto now = files.IdentityOf(path);
    return !now || *now != in.Identity();
  } catch (const FileError&) {
    return false;
  }
}

// Rethrows the exception at hand in the user's words where it is the
// original's: the system could not give the whole file, or another program
// changed it while it was read (a file cut short reads as incomplete).
[[noreturn]] void Unreadable(Files& files, const std::string& path, const platform::InputFile& in) {
  try {
    throw;
  } catch (const ReadFailed& e) {
    throw Failed(Failure::Read, e.reason);
  } catch (const KvoError&) {
    if (ChangedSince(files, path, in)) throw Failed(Failure::Changed);
    throw;
  }
}

// Files up to this size are read in one call.
constexpr std::uint64_t kWholeBytes = std::uint64_t{8} << 20;

// A version 1.0 file, opened and locked: read, converted and written beside
// it, or for a check only converted in memory.
void Preparation::Stage(FileResult& result, Staged& staged, const std::string& path,
                        std::unique_ptr<platform::FolderHold> folder,
                        std::unique_ptr<platform::InputFile> in, Seen& seen) {
  Header header{};
  std::size_t got = 0;
  try {
    got = ReadFully(*in, header);
  } catch (const FileError& e) {
    Fail(result, Failure::Read, platform::Reason(e));
    return;
  }
  if (got == header.size()) seen.version = VersionName(header);
  if (const Version version = VersionOf(std::span(header).first(got)); version != Version::V10) {
    const bool converted = version == Version::V11;
    // What a run that ended after its last rename may have left beside it.
    if (converted && !options_.checkOnly) leftovers_.RemoveFor(files_, path);
    Settle(result, converted ? Outcome::AlreadyConverted : Outcome::WrongVersion, kWrongVersionText,
           converted ? kAlreadyConvertedDetail : "");
    return;
  }

  staged = {};
  staged.folder = std::move(folder);
  staged.path = path;
  staged.backup = BackupPath(path);
  staged.input = std::move(in);
  // Only temporary files that no run holds are cleared away; one that is
  // held means another run is converting this file right now.
  if (!options_.checkOnly && !leftovers_.RemoveFor(files_, staged.path)) {
    throw Failed(Failure::Backup, kBusyDetail);
  }
  // Another run may have let go of the file for its rename just before
  // this one took it.
  switch (ClaimFile(files_, path, *staged.input)) {
    case Claim::Ours:
      break;
    case Claim::Busy:
      throw Failed(Failure::Backup, kBusyDetail);
    case Claim::Moved:
      throw Failed(Failure::Changed);
  }
  // Another file of this run takes this backup name already: refused before
  // anything is made, naming both.
  const auto [taken, fresh] = backupsTaken_.emplace(staged.backup, path);
  if (!fresh && taken->second != path) {
    throw Failed(Failure::Backup, BackupTakenDetail(platform::NameOf(staged.backup),
                                                    platform::NameOf(taken->second)));
  }
  // The backup name is checked first, to spare the work, and again by the
  // link or rename, which never replaces a file.
  if (const auto backup = IdentityOf(staged.backup)) {
    // The original under its backup name already: an earlier run was
    // interrupted before the new file took the name. This run finishes
    // its job.
    staged.resumed = backup->SameFile(staged.input->Identity()) || HoldsOriginal(staged);
    if (!staged.resumed)
      throw Failed(Failure::BackupTaken, BackupExistsDetail(platform::NameOf(staged.backup)));
  }

  TableSets& tables = Tables();
  ClearTables(tables);
  const std::uint64_t size = staged.input->Identity().size;
  // Read once and written once, the new file about as long as the old.
  Meter meter(ui_, 2 * size);
  MeteredSource metered(*staged.input, meter);
  // A file that fits the buffer is read in one call and converted from
  // memory; a larger one is read window by window as it is converted.
  std::optional<std::span<const std::uint8_t>> whole;
  std::optional<MemorySource> held;
  int passes = 0;
  const auto fromTheStart = [&]() -> ByteSource& {
    if (size <= kWholeBytes) {
      if (!whole) whole = whole_.Fill(metered, static_cast<std::size_t>(metered.Remaining()));
      return held.emplace(*whole);
    }
    if (passes++ > 0) {
      staged.input->Rewind();
      metered.Skip(kHeader0.size());
    }
    return metered;
  };
  std::uint64_t extra = 0;
  Counts counts;
  try {
    // A damaged file is refused here, before anything is made: a large one
    // by its count fields alone.
    counts = SurveyDataFile0(fromTheStart(), tables);
    if (options_.checkOnly) {
      ByteSource& in = fromTheStart();
      ReadDataFile0(in, tables);
      extra = in.Remaining();
    }
  } catch (...) {
    Unreadable(files_, path, *staged.input);
  }
  if (options_.checkOnly) {
    CheckCommittable(files_, staged, ConvertedSize(counts));
    staged = {};
    Settle(result, Outcome::Convertible, kConvertibleText,
           extra > 0 ? ExtraBytesDetail(extra, platform::NameOf(BackupPath(path)), true) : "");
    return;
  }

  CheckReplaceable(files_, staged);
  try {
    CreateTemporary(files_, staged);
  } catch (const FileError& e) {
    Rethrow(e);
  }
  try {
    Pending pending(files_, staged);  // the new file goes unless it is whole
    // Where the disk keeps no change time, the bytes read are fingerprinted
    // for the last check: those of the pass the new file is made from.
    std::optional<Digest> digest;
    if (!staged.output->KeepsChangeTime()) digest.emplace().Add(header);
    ByteSource& in = fromTheStart();
    if (whole && digest) digest->Add(*whole);
    if (!whole && digest) metered.digest = &*digest;
    MeteredSink out(*staged.output, meter);
    // Counts other than the survey's: the file was written to meanwhile.
    if (ConvertDataFile0(in, &out, tables) != counts) throw Failed(Failure::Changed);
    extra = in.Remaining();
    if (!whole && digest) {
      std::vector<std::uint8_t> rest(64 << 10);
      while (in.Read(rest) != 0) {
      }
    }
    if (digest) staged.readDigest = digest->Value();
    // A cut run's backup was compared with the file before this pass read
    // it: an edit in between, which no change time shows here, would leave
    // a conversion of bytes that no backup holds.
    if (digest && staged.resumed) {
      std::unique_ptr<platform::InputFile> backup;
      try {
        backup = files_.OpenToLook(staged.backup);
      } catch (const FileError& e) {
        throw Failed(Failure::Backup, platform::Reason(e));
      }
      CheckSameBytes(*backup, staged.readDigest);
    }
    staged.output->Complete(*staged.input);
    pending.Done();
  } catch (const FileError& e) {
    throw Failed(Failure::Output, WriteReason(files_, e, path, ConvertedSize(counts)));
  } catch (const WriteFailed& e) {
    throw Failed(Failure::Output, e.reason);
  } catch (...) {
    Unreadable(files_, path, *staged.input);
  }
  ui_.Reached(Step::Read, path);
  // Settled once its group is committed.
  Settle(result, Outcome::Converted, kSuccessText,
         extra > 0 ? ExtraBytesDetail(extra, platform::NameOf(staged.backup), false) : "");
}

// Whether the backup is a copy of the original, made by an interrupted run
// on a file system without hard links. Leaves the original read up to the
// end of its header again.
bool Preparation::HoldsOriginal(Staged& staged) {
  bool same = false;
  try {
    auto backup = files_.OpenRead(staged.backup);
    same = SameBytes(*staged.input, *backup);
    backup->Close();
    staged.input->Rewind();
    Header header{};
    ReadFully(*staged.input, header);
  } catch (const FileError& e) {
    // The backup's name is taken by something that cannot be read (a link
    // to nothing, a device): said of that name, not of the file.
    if (e.problem() == platform::Problem::Missing || e.problem() == platform::Problem::NotRegular ||
        e.problem() == platform::Problem::Folder) {
      throw Failed(Failure::BackupTaken, BackupExistsDetail(platform::NameOf(staged.backup)));
    }
    throw Failed(Failure::Backup, platform::Reason(e));
  }
  return same;
}

// Flushes a group's new files together, then gives every original its
// backup, flushes each folder once, puts each new file in place and flushes
// each folder once more. Settles the results of those that fail. A signal
// that came before the backups rolls the whole group back.
void CommitConversion(Files& files, std::vector<Member>& group, std::vector<FileResult>& results,
                      UserInterface& ui) {
  // Each new file whole with the system: a write that failed on its way
  // there fails that file alone.
  std::erase_if(group, [&](Member& m) {
    try {
      m.staged.output->Finish();
      return false;
    } catch (const FileError& e) {
      const std::string why = WriteReason(files, e, m.staged.path, m.staged.input->Identity().size);
      Abandon(files, m.staged);
      Fail(results[m.index], Failure::Output, why);
      return true;
    }
  });
  std::vector<platform::OutputFile*> outputs;
  for (Member& m : group) outputs.push_back(m.staged.output.get());
  try {
    files.SyncFiles(outputs);
    for (Member& m : group) m.staged.output->Close();
  } catch (const FileError& e) {
    for (Member& m : group) {
      Abandon(files, m.staged);
      Fail(results[m.index], Failure::Output, platform::Reason(e));
    }
    return;
  }
  for (Member& m : group) m.staged.output.reset();
  if (platform::InterruptSignal() != 0) {
    for (Member& m : group) {
      Abandon(files, m.staged);
      Settle(results[m.index], Outcome::Interrupted, kInterruptedText);
    }
    return;
  }

  // folder -> its members still on their way
  auto folders =
      StepByFolder(group, results, [&](Staged& staged) { MakeBackup(files, staged, ui); });
  // Every backup is on the disk before any new file takes a name: a power
  // cut must never leave the new file in place without its backup.
  for (auto it = folders.begin(); it != folders.end();) {
    try {
      SyncFolder(files, it->first);
      ++it;
    } catch (const KvoError& e) {
      for (Member* m : it->second) {
        RollBack(files, m->staged);
        Fail(results[m->index], Failure::Backup, e.detail());
      }
      it = folders.erase(it);
    }
  }
  for (auto& [folder, members] : folders) {
    std::vector<Member*> placed;
    for (Member* m : members) {
      try {
        PutInPlace(files, m->staged, ui);
        placed.push_back(m);
      } catch (const KvoError& e) {
        Fail(results[m->index], e);
      } catch (const platform::Interrupted&) {
        // A signal ended a wait for a look: rolled back.
        Settle(results[m->index], Outcome::Interrupted, kInterruptedText);
      }
    }
    if (!placed.empty()) ConfirmFolder(files, folder, placed, results, kFolderNotSyncedText);
    // Only now, the new names on the disk, may another run take the files.
    for (Member* m : placed) {
      ReleaseInput(m->staged);
      m->staged.holding.reset();
    }
  }
}

}  // namespace kvo::run
