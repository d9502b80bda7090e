// A simulator that searches for faults by itself. Each input decodes into a
// folder (files from the generator, with names, modes, second names, an .old
// of each kind, a cut run's leftovers), the disk's abilities, and a few
// operations of the command line's run, each with at most one event at a
// call of the file layer: a call that fails as the system fails it, the
// process killed, the power cut (the names made since the last flush kept
// in order, any of them, or all but one), an edit by another program, the
// user's Abbrechen. After every operation the promise is checked against
// the disk; a broken one prints the scenario as a script and aborts. The
// same input gives the same run: every event is counted in calls made by
// the run's own thread.
//
// Built with libFuzzer (explore), which lets coverage guide it, and as a
// plain driver (explore-seeds) that runs seeds for as long as asked.
#include <fuzzer/FuzzedDataProvider.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Container.h"
#include "Errors.h"
#include "Interrupts.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"
#include "WriteBehind.h"
#include "support/DatFile.h"
#include "support/FaultyFiles.h"
#include "support/ForwardingFiles.h"
#include "support/PowerLoss.h"
#include "support/SecondRun.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using kvo::test::TempDir;
using Bytes = std::vector<std::uint8_t>;
using Folder = std::map<std::string, Bytes>;

// ---- the scenario, and what it says when a promise breaks ---------------------

std::vector<std::string>& Script() {
  static std::vector<std::string> script;
  return script;
}
void Say(const std::string& line) {
  Script().push_back(line);
}

void PrintScript() {
  for (const std::string& line : Script()) std::fprintf(stderr, "   %s\n", line.c_str());
}

[[noreturn]] void Broken(const std::string& promise) {
  std::fprintf(stderr, "\n== The explorer found a broken promise: %s\n== The scenario:\n",
               promise.c_str());
  PrintScript();
  std::abort();
}

void Check(bool kept, const std::string& promise) {
  if (!kept) Broken(promise);
}

// ---- files --------------------------------------------------------------------------

// The conversion, or nothing where there is none; each asked for often, so
// the last few are kept.
const Bytes& Converted(const Bytes& v10) {
  static std::map<Bytes, Bytes> known;
  if (const auto it = known.find(v10); it != known.end()) return it->second;
  if (known.size() > 8) known.clear();
  Bytes converted;
  try {
    converted = kvo::ConvertImage(v10, *std::make_unique<kvo::TableSets>());
  } catch (const std::exception&) {
  }
  return known[v10] = std::move(converted);
}

bool IsV10(const Bytes& b) {
  return !Converted(b).empty();
}

// The files of a folder and of its subfolder, each by its name from the
// folder on ("unter/a.dat"), links to files among them.
std::vector<std::pair<std::string, fs::directory_entry>> FilesIn(const fs::path& folder) {
  std::vector<std::pair<std::string, fs::directory_entry>> out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_directory()) out.emplace_back(entry.path().lexically_relative(folder), entry);
  }
  return out;
}

Folder Read(const fs::path& folder) {
  Folder out;
  for (const auto& [name, entry] : FilesIn(folder)) {
    if (entry.is_symlink()) continue;  // another name of a file, no file of its own
    // In one read: byte by byte, the explorer spent most of its time here.
    std::ifstream in(entry.path(), std::ios::binary | std::ios::ate);
    Bytes& bytes = out[name];
    bytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  return out;
}

// What a backup carries of its original besides the bytes: the mode, the
// owner and the time it was last written.
struct Kept {
  unsigned mode = 0;
  std::int64_t written = 0;  // ns
  uid_t owner = 0;
  gid_t group = 0;
  bool SameOwner(const Kept& other) const { return owner == other.owner && group == other.group; }
};

Kept KeptOf(const struct stat& st) {
  return {st.st_mode & 07777, std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec,
          st.st_uid, st.st_gid};
}

Kept KeptOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return KeptOf(st);
}

// The owner first: a change of owner clears the set-ID bits.
void Give(const fs::path& path, const Kept& kept) {
  (void)!::chown(path.c_str(), kept.owner, kept.group);
  ::chmod(path.c_str(), kept.mode);
}

unsigned ModeOf(const fs::path& path) {
  return KeptOf(path).mode;
}

// The files' modes and times as they are now.
std::map<std::string, Kept> KeptIn(const fs::path& folder) {
  std::map<std::string, Kept> kept;
  for (const auto& [name, entry] : FilesIn(folder)) kept[name] = KeptOf(entry.path());
  return kept;
}

// A copy of a folder as it is at this moment, second names as second names:
// what the disk holds when the process is killed.
void Snapshot(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  std::map<std::pair<dev_t, ino_t>, fs::path> first;
  for (const auto& [name, entry] : FilesIn(from)) {
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const auto key = std::pair{st.st_dev, st.st_ino};
    const fs::path target = to / name;
    fs::create_directories(target.parent_path());
    if (const auto it = first.find(key); it != first.end()) {
      fs::create_hard_link(it->second, target);
    } else {
      fs::copy_file(entry.path(), target);
      Give(target, KeptOf(st));
      first[key] = target;
    }
  }
}

std::string InCase(std::string name, int (*to)(int)) {
  for (char& c : name) c = static_cast<char>(to(static_cast<unsigned char>(c)));
  return name;
}

std::string Lowered(const std::string& name) {
  return InCase(name, ::tolower);
}

// A disk whose names ignore case (FAT, exFAT): a name finds its folder's
// entry spelled in any case, and a new name that one spells otherwise is
// taken.
class CaseBlindFiles final : public kvo::test::ForwardingFiles {
 public:
  using ForwardingFiles::ForwardingFiles;
  std::string Resolve(const std::string& path) override { return real_.Resolve(Found(path)); }
  std::unique_ptr<kvo::platform::InputFile> OpenRead(const std::string& path) override {
    return real_.OpenRead(Found(path));
  }
  std::unique_ptr<kvo::platform::InputFile> OpenToLook(const std::string& path) override {
    return real_.OpenToLook(Found(path));
  }
  std::unique_ptr<kvo::platform::OutputFile> CreateNew(const std::string& path) override {
    return real_.CreateNew(Found(path));
  }
  bool LinkNoReplace(const std::string& from, const std::string& to) override {
    return real_.LinkNoReplace(Found(from), Found(to));
  }
  void RenameNoReplace(const std::string& from, const std::string& to) override {
    real_.RenameNoReplace(Found(from), Found(to));
  }
  void RenameReplace(const std::string& from, const std::string& to) override {
    real_.RenameReplace(Found(from), Found(to));
  }
  bool Exchange(const std::string& a, const std::string& b) override {
    return real_.Exchange(Found(a), Found(b));
  }
  void Remove(const std::string& path) override { real_.Remove(Found(path)); }
  bool RemoveUnlessHeld(const std::string& path) override {
    return real_.RemoveUnlessHeld(Found(path));
  }
  std::optional<kvo::platform::FileIdentity> IdentityOf(const std::string& path) override {
    return real_.IdentityOf(Found(path));
  }
  void CheckCreatable(const std::string& path) override { real_.CheckCreatable(Found(path)); }

 private:
  // The disk's own doing, not a call of the tool's: listed past the layer,
  // whose listing may be made to fail.
  std::string Found(const std::string& path) {
    const std::string name = kvo::platform::NameOf(path);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kvo::platform::FolderOf(path), error)) {
      const std::string entryName = entry.path().filename().string();
      if (Lowered(entryName) == Lowered(name)) {
        return path.substr(0, path.size() - name.size()) + entryName;
      }
    }
    return path;
  }
};

// A path the run used, by its name from its folder (the working folder) on:
// its folder's links followed.
std::string InFolder(const std::string& path) {
  const fs::path folder = fs::weakly_canonical(kvo::platform::FolderOf(path))
                              .lexically_relative(fs::weakly_canonical(fs::current_path()));
  return (folder / kvo::platform::NameOf(path)).lexically_normal().string();
}

// The temporary name of a file's new file, beside it.
std::string TemporaryOf(const std::string& name) {
  return fs::path(kvo::TemporaryPath("./" + name, 0)).lexically_normal().string();
}

bool IsLeftover(const std::string& name) {
  return kvo::platform::NameOf(name).starts_with(kvo::kTemporaryPrefix) ||
         name.find(kvo::kEarlierEnding) != std::string::npos;
}

// ---- memory ---------------------------------------------------------------------------

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVO_EXPLORE_ASAN 1
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif
#endif

// The heap in use: the sanitizer's count where it keeps the heap, else malloc's.
std::int64_t HeapInUse() {
#ifdef KVO_EXPLORE_ASAN
  return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes());
