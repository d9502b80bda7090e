// The data file core for the browser: a small C interface over the same
// conversion, names, texts and summary as the desktop tool. The page reads
// and writes the files, a window of bytes at a time, and may have several
// files under way at once; this decides what happens to each, converts it
// window by window (the desktop's pass, resumed where its bytes ran out),
// and says it in the desktop tool's words.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Container.h"
#include "Core.h"
#include "Errors.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"
#include "Summary.h"

namespace kvo::web {

Run& TheRun() {
  static Run run;
  return run;
}

const char* Text(std::string text) {
  TheRun().text = std::move(text);
  return TheRun().text.c_str();
}

}  // namespace kvo::web

namespace {

using namespace kvo;
using namespace kvo::web;

// One file's way through the core: its header, its survey by count fields,
// then its conversion, each pass resumed as the page brings more bytes. For
// undo, the file is the backup, and the page brings the data file's bytes
// beside each piece of its conversion, which this compares.
struct Job {
  enum Phase { Head, Survey, Convert, Finished };
  std::size_t index;  // its result
  std::uint64_t size;
  bool undo;
  Phase phase = Head;
  std::unique_ptr<TableSets> tables = std::make_unique<TableSets>();
  WindowSource source;
  std::vector<std::uint8_t> window;  // the bytes the page gave
  std::uint64_t windowOffset = 0;    // where in the file they are
  std::size_t windowSize = 0;
  Resumption survey, convert;
  Counts counts;
  std::vector<std::uint8_t> output;  // converted bytes the page has not taken
  std::uint64_t written = 0;         // converted bytes taken before
  std::uint64_t needOffset = 0;
  std::size_t needSize = 0;
  // Undo: the data file's size; the piece taken last, to compare; where the
  // file first differs from the conversion, and which ended there.
  std::uint64_t fileSize = 0;
  std::vector<std::uint8_t> taken, theirs, pair;
  std::optional<std::pair<std::uint64_t, char>> difference;
  Plan plan;

