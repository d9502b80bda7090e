// The data file core for the browser: a small C interface over the same
// conversion, texts and summary as the desktop tool. The page does the
// reading and writing of files; this decides what happens to each and says
// it in the desktop tool's words.
#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "Container.h"
#include "Errors.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"
#include "Summary.h"

namespace {

using namespace kvo;

// Where the browser cannot write to the user's folder, the converted file is
// offered for saving and the user's own file stays as it is.
constexpr const char* kReadyText =
    "Umgesetzt und zum Speichern bereit; Ihre Datei bleibt, wie sie ist";

struct Run {
  Operation operation = Operation::Convert;
  bool download = false;
  std::vector<FileResult> results;
  std::vector<std::uint8_t> output;  // the last conversion
  std::string text;                  // the last text asked for
};

Run& TheRun() {
  static Run run;
  return run;
}

FileResult& Add(const char* path, int inFolder) {
  Run& run = TheRun();
  FileResult& r = run.results.emplace_back();
  r.path = path;
  r.inFolder = inFolder != 0;
  r.operation = run.operation;
  return r;
}

void Settle(FileResult& r, Outcome outcome, std::string message, std::string detail = {}) {
  r.outcome = outcome;
  r.message = std::move(message);
  r.detail = std::move(detail);
}

// Converts a version 1.0 file held in memory; extra is what follows its last
// block and is not carried over.
std::vector<std::uint8_t> Converted(std::span<const std::uint8_t> v10, std::uint64_t& extra,
                                    Counts& counts) {
  MemorySource in(v10.subspan(kHeader0.size()));
  TableSets& tables = ProcessTables();
  ClearTables(tables);
  // Sized first, so that the new file is one buffer of its own length.
  counts = SurveyDataFile0(in, tables);
  std::vector<std::uint8_t> out;
  out.reserve(ConvertedSize(counts));
  VectorSink sink(out);
  MemorySource again(v10.subspan(kHeader0.size()));
  ConvertDataFile0(again, &sink, tables);
  extra = again.Remaining();
  ClearTables(tables);
  return out;
}

const char* Text(std::string text) {
  TheRun().text = std::move(text);
  return TheRun().text.c_str();
}

}  // namespace