#else
  const struct mallinfo2 m = ::mallinfo2();
  return static_cast<std::int64_t>(m.uordblks + m.hblkhd);
#endif
}

// The most the run held above what it held as it began, seen at each of its
// calls; what the explorer itself takes meanwhile (an edit's bytes) is not
// the run's.
struct HeapWatch {
  std::int64_t start = HeapInUse(), mine = 0, peak = 0;
  template <class F>
  void Around(F&& f) {
    const std::int64_t now = HeapInUse();
    peak = std::max(peak, now - mine - start);
    f();
    mine += HeapInUse() - now;
  }
};

// ---- the world ------------------------------------------------------------------------

// The generator's files, each made once.
const Bytes& Generated(int kind, int seed) {
  static std::map<std::pair<int, int>, Bytes> made;
  auto& bytes = made[{kind, seed}];
  if (bytes.empty()) {
    if (kind == 1) {
      bytes =
          kvo::test::SizedFile(static_cast<std::uint64_t>(seed), std::uint64_t{9} << 20).Bytes();
    } else {
      bytes = kvo::test::SmallFile(static_cast<std::uint64_t>(seed));
    }
  }
  return bytes;
}

const char* const kNames[] = {"a.dat",  "B.DAT", "Nord.Bahnhof.dat", "z\xC3\xA4.dat", "-x.dat",
                              "zz.dat", "c.dat", "Datei10.dat"};
const int kErrors[] = {EIO, ENOSPC, EDQUOT, EFBIG, EMFILE, EPERM, ENOSYS, EXDEV, EACCES};
const char* const kKinds[] = {"open",     "read",    "rewind",   "create", "write",
                              "complete", "times",   "fsync",    "close",  "link",
                              "rename",   "replace", "exchange", "remove", "fsyncdir"};
// The calls that commit: few among a run's many reads and writes, and where
// an event matters most, so drawn as often as all the others together.
const char* const kCommitKinds[] = {"link", "rename", "replace", "exchange", "remove", "fsyncdir"};
// Events come early in a run more often: a folder's first files are the
// ones every input has.
const long kCallNumbers[] = {1, 1, 2, 2, 3, 4, 5, 6};

// The errors the system gives at a kind of call, past what the file layer
// takes as "not on this disk" (a refused link, a swap the disk cannot do).
std::vector<int> ErrorsAt(const std::string& kind) {
  if (kind == "open") return {EMFILE, EACCES, EIO};
  if (kind == "read" || kind == "rewind" || kind == "fsyncdir") return {EIO};
  if (kind == "create") return {ENOSPC, EDQUOT, EMFILE, EACCES};
  if (kind == "write") return {ENOSPC, EDQUOT, EFBIG, EIO};
  if (kind == "complete" || kind == "times") return {EPERM, EIO};
  if (kind == "fsync" || kind == "close") return {EIO, ENOSPC, EDQUOT};
  if (kind == "link") return {ENOSPC, EDQUOT, EXDEV, EIO};
  if (kind == "exchange" || kind == "remove") return {EACCES, EPERM, EIO};
  if (kind == "stat" || kind == "list" || kind == "statfs") return {EIO, EACCES, EMFILE};
  return {EACCES, ENOSPC, EXDEV, EIO};  // rename, replace
}

std::string ErrorName(int e) {
  switch (e) {
    case EIO:
      return "EIO";
    case ENOSPC:
      return "ENOSPC";
    case EDQUOT:
      return "EDQUOT";
    case EFBIG:
      return "EFBIG";
    case EMFILE:
      return "EMFILE";
    case EPERM:
      return "EPERM";
    case ENOSYS:
      return "ENOSYS";
    case EXDEV:
      return "EXDEV";
    default:
      return "EACCES";
  }
}

struct Event {
  enum Kind { None, Fail, Kill, PowerCut, Edit, Cancel, Second, Put } kind = None;
  long call = 0;  // it comes at the call-th call of callKind
  std::string callKind;
  int error = 0;           // Fail
  bool lasting = false;    // Fail: every call of its kind from then on
  int edit = 0;            // Edit: 0 append, 1 save over, 2 rewrite keeping the time
  std::string file;        // Edit
  bool atItsLast = false;  // Edit: of the file past its last check then, if one is
  std::string second;      // Second: the other run's option ("" converts)
  // Second: it waits before its own call of this number, counted among those
  // another run can see (0: never); or, with afterOpen, before its first
  // such call after its pauseAt-th open: it holds a file and has not looked
  // around yet.
  long pauseAt = 0;
  bool afterOpen = false;
  bool temporary = false;  // Put: under the temporary name, else the backup's
  int signal = 0;          // Cancel: a signal to the process instead of "Abbrechen"
  kvo::test::Persistence model = kvo::test::Persistence::InOrder;  // PowerCut
  std::uint64_t state = 0;                                         // PowerCut: which of the states
  std::uint64_t cut = 0;  // PowerCut: after which of the calls that change the disk
};

// The user, another program, the machine: the event at its call.
class Beside final : public kvo::UserInterface {
 public:
  std::optional<std::string> ChooseFile() override { return std::nullopt; }
  void ShowInformation(const std::string&) override {}
  void ShowError(const std::string&) override {}
  bool ShowSummary(const std::vector<kvo::FileResult>&, bool) override { return false; }
  void BeginWait() override {}
  void EndWait() override {}
  bool CancelRequested() override { return cancel; }
  // The file whose new file is about to take its name, from its last check on.
  void Reached(kvo::Step step, const std::string& path) override {
    atLast = step == kvo::Step::Last ? InFolder(path) : "";
    staged += step == kvo::Step::Read;
  }
  // Seen before each call: the name change after a last check gives that
  // file its new file.
  void Calling(const std::string& what) {
    if (!taking.empty()) committed.insert(taking);
    taking = what == "exchange" || what == "rename" || what == "replace" ? atLast : "";
  }
  bool cancel = false;
  std::string atLast, taking;
  std::set<std::string> committed;  // the files that took their new file
  int staged = 0;  // a conversion's files read and converted, waiting for their commit
};

void EditFile(const fs::path& path, int how) {
  if (!fs::exists(path)) return;
  if (how == 0) {
    std::ofstream(path, std::ios::app | std::ios::binary) << '!';
  } else if (how == 1) {
    const fs::path saved = path.string() + ".neu";
    const Bytes other = Generated(0, 99);
    std::ofstream(saved, std::ios::binary)
        .write(reinterpret_cast<const char*>(other.data()),
               static_cast<std::streamsize>(other.size()));
    fs::rename(saved, path);
  } else {
    // In place, its time put back: only its change time shows it.
    struct stat before {};
    ::stat(path.c_str(), &before);
    const auto time = fs::last_write_time(path);
    for (int i = 0; i < 100'000; ++i) {
      {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(30);
        const int c = f.get();
        f.seekp(30);
        f.put(static_cast<char>(c ^ (i == 0 ? 1 : 0)));
      }
      fs::last_write_time(path, time);
      struct stat now {};
      ::stat(path.c_str(), &now);
      if (now.st_ctim.tv_sec != before.st_ctim.tv_sec ||
          now.st_ctim.tv_nsec != before.st_ctim.tv_nsec) {
        return;
      }
    }
  }
}

// ---- one operation and the promise after it --------------------------------------------