  Job(std::size_t index, std::uint64_t size, bool backupTaken, bool undo)
      : index(index), size(size), undo(undo), source(size, 0) {
    plan.backupTaken = backupTaken;
  }
  FileResult& result() { return TheRun().results.at(index); }
};

std::map<int, std::unique_ptr<Job>>& Jobs() {
  static std::map<int, std::unique_ptr<Job>> jobs;
  return jobs;
}

Job& JobOf(int id) {
  return *Jobs().at(id);
}

// What kvo_step answers besides an outcome: the job wants more bytes.
constexpr int kNeedBytes = -1;

// Undo, once every piece is compared: the file is its backup's conversion,
// byte for byte and no longer, or it stays as it is.
int Judge(Job& job) {
  FileResult& r = job.result();
  if (r.outcome != Outcome::Undone) return static_cast<int>(r.outcome);
  if (!job.difference && job.fileSize > job.written) job.difference = {job.written, 'c'};
  if (const auto d = job.difference) {
    const Place place = PlaceOf(d->first, job.counts);
    Fail(r, Failure::NotUndone,
         kChangedSinceDetail + DifferenceDetail(d->first, place.block, place.record, d->second,
                                                platform::NameOf(BackupPath(r.path))));
  }
  return static_cast<int>(r.outcome);
}

// Runs the job as far as its bytes go.
int Advance(Job& job) {
  FileResult& r = job.result();
  if (job.phase == Job::Finished) return job.undo ? Judge(job) : static_cast<int>(r.outcome);
  const std::string backup = platform::NameOf(BackupPath(r.path));
  try {
    if (job.phase == Job::Head) {
      Header header{};
      const Version version = VersionOf(std::span(header).first(ReadFully(job.source, header)));
      if (job.undo) {
        if (version != Version::V10) {
          Fail(r, Failure::NotUndone, NotOriginalDetail(backup));
          return static_cast<int>(r.outcome);
        }
      } else if (version != Version::V10) {
        const bool converted = version == Version::V11;
        Settle(r, converted ? Outcome::AlreadyConverted : Outcome::WrongVersion, kWrongVersionText,
               converted ? kAlreadyConvertedDetail : "");
        return static_cast<int>(r.outcome);
      } else if (job.plan.backupTaken) {
        Fail(r, Failure::Backup, BackupExistsDetail(backup));
        return static_cast<int>(r.outcome);
      }
      job.phase = job.undo ? Job::Convert : Job::Survey;
    }
    if (job.phase == Job::Survey) {
      // A damaged file is refused here, before anything is written: by its
      // count fields, as the desktop surveys a large file.
      job.counts = SurveyDataFile0(job.source, *job.tables, &job.survey);
      job.phase = Job::Convert;
      // From behind the header once more, the bytes at hand first.
      job.source = WindowSource(job.size, kHeader0.size());
      job.source.Give(job.windowOffset, std::span(job.window).first(job.windowSize));
    }
    if (job.phase == Job::Convert) {
      VectorSink sink(job.output);
      const Counts counts =
          ConvertDataFile0(job.source, &sink, *job.tables, kWindowBytes, &job.convert);
      // Counts other than the survey's: the file was written to meanwhile.
      if (!job.undo && counts != job.counts) throw Failed(Failure::Changed);
      job.counts = counts;
      job.phase = Job::Finished;
    }
  } catch (const WindowSource::Starved& wanted) {
    job.needOffset = wanted.offset;
    job.needSize = wanted.size;
    return kNeedBytes;
  } catch (const KvoError& e) {
    job.phase = Job::Finished;
    Settle(r, Outcome::Failed, ErrorBoxText(job.undo ? kNotUndoneText : e.what()),
           job.undo ? backup + ": " + e.what() : e.detail());
    return static_cast<int>(r.outcome);
  } catch (const std::bad_alloc&) {
    job.phase = Job::Finished;
    Settle(r, Outcome::Failed, ErrorBoxText(kOutOfMemoryText));
    return static_cast<int>(r.outcome);
  }
  if (job.undo) {
    // Undone once the last piece is compared too: the next step judges.
    Settle(r, Outcome::Undone, kUndoneText);
    return static_cast<int>(r.outcome);
  }
  // Bytes behind the last block stay in the original, wherever it is.
  const std::uint64_t extra = job.source.Remaining();
  const bool download = TheRun().download;
  Settle(r, download ? Outcome::Convertible : Outcome::Converted,
         download ? kReadyText : kSuccessText,
         extra > 0 ? ExtraBytesDetail(extra, download ? platform::NameOf(r.path) : backup, false)
                   : "");
  return static_cast<int>(r.outcome);
}

}  // namespace