extern "C" {

void kvo_fail(int what, const char* reason);

// A new run: 0 converts in place, 1 converts for saving, 3 undoes.
void kvo_begin(int operation) {
  TheRun() = {};
  TheRun().operation = operation == 3 ? Operation::Undo : Operation::Convert;
  TheRun().download = operation == 1;
}

// Checks and converts the bytes of one file; backupTaken: another file
// holds its backup's name (one that holds these very bytes is the backup of
// a run that was cut short, and does not count). Returns the outcome; a
// converted file's bytes are at kvo_output() until the next call.
int kvo_convert(const char* path, int inFolder, const std::uint8_t* bytes, std::size_t size,
                int backupTaken) {
  FileResult& r = Add(path, inFolder);
  const std::span<const std::uint8_t> v10(bytes, size);
  TheRun().output.clear();
  if (!CheckHeader0(v10)) {
    const bool converted =
        size >= kHeader.size() && std::equal(kHeader.begin(), kHeader.end(), bytes);
    Settle(r, converted ? Outcome::AlreadyConverted : Outcome::WrongVersion, kWrongVersionText,
           converted ? kAlreadyConvertedDetail : "");
    return static_cast<int>(r.outcome);
  }
  if (backupTaken != 0) {
    kvo_fail(0, "");
    return static_cast<int>(r.outcome);
  }
  try {
    std::uint64_t extra = 0;
    Counts counts;
    TheRun().output = Converted(v10, extra, counts);
    const bool download = TheRun().download;
    // Bytes behind the last block stay in the original, wherever it is.
    const std::string backup =
        download ? platform::NameOf(path) : platform::NameOf(BackupPath(path));
    Settle(r, download ? Outcome::Convertible : Outcome::Converted,
           download ? kReadyText : kSuccessText,
           extra > 0 ? ExtraBytesDetail(extra, backup, false) : "");
  } catch (const KvoError& e) {
    Settle(r, Outcome::Failed, ErrorBoxText(e.what()), e.detail());
  } catch (const std::bad_alloc&) {
    Settle(r, Outcome::Failed, ErrorBoxText(kOutOfMemoryText));
  }
  return static_cast<int>(r.outcome);
}

const std::uint8_t* kvo_output() {
  return TheRun().output.data();
}
std::size_t kvo_output_size() {
  return TheRun().output.size();
}

// What befell the last file on the disk, after it was converted:
// 0 its backup name is taken, 1 the backup could not be written, 2 the new
// file could not be written, 3 another program changed it meanwhile, 4 it
// could not be read, 5 the run stopped before it. reason: the browser's words.
void kvo_fail(int what, const char* reason) {
  FileResult& r = TheRun().results.back();
  const std::string backup = platform::NameOf(BackupPath(r.path));
  switch (what) {
    case 0:
      return Settle(r, Outcome::Failed, ErrorBoxText(kBackupFailedText),
                    BackupExistsDetail(backup));
    case 1:
      return Settle(r, Outcome::Failed, ErrorBoxText(kBackupFailedText), reason);
    case 2:
      return Settle(r, Outcome::Failed, ErrorBoxText(kOutputFailedText), reason);
    case 3:
      return Settle(r, Outcome::Failed, ErrorBoxText(kChangedText));
    case 4:
      return Settle(r, Outcome::Failed, ErrorBoxText(kReadFailedText), reason);
    default:
      return Settle(r, Outcome::NotReached, "");
  }
}

// A file the run did not reach: it was cancelled first.
void kvo_not_reached(const char* path, int inFolder) {
  Settle(Add(path, inFolder), Outcome::NotReached, "");
}

// Undo of one file of the run: only while it is still exactly the
// conversion of its backup. Returns 1 when the backup may go back.
int kvo_undo(const char* path, const std::uint8_t* file, std::size_t fileSize,
             const std::uint8_t* backup, std::size_t backupSize) {
  FileResult& r = Add(path, 0);
  const std::string name = platform::NameOf(BackupPath(path));
  const std::span<const std::uint8_t> old(backup, backupSize), now(file, fileSize);
  if (!CheckHeader0(old)) {
    Settle(r, Outcome::Failed, ErrorBoxText(kNotUndoneText), name + " hat nicht Version 1.0");
    return 0;
  }
  try {
    std::uint64_t extra = 0;
    Counts counts;
    const std::vector<std::uint8_t> expected = Converted(old, extra, counts);
    const auto [mine, theirs] =
        std::mismatch(expected.begin(), expected.end(), now.begin(), now.end());
    if (mine == expected.end() && theirs == now.end()) {
      Settle(r, Outcome::Undone, kUndoneText);
      return 1;
    }
    const auto offset = static_cast<std::uint64_t>(mine - expected.begin());
    const Place place = PlaceOf(offset, counts);
    const char ended = theirs == now.end() ? 'f' : mine == expected.end() ? 'c' : 0;
    Settle(r, Outcome::Failed, ErrorBoxText(kNotUndoneText),
           kChangedSinceDetail + DifferenceDetail(offset, place.block, place.record, ended, name));
  } catch (const KvoError& e) {
    Settle(r, Outcome::Failed, ErrorBoxText(kNotUndoneText), e.what());
  }
  return 0;
}

// Undo of a file that could not be read or written; reason: the browser's
// words.
void kvo_undo_failed(const char* path, const char* reason) {
  Settle(Add(path, 0), Outcome::Failed, ErrorBoxText(kNotUndoneText), reason);
}

// The last file's line, as the command line prints it; problem tells
// whether it is one.
const char* kvo_line() {
  return Text(FileLine(TheRun().results.back()));
}
int kvo_problem() {
  return IsProblem(TheRun().results.back()) ? 1 : 0;
}

// The run's summary line, as the command line prints it after several files.
const char* kvo_summary() {
  return Text("Zusammenfassung: " + CountsLine(TheRun().results, TheRun().operation));
}

}  // extern "C"