struct Ran {
  int exit = 0;
  std::vector<std::string> out, err;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// nested: in a child forked from within another run, whose buffers it counts.
Ran RunIn(const fs::path& folder, const std::vector<std::string>& args, kvo::platform::Files& files,
          kvo::UserInterface* beside, bool nested = false) {
  const fs::path home = fs::current_path();
  fs::current_path(folder);
  std::ostringstream out, err;
  Ran ran;
  ran.exit = kvo::RunCommandLine(args, files, out, err, beside);
  fs::current_path(home);
  ran.out = Lines(out.str());
  ran.err = Lines(err.str());
  // Every file's writes waited for or dropped: the pool has all its buffers.
  Check(nested || kvo::platform::BuffersInUse() == 0, "the write pool holds buffers after a run");
  return ran;
}

// What a run said, into the scenario.
void SaySaid(const Ran& ran) {
  for (const auto* lines : {&ran.out, &ran.err}) {
    for (const std::string& line : *lines) Say("  said: " + line);
  }
}

// The file a line is of, as named in the folder; a name spelled in another
// case than the folder's entry (where names ignore case), as that entry.
std::string NameOfLine(const std::string& line, const Folder& folder = {}) {
  std::string name = line.substr(0, line.find(": "));
  if (name.starts_with("./")) name = name.substr(2);
  if (folder.contains(name)) return name;
  for (const auto& [entry, bytes] : folder) {
    if (Lowered(entry) == Lowered(name)) return entry;
  }
  return name;
}

// What the disk must show after an operation, against the folder before it.
void Promise(const Folder& before, const Folder& after, const fs::path& folder, const Ran& ran,
             const std::string& op, const std::set<std::string>& editedNames,
             const std::map<std::string, Kept>& kept, bool keptChecked,
             const std::optional<Bytes>& edit = std::nullopt,
             const std::set<std::string>& guarded = {}, const std::string& excused = {}) {
  // A signal the run caught (in a process of its own) has a line and a
  // status of its own.
  const int signal = kvo::platform::InterruptSignal();
  {
    std::string listing = "  on the disk:";
    for (const auto& [name, bytes] : after) {
      const bool was = before.contains(name) && before.at(name) == bytes;
      listing += " " + name + " (" + std::to_string(bytes.size()) + (was ? " as before)" : ")");
    }
    Say(listing);
  }
  // Whether name holds bytes (spelled in any case, where names ignore it).
  const auto holds = [&](const std::string& name, const Bytes& bytes) {
    return std::ranges::any_of(after, [&](const auto& entry) {
      return Lowered(entry.first) == Lowered(name) && entry.second == bytes;
    });
  };
  // As the README promises: a file's bytes under its own name or its
  // backup's; a backup's under its name or under the file's it went back to.
  const auto home = [&](const std::string& name, const Bytes& bytes) {
    if (holds(name, bytes) || holds(kvo::BackupPath(name), bytes)) return true;
    return std::ranges::any_of(after, [&](const auto& entry) {
      return Lowered(kvo::BackupPath(entry.first)) == Lowered(name) && entry.second == bytes;
    });
  };
  // What another program wrote is the user's too: under the name it wrote
  // to, or that name's backup (or, written as a backup, under its file's); lost only at the one
  // moment no check sees, where the file is then the conversion of the bytes read, and its backup
  // holds them (for undo: the file is its original again).
  const std::string excusedBackup = kvo::BackupPath(excused);
  const bool lost = !excused.empty() && before.contains(excused) && after.contains(excused) &&
                    (op == "--undo" ? before.contains(excusedBackup) &&
                                          after.at(excused) == before.at(excusedBackup)
                                    : after.at(excused) == Converted(before.at(excused)) &&
                                          holds(excusedBackup, before.at(excused)));
  Check(!edit || lost ||
            std::ranges::any_of(editedNames, [&](const auto& n) { return home(n, *edit); }),
        "the other program's edit (" + std::to_string(edit ? edit->size() : 0) + " bytes) is gone");
  // Nothing of the user's lost: every data file's bytes (and backup's) are
  // under their names; a file another program edited is the user's as that
  // program left it.
  for (const auto& [name, bytes] : before) {
    if (IsLeftover(name) || editedNames.contains(name)) continue;
    // The conversion of a backup that went back (as another program left
    // it, where one wrote to it).
    const std::string backup = kvo::BackupPath(name);
    if (op == "--undo" && kvo::VersionOf(bytes) == kvo::Version::V11 &&
        (editedNames.contains(backup) ||
         (before.contains(backup) && holds(name, before.at(backup))))) {
      continue;
    }
    Check(home(name, bytes), "the bytes of " + name + " are not under its name or its backup's");
  }
  // Every name holds something true: bytes that were there, or the exact
  // conversion of bytes that are.
  std::set<Bytes> conversions;
  for (const auto& [name, bytes] : after) {
    if (IsV10(bytes)) conversions.insert(Converted(bytes));
  }
  for (const auto& [name, bytes] : after) {
    if (IsLeftover(name) || editedNames.contains(name)) continue;
    // (What another program wrote may be given back by undo under any name.)
    bool known = conversions.contains(bytes) || (edit && bytes == *edit);
    for (const auto& [n, b] : before) known = known || b == bytes;
    Check(known, name + " holds bytes that are neither a file's nor a conversion");
  }
  // Each line is true on the disk.
  const auto all = [&] {
    std::vector<std::string> lines = ran.out;
    lines.insert(lines.end(), ran.err.begin(), ran.err.end());
    return lines;
  }();
  std::size_t converted = 0;
  for (const std::string& line : all) {
    const std::string name = NameOfLine(line, before);
    // Converted: in place, and (where the folder would not say so) perhaps
    // not yet on the disk.
    const bool done = line.find(kvo::kSuccessText) != std::string::npos ||
                      line.find(kvo::kFolderNotSyncedText) != std::string::npos;
    converted += done;
    if (name.find('/') != std::string::npos || !before.contains(name)) continue;
    const std::string backup = kvo::BackupPath(name);
    if (editedNames.contains(name) || editedNames.contains(backup)) {
      // Edited before it took its new file, where a check can see it:
      // converted means the file is the conversion of what its backup
      // holds, the edit or not.
      Check(!done || !guarded.contains(name) ||
                (after.contains(name) && after.contains(backup) &&
                 Converted(after.at(backup)) == after.at(name)),
            line + ": but the file is not the conversion of its backup");
      continue;
    }
    const Bytes& was = before.at(name);
    if (done) {
      Check(after.contains(name) && after.contains(backup), line + ": but not on the disk");
      Check(after.at(backup) == was, line + ": but the backup is not the original");
      Check(after.at(name) == Converted(was), line + ": but the file is not its conversion");
      if (keptChecked) {
        Check(ModeOf(folder / name) == kept.at(name).mode, line + ": but its mode is lost");
        Check(ModeOf(folder / backup) == kept.at(name).mode,
              line + ": but the backup's mode is lost");
        Check(KeptOf(folder / name).SameOwner(kept.at(name)), line + ": but its owner is lost");
        Check(before.contains(backup) || KeptOf(folder / backup).SameOwner(kept.at(name)),
              line + ": but the backup's owner is lost");
        // (A backup there before, of the same bytes, is taken as it is.)
        Check(before.contains(backup) || KeptOf(folder / backup).written == kept.at(name).written,
              line + ": but the backup's time is not the original's");
      }
    } else if (line.find(kvo::kUnchangedFileText) != std::string::npos ||
               line.find(kvo::kInterruptedText) != std::string::npos) {
      Check(after.contains(name) && after.at(name) == was, line + ": but it changed");
    } else if (line.find(kvo::kUndoneText) != std::string::npos && backup == name) {
      // A backup alone, back under its file's name.
      Check(!after.contains(name) && home(name, was), line + ": but the original is not back");
    } else if (line.find(kvo::kUndoneText) != std::string::npos && before.contains(backup)) {
      Check(after.contains(name) && after.at(name) == before.at(backup),
            line + ": but the original is not back");
      Check(!keptChecked || (ModeOf(folder / name) == kept.at(backup).mode &&
                             KeptOf(folder / name).SameOwner(kept.at(backup))),
            line + ": but the original's mode or owner is not back");
    }
  }
  if (!ran.out.empty() && ran.out.back().starts_with("Zusammenfassung: ")) {
    // Each line counted once (the files not begun have none), and as many
    // failures as problem lines.
    const std::string& summary = ran.out.back();
    std::size_t counted = 0, problems = 0;
    for (std::size_t at = summary.find(' '); at != std::string::npos;
         at = summary.find(", ", at + 1)) {
      const std::size_t n =
          std::strtoul(summary.c_str() + at + 1 + (summary[at] == ','), nullptr, 10);
      const std::string what = summary.substr(summary.find(' ', at + 2) + 1);
      if (!what.starts_with("davon") && !what.starts_with("nicht begonnen")) counted += n;
      if (what.starts_with("davon") || what.starts_with("nicht umgesetzt") ||
          what.starts_with("nicht umsetzbar")) {
        problems += n;
      }
    }
    const bool converting = op == "convert" || op == "--check";
    Check(counted == ran.out.size() - 1 + ran.err.size() - (signal != 0),
          "the counts are not the lines: " + summary);
    Check(!converting || problems == ran.err.size() - (signal != 0),
          "the counts say otherwise than the problem lines: " + summary);
    Check(op != "convert" ||
              summary.starts_with("Zusammenfassung: " + std::to_string(converted) + " umgesetzt"),
          "the counts say otherwise than the lines: " + summary);
  }
  // (Every line can be written.)
  Check(ran.exit == (signal != 0       ? 128 + signal
                     : ran.err.empty() ? 0
                                       : 1),
        "the exit status says otherwise");
}

// The calls at which another run can see a difference: those that open,
// close, make, name or remove a file, flush a folder, or look at names.
// (Reading, writing and flushing a file's bytes change nothing another run
// sees, so a switch before them is one before the next of these.)
bool Switches(const std::string& what) {
  return what != "read" && what != "write" && what != "rewind" && what != "complete" &&
         what != "times" && what != "fsync";
}

// When the explorer's second run waits: before its pauseAt-th call another
// run can see, or before the first such call after its pauseAt-th open.
kvo::test::SecondRun::WaitBefore SecondWaits(const Event& e) {
  if (e.pauseAt == 0) return {};
  return [e, calls = 0L, opens = 0L](const std::string& what) mutable {
    if (!Switches(what)) return false;
    if (e.afterOpen) return std::exchange(opens, opens + (what == "open")) == e.pauseAt;
    return ++calls == e.pauseAt;
  };
}

// The second run's command line, in its own process: in the folder.
int RunSecond(const fs::path& folder, const std::vector<std::string>& args,
              kvo::platform::Files& files, std::ostream& out, std::ostream& err) {
  fs::current_path(folder);
  return kvo::RunCommandLine(args, files, out, err, nullptr);
}

void StartSecond(kvo::test::SecondRun& second) {
  try {
    second.Start();
  } catch (const std::exception& e) {
    Broken(std::string("the second run: ") + e.what());
  }
}

void FinishSecond(kvo::test::SecondRun& second) {
  try {
    second.Finish();
  } catch (const std::exception& e) {
    Broken(std::string("the second run: ") + e.what());
  }
}

// Whether a run says it changed name (converted it, or took it back).
bool Changed(const std::string& line) {
  return line.find(kvo::kSuccessText) != std::string::npos ||
         line.find(kvo::kFolderNotSyncedText) != std::string::npos ||
         line.find(kvo::kUndoneText) != std::string::npos;
}

// Two runs at once: each run's lines true of the disk at its own end, and
// its status as its lines say. A file the other run changed too may have
// been changed after this run let go of it, before this run ended: that
// both lines were true in their turn, the promise that nothing is lost
// holds. before: the folder before either began.
void LinesTrueAtTheirEnd(const Ran& ran, const Folder& after, const Folder& before,
                         const std::string& who, const Ran& otherRan) {
  const auto original = [&](const Bytes& bytes) {
    return std::ranges::any_of(before, [&](const auto& entry) { return entry.second == bytes; });
  };
  std::set<std::string> alsoChanged;
  for (const std::string& line : otherRan.out) {
    if (Changed(line)) alsoChanged.insert(NameOfLine(line, after));
  }
  for (const std::string& line : ran.out) {
    const std::string name = NameOfLine(line, after);
    if (!after.contains(name) || IsLeftover(name) || alsoChanged.contains(name)) continue;
    const std::string backup = kvo::BackupPath(name);
    if (line.find(kvo::kSuccessText) != std::string::npos ||
        line.find(kvo::kFolderNotSyncedText) != std::string::npos) {
      Check(after.contains(backup) && IsV10(after.at(backup)) && original(after.at(backup)) &&
                Converted(after.at(backup)) == after.at(name),
            who + ": " + line + ": but at its end the file is not the conversion of its backup");
    } else if (line.find(kvo::kUndoneText) != std::string::npos && name != backup) {
      Check(IsV10(after.at(name)) && original(after.at(name)),
            who + ": " + line + ": but at its end the file is no original");
    }
  }
  Check(ran.exit == (ran.err.empty() ? 0 : 1), who + ": the exit status says otherwise");
}

// Status names each file's real state, as the disk tells it.
void StatusIsTrue(const fs::path& folder, kvo::platform::Files& files) {
  const Ran ran = RunIn(folder, {"--status", "."}, files, nullptr);
  const Folder now = Read(folder);
  std::vector<std::string> lines = ran.out;
  lines.insert(lines.end(), ran.err.begin(), ran.err.end());
  for (const std::string& line : lines) {
    const std::string name = NameOfLine(line);
    // A backup said to be alone: no file there whose backup it is, whatever
    // its ending.
    Check(line.find(kvo::kBackupAloneText) == std::string::npos ||
              std::ranges::none_of(now,
                                   [&](const auto& entry) {
                                     return entry.first != name &&
                                            kvo::BackupPath(entry.first) == name &&
                                            files.IdentityOf(entry.first);
                                   }),
          "status: " + line);
    if (!now.contains(name) || !Lowered(name).ends_with(".dat")) continue;
    if (line.find(kvo::kSameFileText) != std::string::npos) continue;  // a second name
    const Bytes& bytes = now.at(name);
    const std::string backup = kvo::BackupPath(name);
    const bool hasBackup = now.contains(backup);
    if (IsV10(bytes) && !hasBackup) {
      Check(line.find(kvo::kToConvertText) != std::string::npos, "status: " + line);
    } else if (!IsV10(bytes) && hasBackup && IsV10(now.at(backup)) &&
               Converted(now.at(backup)) == bytes) {
      Check(line.find(kvo::kUnchangedText) != std::string::npos, "status: " + line);
    } else if (!IsV10(bytes) && hasBackup && IsV10(now.at(backup))) {
      Check(line.find(kvo::kChangedSinceText) != std::string::npos ||
                line.find(kvo::kDamagedText) != std::string::npos ||
                line.find(kvo::kNotDataText) != std::string::npos,
            "status: " + line);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Script().clear();
  // Signals taken as the command line takes them.
  static const bool signals = (kvo::platform::InstallInterruptHandling(), true);
  (void)signals;
  kvo::platform::WriteOnlyWhenWaited(true);
  const TempDir dir;
  fs::path folder = kvo::test::FromUtf8(dir.Path("w"));
  fs::create_directories(folder);

  // Inputs of 128 bytes or more also draw, from their front, what the
  // explorer learnt later: owners, names that ignore case, a disk without
  // change time. (The kept inputs are shorter and decode as they always did.)
  const bool later = size >= 128;
  // And of 320 bytes or more, what it learnt after that.
  const bool latest = size >= 320;
  const auto front = [&](std::size_t choices) -> std::size_t {
    const auto b = later ? in.ConsumeBytes<std::uint8_t>(1) : std::vector<std::uint8_t>{};
    return b.empty() ? 0 : b[0] % choices;
  };

  // The disk's abilities.
  const bool links = in.ConsumeBool();
  const bool swaps = links && in.ConsumeBool();
  const bool twoDisks = in.ConsumeBool();
  const bool caseBlind = front(2) == 1;
  // FAT and exFAT through FUSE: no second names, and no change time either.
  const bool noChangeTime = !links && front(2) == 1;
  // As Windows, through the file layer's seam: no open file renamed. Or few
  // files open at once, so that a folder is converted in several groups.
  const std::size_t open = front(8);
  const bool openRenamesRefused = open % 4 == 1;
  const bool severalGroups = open == 2 || open == 7;
  // A file layer over this disk, for each run.
  const auto asDisk = [&](kvo::test::FaultyFiles& layer) {
    layer.noHardLinks = !links;
    layer.noExchange = !swaps;
    layer.noChangeTime = noChangeTime;
    layer.noOpenRenames = openRenamesRefused;
    // As many as the run keeps for itself, two folders, and two members of
    // three files each; undo's members hold five, so one.
    if (severalGroups) layer.openFilesAllowed = 16 + 2 + 2 * 3;
  };
  Say(std::string("disk: ") + (links ? "second names" : "no second names") +
      (swaps ? ", swaps" : ", no swaps") + (twoDisks ? ", files z* on a second file system" : "") +
      (caseBlind ? ", names ignore case" : "") + (noChangeTime ? ", no change time" : "") +
      (openRenamesRefused ? ", no rename of open files" : "") +
      (severalGroups ? ", two files open at once" : ""));

  // The folder.
  const int count = in.ConsumeIntegralInRange(1, 6);
  std::map<std::string, Kept> given;  // each file's mode and owner
  for (int i = 0; i < count; ++i) {
    const std::string name =
        kNames[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kNames) - 1)];
    // (A name is drawn once: also where only its backup is left of it.)
    if (fs::exists(folder / name) || given.contains(name)) continue;
    std::set<fs::path> had;  // what this file and its company will not be
    for (const auto& entry : fs::directory_iterator(folder)) had.insert(entry.path().filename());
    const int kind = in.ConsumeIntegralInRange(0, 31);
    const int seed = in.ConsumeIntegralInRange(1, 4);
    Bytes bytes = Generated(kind == 31 ? 1 : 0, seed);
    std::string what = kind == 31 ? "large" : "valid";
    if (kind >= 20 && kind < 23) {
      bytes.resize(bytes.size() - 50);
      what = "cut short";
    } else if (kind == 23) {
      bytes.insert(bytes.end(), 20, 'x');
      what = "bytes behind the end";
    } else if (kind == 24) {
      // B6's count, behind the header and B1 to B5, made negative.
      bytes[23 + 600 * 134 + 512 * 8 + 256 * 96 + 16 * 104 + 400 * 178 + 3] |= 0x80;
      what = "a damaged count";
    } else if (kind >= 25 && kind < 28) {
      const Bytes original = bytes;
      bytes = Converted(original);
      std::ofstream(folder / kvo::BackupPath(name), std::ios::binary)
          .write(reinterpret_cast<const char*>(original.data()),
                 static_cast<std::streamsize>(original.size()));
      what = "converted, with its .old";
    }
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const unsigned mode =
        std::vector<unsigned>{0644, 0600, 04755, 02755, 0444}[in.ConsumeIntegralInRange(0, 4)];
    // Another user's file, where the explorer may give it one.
    static const std::pair<uid_t, gid_t> kOwners[] = {{0, 0}, {1000, 1000}, {1000, 0}, {0, 1000}};
    const auto [owner, group] = kOwners[::geteuid() == 0 ? front(std::size(kOwners)) : 0];
    Kept& kept = given[name] = {mode, 0, owner, group};
    Give(folder / name, kept);
    std::string extra;
    switch (in.ConsumeIntegralInRange(0, 9)) {
      case 1:
        std::ofstream(folder / kvo::BackupPath(name));
        extra = ", an empty .old";
        break;
      case 2:
        fs::copy_file(folder / name, folder / kvo::BackupPath(name),
                      fs::copy_options::overwrite_existing);
        extra = ", an .old with the same bytes";
        break;
      case 3: {
        Bytes other = bytes;
        other[other.size() / 2] ^= 1;
        std::ofstream(folder / kvo::BackupPath(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(other.data()),
                   static_cast<std::streamsize>(other.size()));
        extra = ", an .old of the same length, other bytes";
        break;
      }
      case 4: {
        // (Where names ignore case, a backup there already takes this name.)
        const std::string upper = name.substr(0, name.rfind('.')) + ".OLD";
        if (caseBlind && fs::exists(folder / kvo::BackupPath(name))) break;
        std::ofstream(folder / upper) << "x";
        extra = ", " + upper;
        break;
      }
      case 5:
        std::ofstream(folder / TemporaryOf(name)) << "rest";
        extra = ", a cut run's temporary file";
        break;
      case 6: {
        const std::string second = "zweit-" + name;
        if (!fs::exists(folder / second)) fs::create_hard_link(folder / name, folder / second);
        given[second] = kept;
        extra = ", second name " + second;
        break;
      }
      default:
        break;
    }
    // Only its backup, the file gone: what a run cut short on a disk without
    // a one-step rename may leave, and undo gives back.
    const auto taken = [&](const std::string& n) {
      return std::ranges::any_of(fs::directory_iterator(folder), [&](const auto& entry) {
        return Lowered(entry.path().filename().string()) == Lowered(n);
      });
    };
    if (front(6) == 1 && !taken(kvo::BackupPath(name))) {
      fs::rename(folder / name, folder / kvo::BackupPath(name));
      extra += ", only as its backup";
    }
    // A symbolic link to it beside it, which a folder's walk meets too.
    const std::size_t beside = front(10);
    if (const std::string link = "verweis-" + name; beside % 5 == 1 && !fs::exists(folder / link)) {
      fs::create_symlink(name, folder / link);
      extra += ", link " + link;
    }
    // Or all of it in a subfolder, which a folder's walk meets too.
    std::vector<fs::path> made;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!had.contains(entry.path().filename())) made.push_back(entry.path().filename());
    }
    if (beside == 8 && std::ranges::none_of(
                           made, [&](const auto& n) { return fs::exists(folder / "unter" / n); })) {
      fs::create_directories(folder / "unter");
      for (const fs::path& n : made) {
        fs::rename(folder / n, folder / "unter" / n);
        if (const auto it = given.find(n); it != given.end()) {
          given["unter/" + n.string()] = it->second;
          given.erase(it);
        }
      }
      extra += ", all in unter/";
    }
    char octal[8];
    std::snprintf(octal, sizeof octal, "%o", mode);
    const std::string owned =
        owner == 0 && group == 0 ? ""
                                 : ", owner " + std::to_string(owner) + ":" + std::to_string(group);
    Say("file " + name + ": " + what + ", mode " + octal + owned + extra);
  }