extern "C" {

// A new run, in one of the page's modes (kModeNames): in place, for saving, undo.
void kvo_begin(int mode) {
  TheRun() = {};
  TheRun().operation = Mode(mode) == Mode::Undo ? Operation::Undo : Operation::Convert;
  TheRun().download = Mode(mode) == Mode::Save;
  Jobs().clear();
}

// A file of the run, in the order the run shows them: its index. It counts
// as not begun until a job of it says otherwise.
int kvo_file(const char* path, int inFolder) {
  Run& run = TheRun();
  FileResult& r = run.results.emplace_back();
  r.path = path;
  r.inFolder = inFolder != 0;
  r.operation = run.operation;
  if (!run.download && run.operation == Operation::Convert &&
      IsBackupName(platform::NameOf(r.path))) {
    // A backup chosen as a file is never converted: its name is its own
    // backup's (in another case too, as where names ignore case).
    Fail(r, Failure::Backup, kOwnBackupDetail);
  } else {
    run.backups.emplace(BackupPath(r.path), run.results.size() - 1);  // one its job may make
  }
  return static_cast<int>(run.results.size() - 1);
}

// Starts converting the file at index, of size bytes; backupTaken: another
// file holds its backup's name (one that holds these very bytes is the
// backup of a run that was cut short, and does not count). With undo, the
// file is the backup of the file at index, which is fileSize bytes long.
// Returns the job.
int kvo_start(int index, double size, int backupTaken, int undo, double fileSize) {
  static int next = 0;
  const int id = ++next;
  auto job = std::make_unique<Job>(static_cast<std::size_t>(index),
                                   static_cast<std::uint64_t>(size), backupTaken != 0, undo != 0);
  job->fileSize = static_cast<std::uint64_t>(fileSize);
  Jobs()[id] = std::move(job);
  return id;
}

// The sizes of the job's file and, for undo, of the data file, once the page
// has read them.
void kvo_source(int job, double size, double fileSize) {
  Job& j = JobOf(job);
  j.size = static_cast<std::uint64_t>(size);
  j.fileSize = static_cast<std::uint64_t>(fileSize);
  j.source = WindowSource(j.size, 0);
}

// Room for size bytes of the job's file, for the page to fill.
std::uint8_t* kvo_window(int job, int size) {
  Job& j = JobOf(job);
  j.window.resize(static_cast<std::size_t>(std::max(size, 1)));
  return j.window.data();
}

// The window holds size bytes of the file from offset on.
void kvo_give(int job, double offset, int size) {
  Job& j = JobOf(job);
  j.windowOffset = static_cast<std::uint64_t>(offset);
  j.windowSize = static_cast<std::size_t>(size);
  j.source.Give(j.windowOffset, std::span(j.window).first(j.windowSize));
}

// Runs the job as far as its bytes go: -1 when it wants the bytes that
// kvo_need_offset and kvo_need_size name; otherwise the file's outcome.
int kvo_step(int job) {
  Job& j = JobOf(job);
  const int outcome = Advance(j);
  if (outcome != kNeedBytes) j.phase = Job::Finished;  // a step after it gives the verdict
  return outcome;
}
double kvo_need_offset(int job) {
  return static_cast<double>(JobOf(job).needOffset);
}
int kvo_need_size(int job) {
  return static_cast<int>(JobOf(job).needSize);
}

// The converted bytes not yet taken, at their offset in the new file; taken
// with kvo_taken.
const std::uint8_t* kvo_output(int job) {
  return JobOf(job).output.data();
}
int kvo_output_size(int job) {
  return static_cast<int>(JobOf(job).output.size());
}
double kvo_output_offset(int job) {
  return static_cast<double>(JobOf(job).written);
}
void kvo_taken(int job) {
  Job& j = JobOf(job);
  j.written += j.output.size();
  if (j.undo) j.taken.swap(j.output);
  j.output.clear();
}

// Undo: room for the data file's bytes beside the piece taken last, for the
// page to fill; kvo_compare compares the size bytes it put there.
std::uint8_t* kvo_theirs(int job, int size) {
  Job& j = JobOf(job);
  j.theirs.resize(static_cast<std::size_t>(std::max(size, 1)));
  return j.theirs.data();
}
void kvo_compare(int job, int size) {
  Job& j = JobOf(job);
  if (j.difference) return;
  const auto theirs = std::span(j.theirs).first(static_cast<std::size_t>(size));
  const auto [mine, at] =
      std::mismatch(j.taken.begin(), j.taken.end(), theirs.begin(), theirs.end());
  if (mine == j.taken.end()) return;
  const auto offset = static_cast<std::size_t>(mine - j.taken.begin());
  j.difference = {j.written - j.taken.size() + offset, at == theirs.end() ? 'f' : '\0'};
}

void kvo_end(int job) {
  Jobs().erase(job);
}

}  // extern "C"

namespace kvo::web {

void Befell(FileResult& r, Failure kind, const std::string& reason) {
  const std::string backup = platform::NameOf(BackupPath(r.path));
  switch (kind) {
    case Failure::BackupTaken:
      return Fail(r, kind, BackupExistsDetail(backup));
    case Failure::ChangedWhileUndone:
      return Fail(r, kind, kChangedWhileUndoneDetail);
    case Failure::NoBackup:
      return Fail(r, kind, MissingDetail(backup));
    case Failure::NotBegun:
      return Settle(r, Outcome::NotReached, "");
    default:
      return Fail(r, kind, reason);
  }
}

Plan& PlanOf(int job) {
  return JobOf(job).plan;
}
FileResult& ResultOf(int job) {
  return JobOf(job).result();
}
std::vector<std::uint8_t>& PairOf(int job) {
  return JobOf(job).pair;
}

}  // namespace kvo::web