  const int operations = in.ConsumeIntegralInRange(1, 3);
  for (int o = 0; o < operations && in.remaining_bytes() > 0; ++o) {
    static const char* const kOps[] = {"convert",  "convert", "files",   "--status",
                                       "--verify", "--undo",  "--check", "backup"};
    const std::string op = kOps[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kOps) - 1)];
    std::vector<std::string> args;
    const Folder here = Read(folder);
    if (op == "files" || op == "backup") {
      // Named: some of the data files, a name that is not there, or a backup;
      // where names ignore case, now and then spelled in another.
      for (const auto& [name, bytes] : here) {
        if ((op == "files" && Lowered(name).ends_with(".dat")) ||
            (op == "backup" && Lowered(name).ends_with(".old"))) {
          if (!in.ConsumeBool()) continue;
          const std::size_t spelling = caseBlind ? front(3) : 0;
          // Now and then through a second path to the folder: a link to it.
          const std::string via = front(4) == 1 ? "../spiegel/" : "";
          args.push_back(
              via + (spelling == 0 ? name : InCase(name, spelling == 1 ? ::tolower : ::toupper)));
        }
      }
      if (in.ConsumeIntegralInRange(0, 7) == 0) args.push_back("fehlt.dat");
      fs::remove(folder.parent_path() / "spiegel");
      fs::create_directory_symlink(folder, folder.parent_path() / "spiegel");
      if (args.empty()) args.push_back("a.dat");
      args.insert(args.begin(), "--");
    } else {
      if (op != "convert") args.push_back(op);
      args.push_back(".");
    }
    const std::string kind = op == "files" || op == "backup" ? "convert" : op;
    const auto keptBefore = KeptIn(folder);

    Event e;
    e.kind = static_cast<Event::Kind>(in.ConsumeIntegralInRange(0, 5));
    e.call = kCallNumbers[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kCallNumbers) - 1)];
    e.callKind =
        in.ConsumeBool()
            ? kCommitKinds[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kCommitKinds) - 1)]
            : kKinds[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKinds) - 1)];
    {
      // Mostly an error the system gives there; now and then any.
      const std::vector<int> there = ErrorsAt(e.callKind);
      const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, 3 * std::size(kErrors));
      e.error = pick < 2 * std::size(kErrors) ? there[pick % there.size()]
                                              : kErrors[pick % std::size(kErrors)];
    }
    // Later inputs: a call that only looks (stat, list, statfs) failing, and
    // a failure that lasts: every call of its kind from then on fails.
    if (const std::size_t look = front(8); look >= 5) {
      static const char* const kLooks[] = {"stat", "list", "statfs"};
      e.callKind = kLooks[look - 5];
      e.error = ErrorsAt(e.callKind)[look % 3];
    }
    e.lasting = e.kind == Event::Fail && front(4) == 1;
    e.edit = in.ConsumeIntegralInRange(0, 2);
    // Later inputs: a second run in the same folder, or another program's
    // file under a name the run is about to take.
    if (const std::size_t more = front(10); more >= (latest ? 3 : 5)) {
      e.kind = more < 8 ? Event::Second : Event::Put;
      // A conversion most often: the one that can take what another leaves;
      // the latest inputs an undo as often, which removes what it takes.
      static const char* const kSecond[] = {"", "", "", "--undo", "--status", "--verify"};
      const std::size_t which = front(std::size(kSecond));
      e.second = kSecond[latest && which == 1 ? 3 : which];
      e.temporary = more == 9;
    }
    e.atItsLast = in.ConsumeIntegralInRange(0, 3) == 0;
    if (e.kind == Event::Cancel && e.atItsLast)
      e.signal = std::vector{SIGINT, SIGTERM, SIGHUP}[e.edit];
    {
      // One of the data files there: an edit of a file that is not there
      // tells nothing.
      std::vector<std::string> data;
      for (const auto& [name, bytes] : here) {
        if (name.ends_with(".dat") || name.ends_with(".DAT")) data.push_back(name);
      }
      const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, 7);
      e.file = data.empty() ? kNames[pick] : data[pick % data.size()];
    }
    e.model = static_cast<kvo::test::Persistence>(in.ConsumeIntegralInRange(0, 2));
    e.state = in.ConsumeIntegral<std::uint64_t>();
    if (e.kind == Event::PowerCut) e.cut = in.ConsumeIntegral<std::uint16_t>();
    // The latest inputs: the second run starts at a call that commits or
    // lets go of a file, and stops before one of its own calls at which
    // another run can see a difference (among its first files, where the
    // first run's are too) while the first goes on. (Drawn from bits no
    // second run uses.)
    if (latest && e.kind == Event::Second) {
      static const char* const kLetGo[] = {"link",   "rename",   "replace", "exchange",
                                           "remove", "fsyncdir", "close"};
      e.callKind = kLetGo[e.state % std::size(kLetGo)];
      e.state /= std::size(kLetGo);
      e.call = e.state % 4 == 3 ? 2 : 1;  // a folder's first files
      e.state /= 4;
      e.afterOpen = e.state % 2 == 1;
      e.state /= 2;
      e.pauseAt = static_cast<long>(e.afterOpen ? 1 + e.state % 3 : e.state % 25);
      e.state /= 25;
    }

    std::string said = "run";
    for (const std::string& a : args) said += " " + a;
    const std::string at = e.callKind + " #" + std::to_string(e.call);
    if (e.kind == Event::Fail) {
      said += std::string("; the call fails") + (e.lasting ? " from then on" : "") + ": " + at +
              " with " + ErrorName(e.error);
    }
    if (e.kind == Event::Kill) said += "; killed before " + at;
    if (e.kind == Event::Cancel) {
      said += (e.signal != 0 ? "; the signal " + std::to_string(e.signal) : "; Abbrechen") +
              " before " + at;
    }
    if (e.kind == Event::Second) {
      said += "; a second run " + e.second + " . before " + at;
      if (e.pauseAt != 0) {
        said += ", which waits " +
                (e.afterOpen ? "right after its open #" + std::to_string(e.pauseAt)
                             : "before its own call #" + std::to_string(e.pauseAt)) +
                " until the first has ended or waits for it";
      }
    }
    if (e.kind == Event::Put) {
      said += std::string("; another program puts a file under ") +
              (e.temporary ? "the temporary name" : "the backup name") + " of " + e.file +
              " before " + at;
    }
    if (e.kind == Event::PowerCut) {
      static const char* const kModels[] = {" (in order)", " (any subset)", " (all but one)"};
      said += "; the power is cut after disk call #" + std::to_string(e.cut) + " (counted round)" +
              kModels[static_cast<int>(e.model)] + ", state " + std::to_string(e.state);
    }
    if (e.kind == Event::Edit) {
      said += std::string("; another program ") +
              (e.edit == 0   ? "appends to "
               : e.edit == 1 ? "saves over "
                             : "rewrites, time kept, ") +
              (e.atItsLast ? "the file past its last check (else " + e.file + ")" : e.file) +
              " before " + at;
    }
    Say(said);

    kvo::test::FaultyFiles files(e.kind == Event::Fail ? e.call : 0);
    asDisk(files);
    files.looks = true;
    if (e.kind == Event::Fail) {
      files.only = e.callKind;
      files.error = e.error;
      files.failFrom = e.lasting;
    }
    if (twoDisks) {
      files.device = [](const std::string& path) -> std::uint64_t {
        // A new file of a data file named z... lies on a second file system.
        const std::string name = kvo::platform::NameOf(path);
        for (const char* n : kNames) {
          if (n[0] == 'z' && kvo::IsTemporaryOf(name, n)) return 2;
        }
        return 1;
      };
    }
    Beside beside;
    std::set<std::string> edited;
    std::optional<Bytes> edit;  // what the other program left
    fs::path killed;
    // The folder as the run began, for the power's model.
    const Folder start = Read(folder);
    std::map<std::string, std::string> sameAs;  // second names, as the power's model keeps them
    {
      std::map<ino_t, std::string> first;
      for (const auto& [name, bytes] : start) {
        struct stat st {};
        if (::stat((folder / name).c_str(), &st) != 0) continue;
        if (const auto [it, fresh] = first.emplace(st.st_ino, name); !fresh)
          sameAs[name] = it->second;
      }
    }
    // A second run in a process of its own, made now, before the first
    // begins, so that it holds nothing of it.
    std::optional<kvo::test::SecondRun> other;
    if (e.kind == Event::Second) {
      std::vector<std::string> secondArgs{"."};
      if (!e.second.empty()) secondArgs.insert(secondArgs.begin(), e.second);
      other.emplace(
          [&, secondArgs](kvo::test::FaultyFiles& layer, std::ostream& out, std::ostream& err) {
            asDisk(layer);
            CaseBlindFiles blindOther(layer);
            return RunSecond(folder, secondArgs,
                             caseBlind ? static_cast<kvo::platform::Files&>(blindOther) : layer,
                             out, err);
          },
          SecondWaits(e));
    }
    // Where the first waits (for a look, or a file to be let go of), the
    // second goes on to its end: waiting is the first's turn ending.
    Folder secondEnd;  // the folder as the second run ended
    // (Declared here: the wait's own doings are the explorer's, not the run's.)
    HeapWatch heap;
    kvo::platform::SetBusyPause([&](unsigned) {
      if (!other || !other->waiting()) return;
      heap.Around([&] {
        Say("  (the first waits: the second goes on)");
        FinishSecond(*other);
        secondEnd = Read(folder);
      });
    });
    kvo::test::RecordingFiles recording(start, files, sameAs, folder.string());
    std::map<std::string, long> calls;  // of each kind
    bool excused = false;
    std::string excusedName;        // the file that took its new name at that moment
    bool groupOpen = false;         // when the call failed
    std::set<std::string> guarded;  // edited before they took their new file
    std::optional<Ran> second;      // what the second run said
    std::string previousCall;       // the kind of the call before this one
    bool afterLink = false;         // this call comes right after a second name was made
    const auto event = [&](const std::string& what) {
      if (what != e.callKind || ++calls[what] != e.call) return;
      if (e.kind == Event::Edit && e.atItsLast && !beside.atLast.empty()) {
        e.file = beside.atLast;
        Say("  (the file past its last check: " + e.file + ")");
      }
      // A signal where no run holds it back ends the process as a kill does.
      const bool ends =
          e.kind == Event::Kill || (e.signal != 0 && !kvo::platform::InterruptsHeld());
      if (ends && killed.empty()) {
        if (e.signal != 0) Say("  (no run holds the signal back there: it ends the process)");
        killed = kvo::test::FromUtf8(dir.Path("killed" + std::to_string(o)));
        Snapshot(folder, killed);
      } else if (e.kind == Event::Second && other && !other->started()) {
        // Another process's run, started now: to its end, or to the call it
        // waits before.
        StartSecond(*other);
        if (other->ended()) secondEnd = Read(folder);
        if (other->waiting()) Say("  (the second run waits)");
      } else if (e.kind == Event::Put && !edit) {
        const std::string name = e.temporary ? TemporaryOf(e.file) : kvo::BackupPath(e.file);
        if (!fs::exists(folder / name)) {
          edit = Generated(0, 98);
          std::ofstream(folder / name, std::ios::binary)
              .write(reinterpret_cast<const char*>(edit->data()),
                     static_cast<std::streamsize>(edit->size()));
          edited.insert(name);
          // A file named as the tool's own temporary file is the tool's to clear.
          if (e.temporary) edit.reset();
        }
      } else if (e.kind == Event::Edit && edited.empty() && fs::exists(folder / e.file)) {
        // The file under all its names, and the backup of each: the run
        // may read the edited bytes under any of them.
        struct stat target {};
        ::stat((folder / e.file).c_str(), &target);
        std::set<std::string> names;
        for (const auto& [name, entry] : FilesIn(folder)) {
          struct stat st {};
          if (::stat(entry.path().c_str(), &st) == 0 && st.st_ino == target.st_ino) {
            names.insert(name);
            edited.insert(name);
            edited.insert(kvo::BackupPath(name));
          }
        }
        // Every name whose bytes these were: a backup that is a second name
        // of the file is edited with it.
        const Bytes was = Read(folder).at(e.file);
        for (const auto& [name, bytes] : here) {
          if (bytes == was) edited.insert(name);
        }
        EditFile(folder / e.file, e.edit);
        edit = Read(folder).at(e.file);
        for (const std::string& name : edited) {
          if (!beside.committed.contains(name)) guarded.insert(name);
        }
        // The one moment no check can see an edit: between the last check
        // and the rename where names cannot be swapped (under any name of
        // the file); and, for an edit that keeps the file's time, between the
        // check and the second name (and the look right after it) or the swap:
        // those change the change time that alone shows it.
        // (Undo where open files are not renamed, as on Windows, gives the
        // backup the name by a plain rename.)
        excused = ((!swaps || (openRenamesRefused && kind == "--undo")) &&
                   names.contains(beside.atLast)) ||
                  (e.edit == 2 && (what == "link" || (what == "stat" && afterLink) ||
                                   (what == "exchange" && edited.contains(beside.atLast))));
        if (excused) {
          // There, and only for that file (under any of its names), the edit
          // may be lost, or land in a backup that is a second name of it.
          Say("  (that edit comes at the one moment the tool cannot guard)");
          for (const std::string& name : names) guarded.erase(name);
          excusedName = beside.atLast;
        }
      } else if (e.kind == Event::Cancel) {
        if (e.signal != 0) std::raise(e.signal);
        beside.cancel = e.signal == 0;
      } else if (e.kind == Event::Fail) {
        // (The explorer's folders fit in one group: a file read before this
        // call is waiting in it, open.)
        groupOpen = beside.staged > 0;
      }
    };
    files.before = [&](long, const std::string& what) {
      afterLink = previousCall == "link";
      previousCall = what;
      beside.Calling(what);
      heap.Around([&] { event(what); });
    };
    kvo::platform::Files& recorded =
        e.kind == Event::PowerCut ? static_cast<kvo::platform::Files&>(recording) : files;
    CaseBlindFiles blind(recorded);
    kvo::platform::Files& layer = caseBlind ? static_cast<kvo::platform::Files&>(blind) : recorded;
    heap = {};
    const Ran ran = RunIn(folder, args, layer, &beside);
    if (other && other->started()) {
      // Each run's lines true of the disk at its end: the first's now, the
      // second's once it has gone on to its end.
      const Folder firstEnd = Read(folder);
      SaySaid(ran);
      Say("  (the first has ended)");
      if (other->waiting()) {
        FinishSecond(*other);
        secondEnd = Read(folder);
      }
      second.emplace();
      second->exit = other->exit;
      second->out = other->out;
      second->err = other->err;
      Say("  the second run:");
      SaySaid(*second);
      LinesTrueAtTheirEnd(ran, firstEnd, here, "the first run", *second);
      LinesTrueAtTheirEnd(*second, secondEnd, here, "the second run", ran);
    }
    other.reset();
    kvo::platform::SetBusyPause({});
    // Whatever the files' sizes: one file of up to 8 MB read whole, as much
    // again to work in, and where files are written, the write pool's 16 MB.
    // (The power's model keeps every byte written.)
    const bool writes = kind == "convert" || kind == "--undo";
    Check(e.kind == Event::PowerCut || heap.peak <= std::int64_t{writes ? 32 : 16} << 20,
          "the run held " + std::to_string(heap.peak >> 20) + " MB at once");
    if (!second) SaySaid(ran);

    if (e.kind == Event::PowerCut) {
      // After one of the calls that changed the disk: every state its names
      // may be left in there, kept in order or all but one (the data's fate
      // as the input picks), checked in memory; the rerun from the one the
      // input picks.
      using kvo::test::Persistence;
      const std::size_t calls = recording.ops().size();
      // Half of the cuts among the last calls, where a run commits.
      const std::size_t done = calls == 0 ? 0
                               : (e.cut & 1) != 0
                                   ? calls - (e.cut >> 1) % std::min<std::size_t>(calls, 8)
                                   : 1 + (e.cut >> 1) % calls;
      const std::size_t pending = kvo::test::UnflushedNameChanges(recording, done);
      const std::uint64_t fate = e.state & ~((std::uint64_t{1} << 48) - 1);
      // The state number that keeps i of m choices, with that fate.
      const auto number = [&](std::size_t m, std::size_t i) {
        return fate + (i + m - fate % m) % m;
      };
      for (std::size_t i = 0; i <= pending; ++i) {
        Say("  the power is cut after disk call " + std::to_string(done) + " of " +
            std::to_string(calls) + ": the first " + std::to_string(i) + " of " +
            std::to_string(pending) + " name changes kept");
        Promise(
            here,
            kvo::test::StatesAfter(recording, done, Persistence::InOrder, number(pending + 1, i))
                .front()
                .files,
            folder, {}, kind, edited, keptBefore, false);
        if (i == pending) break;
        Say("  ... or all of them but name change " + std::to_string(i + 1));
        Promise(here,
                kvo::test::StatesAfter(recording, done, Persistence::AllButOne, number(pending, i))
                    .front()
                    .files,
                folder, {}, kind, edited, keptBefore, false);
      }
      Say("  the rerun from the state the input picks");
      const kvo::test::DiskState state =
          kvo::test::StatesAfter(recording, done, e.model, e.state).front();
      const TempDir cut;
      kvo::test::Materialize(state, cut);
      folder = kvo::test::FromUtf8(dir.Path("cut" + std::to_string(o)));
      fs::create_directories(folder);
      for (const auto& entry : fs::directory_iterator(kvo::test::FromUtf8(cut.Path("")))) {
        fs::rename(entry.path(), folder / entry.path().filename());
      }
      // The model keeps bytes and names; the files' modes and owners are as
      // they were when the run began (a backup's as its file's).
      for (const auto& [name, entry] : FilesIn(folder)) {
        for (const auto& [was, kept] : keptBefore) {
          if (was == name || (!keptBefore.contains(name) && kvo::IsDataFile(was) &&
                              kvo::BackupPath(was) == name)) {
            Give(entry.path(), kept);
          }
        }
      }
      Promise(here, Read(folder), folder, {}, kind, edited, keptBefore, false);
    } else if (!killed.empty()) {
      // The run that went on past the kill point, then what the kill left.
      Promise(here, Read(folder), folder, ran, kind, edited, keptBefore, true, edit, guarded,
              excusedName);
      folder = killed;
      Promise(here, Read(folder), folder, {}, kind, edited, keptBefore, false);
    } else if (second) {
      // Two runs' lines, each true at its end (above), need not be true
      // after both: what holds is that nothing of the user's is lost, and
      // what status says now.
      const bool undone = kind == "--undo" || e.second == "--undo";
      Promise(here, Read(folder), folder, {}, undone ? "--undo" : kind, edited, keptBefore, false,
              edit);
    } else {
      Promise(here, Read(folder), folder, ran, kind, edited, keptBefore, true, edit, guarded,
              excusedName);
      // A single open file too many is the system's limit, not a file's,
      // while the group holds others: the file waits for the next group.
      // (Alone, or where status looks at one file at a time, it is the
      // system's limit, and said so.)
      // (A limit that lasts is the system's, and said so.)
      if (e.kind == Event::Fail && e.error == EMFILE && e.callKind == "open" && kind == "convert" &&
          groupOpen && !e.lasting) {
        for (const std::string& line : ran.err) {
          // (The line begins the reason with a capital.)
          Check(line.find(kvo::kTooManyOpenDetail + 1) == std::string::npos,
                "a file was blamed for the open files: " + line);
        }
      }
    }
    // What the run answered is forgotten: the next starts afresh.
    kvo::platform::ForgetInterrupt();

    // A rerun finishes the job and leaves nothing behind.
    const Folder beforeRerun = Read(folder);
    std::set<std::string> shared;  // names of a file with several, before the rerun
    for (const auto& [name, entry] : FilesIn(folder)) {
      struct stat st {};
      if (::stat(entry.path().c_str(), &st) == 0 && st.st_nlink > 1) shared.insert(name);
    }
    const auto keptRerun = KeptIn(folder);
    kvo::test::FaultyFiles faultless;
    asDisk(faultless);
    CaseBlindFiles blindAgain(faultless);
    kvo::platform::Files& plain =
        caseBlind ? static_cast<kvo::platform::Files&>(blindAgain) : faultless;
    const Ran again = RunIn(folder, args, plain, nullptr);
    Say("  the rerun:");
    SaySaid(again);
    // (A state the power left has its files' modes as the model writes them.)
    Promise(beforeRerun, Read(folder), folder, again, kind, {}, keptRerun, true);
    // Of the files it met (status, verify and check change nothing, leftovers
    // neither).
    const Folder now = Read(folder);
    for (const auto& [name, bytes] : now) {
      if (!IsLeftover(name) || (kind != "convert" && kind != "--undo")) continue;
      for (const auto& entry : now) {
        const std::string& data = entry.first;
        // (Named in any case where names ignore it.)
        const bool met = args.back() == "."
                             ? data.ends_with(".dat")
                             : std::ranges::any_of(args, [&](const std::string& named) {
                                 return Lowered(named) == Lowered(data);
                               });
        Check(!met || !kvo::IsTemporaryOf(name, data), "a rerun left " + name);
      }
    }
    if (kind == "convert") {
      // (A name of a file with several keeps the original, a file of its own
      // once another name is converted: it is converted then.)
      const Ran third = RunIn(folder, args, plain, nullptr);
      for (const std::string& line : third.out) {
        // (Named through the second path to the folder too.)
        std::string name = NameOfLine(line, now);
        if (name.starts_with("../spiegel/")) name = name.substr(11);
        Check(line.find(kvo::kSuccessText) == std::string::npos || shared.contains(name) ||
                  kvo::platform::NameOf(name).starts_with("zweit-"),
              "the rerun did not finish: " + line);
      }
    }
    StatusIsTrue(folder, plain);
  }
  // To read what a kept input does: KVO_EXPLORE_SHOW=1 explore INPUT.
  if (std::getenv("KVO_EXPLORE_SHOW") != nullptr) PrintScript();
  return 0;
}

// ---- every schedule of two runs, within two switches ----------------------------------

namespace {

// A disk, as the file layer's seam makes it.
struct Disk {
  const char* name;
  bool links, swaps, noChangeTime, windows;
  void Give(kvo::test::FaultyFiles& layer) const {
    layer.noHardLinks = !links;
    layer.noExchange = !swaps;
    layer.noChangeTime = noChangeTime;
    layer.noOpenRenames = windows;
  }
};
constexpr Disk kDisks[] = {
    {"swaps", true, true, false, false},
    {"no swap", true, false, false, false},
    {"no second names (FAT, exFAT)", false, false, true, false},
    {"Windows' way: no open file renamed, nor one renamed over", true, false, false, true},
};

// The folder of one file, x.dat, in each state a run can leave it in.
struct Start {
  const char* name;
  void (*make)(const fs::path& folder, const Disk& disk);
};

void Put(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

const Bytes& Small() {
  static const Bytes bytes = kvo::test::SmallFile(7);
  return bytes;
}

// A second name where the disk has them, else a copy.
void Twin(const fs::path& from, const fs::path& to, const Disk& disk) {
  if (disk.links) {
    fs::create_hard_link(from, to);
  } else {
    fs::copy_file(from, to);
  }
}

constexpr Start kStarts[] = {
    {"fresh", [](const fs::path& f, const Disk&) { Put(f / "x.dat", Small()); }},
    {"converted",
     [](const fs::path& f, const Disk&) {
       Put(f / "x.dat", Converted(Small()));
       Put(f / "x.old", Small());
     }},
    {"a conversion cut while it wrote the new file",
     [](const fs::path& f, const Disk&) {
       Put(f / "x.dat", Small());
       const Bytes& v11 = Converted(Small());
       Put(f / TemporaryOf("x.dat"), Bytes(v11.begin(), v11.begin() + v11.size() / 2));
     }},
    {"a conversion cut after its backup",
     [](const fs::path& f, const Disk& disk) {
       Put(f / "x.dat", Small());
       Put(f / TemporaryOf("x.dat"), Converted(Small()));
       Twin(f / "x.dat", f / "x.old", disk);
     }},
    {"a conversion cut after its swap",
     [](const fs::path& f, const Disk&) {
       Put(f / "x.dat", Converted(Small()));
       Put(f / "x.old", Small());
       fs::create_hard_link(f / "x.old", f / TemporaryOf("x.dat"));
     }},
    {"an undo cut after its backup's second name",
     [](const fs::path& f, const Disk& disk) {
       Put(f / "x.dat", Converted(Small()));
       Put(f / "x.old", Small());
       Twin(f / "x.old", f / TemporaryOf("x.dat"), disk);
     }},
    {"a backup alone", [](const fs::path& f, const Disk&) { Put(f / "x.old", Small()); }},
};

// A run's arguments: the folder, with the operation's option.
std::vector<std::string> ArgsOf(const std::string& op) {
  return op == "convert" ? std::vector<std::string>{"."} : std::vector<std::string>{op, "."};
}

// How many calls a run makes at which another can see a difference, alone.
long CallsAlone(const Disk& disk, const Start& start, const std::string& op) {
  const TempDir dir;
  const fs::path folder = kvo::test::FromUtf8(dir.Path("w"));
  fs::create_directories(folder);
  start.make(folder, disk);
  kvo::test::FaultyFiles files;
  disk.Give(files);
  files.looks = true;
  long calls = 0;
  files.before = [&](long, const std::string& what) { calls += Switches(what); };
  RunIn(folder, ArgsOf(op), files, nullptr);
  return calls;
}

// One schedule: the first runs to its call i, the second to its call j, the
// first to its end (or until it waits for the second), the second to its
// end; then the promise. Returns whether the second came to its call j.
bool OneSchedule(const Disk& disk, const Start& start, const std::string& first, long i,
                 const std::string& secondOp, long j) {
  Script().clear();
  Say(std::string("disk: ") + disk.name + "; x.dat " + start.name);
  Say("run " + first + " ., which lets a second run " + secondOp + " . go before its call #" +
      std::to_string(i) + "; the second waits before its own call #" + std::to_string(j) +
      " until the first has ended or waits for it");
  const TempDir dir;
  const fs::path folder = kvo::test::FromUtf8(dir.Path("w"));
  fs::create_directories(folder);
  start.make(folder, disk);
  const Folder here = Read(folder);
  const auto kept = KeptIn(folder);
  kvo::test::SecondRun other(
      [&](kvo::test::FaultyFiles& layer, std::ostream& out, std::ostream& err) {
        disk.Give(layer);
        return RunSecond(folder, ArgsOf(secondOp), layer, out, err);
      },
      [calls = 0L, j](const std::string& what) mutable { return Switches(what) && ++calls == j; });
  Folder secondEnd;
  const auto finish = [&] {
    FinishSecond(other);
    secondEnd = Read(folder);
  };
  kvo::platform::SetBusyPause([&](unsigned) {
    if (other.waiting()) finish();
  });
  kvo::test::FaultyFiles files;
  disk.Give(files);
  files.looks = true;
  long calls = 0;
  files.before = [&](long, const std::string& what) {
    if (!Switches(what) || ++calls != i) return;
    StartSecond(other);
    if (other.ended()) secondEnd = Read(folder);
  };
  const Ran ran = RunIn(folder, ArgsOf(first), files, nullptr);
  const Folder firstEnd = Read(folder);
  if (!other.started()) {
    kvo::platform::SetBusyPause({});
    return false;
  }
  if (other.waiting()) finish();
  kvo::platform::SetBusyPause({});
  Ran second;
  second.exit = other.exit;
  second.out = other.out;
  second.err = other.err;
  Say("  the first run:");
  SaySaid(ran);
  Say("  the second run:");
  SaySaid(second);
  LinesTrueAtTheirEnd(ran, firstEnd, here, "the first run", second);
  LinesTrueAtTheirEnd(second, secondEnd, here, "the second run", ran);
  const bool undone = first == "--undo" || secondOp == "--undo";
  Promise(here, Read(folder), folder, {}, undone ? "--undo" : "convert", {}, kept, false);
  // Nothing left that no run clears: the next conversion or undo clears it.
  kvo::test::FaultyFiles plain;
  disk.Give(plain);
  const Ran again = RunIn(folder, ArgsOf(first), plain, nullptr);
  Say("  the rerun:");
  SaySaid(again);
  for (const auto& [name, bytes] : Read(folder)) {
    Check(!IsLeftover(name), "a rerun left " + name);
  }
  StatusIsTrue(folder, plain);
  return other.paused();
}

}  // namespace

// Every schedule of a first run (convert, undo) and a second (convert,
// undo, status, verify) of a folder of one file, in every state a run can
// leave it in, on every disk: the first to each of its calls i, the second
// to each of its calls j, the first to its end, the second to its end.
// part of parts: the disks and states dealt out, for runs side by side.
// Prints how many schedules ran and how long they took.
extern "C" int KvoEverySchedule(int part, int parts) {
  static const bool signals = (kvo::platform::InstallInterruptHandling(), true);
  (void)signals;
  kvo::platform::WriteOnlyWhenWaited(true);
  const auto began = std::chrono::steady_clock::now();
  long schedules = 0, dealt = 0;
  for (const Disk& disk : kDisks) {
    for (const Start& start : kStarts) {
      if (dealt++ % parts != part) continue;
      for (const char* first : {"convert", "--undo"}) {
        const long calls = CallsAlone(disk, start, first);
        for (long i = 1; i <= calls; ++i) {
          for (const char* secondOp : {"convert", "--undo", "--status", "--verify"}) {
            for (long j = 1;; ++j) {
              ++schedules;
              if (!OneSchedule(disk, start, first, i, secondOp, j)) break;
            }
          }
        }
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::printf("%ld schedules of two runs (part %d of %d), every promise kept, in %.0f s\n",
              schedules, part + 1, parts, seconds);
  return 0;
}
