#include "Summary.h"

#include <algorithm>
#include <string>
#include <utility>

#include "Messages.h"
#include "Names.h"
#include "Paths.h"

namespace kvo {

namespace {

bool Good(const FileResult& r) {
  return r.outcome == Outcome::Converted || r.outcome == Outcome::Convertible ||
         r.outcome == Outcome::Unconfirmed || r.outcome == Outcome::Undone;
}

// Not converted, and no failure either.
bool LeftAlone(const FileResult& r) {
  return r.outcome == Outcome::AlreadyConverted || r.outcome == Outcome::NotReached ||
         r.outcome == Outcome::SameFile || r.outcome == Outcome::Examined;
}

// Why a file ended as it did: the detail, or why it could not be opened;
// a failed conversion adds where the original is, which is under its name
// unless another program changed it meanwhile.
std::string Why(const FileResult& r) {
  // A held file's message says it already.
  const bool held = r.openProblem == platform::Problem::Locked;
  std::string why = !r.detail.empty()        ? r.detail
                    : r.openProblem && !held ? ProblemText(*r.openProblem)
                                             : "";
  if (r.operation == Operation::Convert && r.outcome == Outcome::Failed &&
      r.failure != Failure::Changed) {
    why = why.empty() ? kUnchangedFileText : Sentence(why) + " " + kUnchangedFileText;
  }
  return why;
}

}  // namespace

std::string Sentence(std::string text) {
  // A name (of a backup, say) stays as it is written.
  const std::size_t word = text.find(' ');
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z' &&
      text.substr(0, word).find('.') == std::string::npos) {
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
  }
  if (!text.empty() && !text.ends_with('.') && !text.ends_with('!') && !text.ends_with('?')) {
    text += '.';
  }
  return text;
}

std::string Explained(const FileResult& r) {
  std::string why = Why(r);
  if (why.empty()) return r.message;
  // The reason in brackets closes the sentence: no full stop before it, and
  // none at its end.
  std::string message = r.message;
  if (message.ends_with('.')) message.pop_back();
  if (why.ends_with('.')) why.pop_back();
  return message + " (" + why + ")";
}

std::string FileLine(const FileResult& r) {
  // In a folder that was named, a file converted before is said as such.
  const bool already = r.outcome == Outcome::AlreadyConverted && r.inFolder;
  return r.path + ": " + (already ? kAlreadyConvertedText : Explained(r));
}

std::string BoxText(const FileResult& r) {
  const std::string why = Why(r);
  return why.empty() ? r.message : r.message + "\n" + Sentence(why);
}

bool IsProblem(const FileResult& r) {
  if (r.outcome == Outcome::Unconfirmed) return true;
  // A file named for conversion was meant to be converted; in a folder,
  // one converted before is what the user expects.
  if (r.outcome == Outcome::AlreadyConverted) return !r.inFolder;
  if (r.outcome != Outcome::Examined || r.operation == Operation::Undo) {
    return !Good(r) && !LeftAlone(r);
  }
  switch (*r.standing) {
    case Standing::Damaged:
    case Standing::Interrupted:
      return true;
    case Standing::Changed:
      return r.operation == Operation::Verify;
    default:
      return false;
  }
}

namespace {

// What every operation counts alike, once for the command line's line and
// the windows' sentences: a file whose flush failed is done, and among those
// that may not be on the disk, never also a failure.
struct Tally {
  std::size_t done = 0, unconfirmed = 0, same = 0, notBegun = 0, failed = 0;
  explicit Tally(const std::vector<FileResult>& results) {
    for (const FileResult& r : results) {
      done += Good(r);
      unconfirmed += r.outcome == Outcome::Unconfirmed;
      same += r.outcome == Outcome::SameFile;
      notBegun += r.outcome == Outcome::NotReached;
      failed += r.outcome != Outcome::Unconfirmed && IsProblem(r);
    }
  }
};

}  // namespace

std::string CountsLine(const std::vector<FileResult>& results, Operation operation,
                       bool checkOnly) {
  // In the order a user reads a folder's story: to do, done, changed since,
  // then what needs a look.
  const bool verify = operation == Operation::Verify;
  const std::pair<Standing, const char*> standings[] = {
      {Standing::ToConvert, kCountToConvert},
      {Standing::Converted, verify ? kCountMatching : kCountUnchanged},
      {Standing::Changed, verify ? kCountNotMatching : kCountChanged},
      {Standing::NoBackup, kCountNoBackup},
      {Standing::BackupAlone, kCountWithoutFile},  // counts backups
      {Standing::Backup, ""},                      // counts backups
      {Standing::Interrupted, kCountInterrupted},
      {Standing::Busy, kCountBusy},
      {Standing::NotData, kCountNotData},
      {Standing::Damaged, kCountDamaged},
  };
  std::string line;
  const auto add = [&](std::size_t n, const std::string& what, bool always = false) {
    if (n == 0 && !always) return;
    line += (line.empty() ? "" : ", ") + std::to_string(n) + " " + what;
  };
  // (Files a cancel kept the run from are said, so that nobody takes the
  // counts for the whole.)
  const Tally tally(results);
  if (operation == Operation::Convert) {
    // Of the .old files found without their file: backups, notes, and those
    // a run holds (one that cannot be read is a failure).
    std::size_t already = 0, alone = 0, notes = 0, busy = 0;
    for (const FileResult& r : results) {
      const bool examined = r.outcome == Outcome::Examined;
      already += r.outcome == Outcome::AlreadyConverted && r.inFolder;
      alone += examined && r.standing == Standing::BackupAlone;
      notes += examined && r.standing == Standing::NotData;
      busy += examined && r.standing == Standing::Busy;
    }
    add(tally.done, checkOnly ? kCountConvertible : kCountConverted, true);
    add(tally.unconfirmed, kCountUnconfirmed);
    add(already, kCountAlreadyConverted);
    add(tally.same, kCountSameFile);
    add(alone, alone == 1 ? kCountBackupAlone : kCountBackupsAlone);
    add(notes, kCountNotData);
    add(busy, kCountBusy);
    add(tally.notBegun, kCountNotBegun);
    add(tally.failed, checkOnly ? kCountNotConvertible : kCountNotConverted, true);
    return line;
  }
  if (operation == Operation::Undo) {
    std::size_t original = 0, backups = 0, notes = 0;
    for (const FileResult& r : results) {
      const bool examined = r.outcome == Outcome::Examined;  // nothing to undo
      backups += examined && r.standing == Standing::Backup;
      notes += examined && r.standing == Standing::NotData;
      original += examined && r.standing != Standing::Backup && r.standing != Standing::NotData;
    }
    add(tally.done, kCountUndone, true);
    add(tally.unconfirmed, kCountUnconfirmed);
    add(original, kCountAlreadyOriginal);
    add(backups, backups == 1 ? kCountBackup : kCountBackups);
    add(tally.same, kCountSameFile);
    add(notes, kCountNotData);
    add(tally.notBegun, kCountNotBegun);
    add(tally.failed, kCountNotUndone, true);
    return line;
  }
  for (const auto& [standing, what] : standings) {
    std::size_t n = 0;
    for (const FileResult& r : results) {
      // A file that could not even be looked at is one that cannot be read.
      n += r.standing ? *r.standing == standing
                      : standing == Standing::Damaged && r.outcome == Outcome::Failed;
    }
    const bool backups = standing == Standing::BackupAlone || standing == Standing::Backup;
    add(n,
        backups ? std::string(n == 1 ? kCountBackup : kCountBackups) + (*what ? " " : "") + what
                : what,
        standing == Standing::Damaged);
  }
  add(tally.same, kCountSameFile);
  add(tally.notBegun, kCountNotBegun);
  return line;
}

std::string SummaryText(const std::vector<FileResult>& results) {
  const bool undo = !results.empty() && results.front().operation == Operation::Undo;
  const auto [done, unconfirmed, same, notBegun, failed] = Tally(results);
  std::size_t already = 0;  // in a folder, as the command line counts them
  for (const FileResult& r : results) {
    already += r.outcome == Outcome::AlreadyConverted && r.inFolder;
  }
  return SummarySentences({done, already, same, notBegun, unconfirmed, failed}, undo);
}

namespace {

// The folder all paths lie in, at any depth; empty where that is only the
// root or the current folder.
std::string SharedFolder(const std::vector<const FileResult*>& listed) {
  std::string folder = platform::FolderOf(listed.front()->path);
  const auto inside = [&](const std::string& path) {
    return path.size() > folder.size() && path.starts_with(folder) &&
           (platform::IsSeparator(folder.back()) || platform::IsSeparator(path[folder.size()]));
  };
  for (const FileResult* r : listed) {
    while (!folder.empty() && !inside(r->path)) {
      const std::string up = platform::FolderOf(folder);
      folder = up == folder ? "" : up;
    }
  }
  return folder == "." ? "" : folder;
}

}  // namespace

FailureListing FailureList(const std::vector<FileResult>& results) {
  std::vector<const FileResult*> listed;
  for (const FileResult& r : results) {
    if (IsProblem(r)) listed.push_back(&r);  // each that the counts call one
  }
  FailureListing listing{FailureHeading(""), ""};
  if (listed.empty()) return listing;
  const std::string folder = SharedFolder(listed);
  listing.heading = FailureHeading(folder);
  const std::size_t cut =
      folder.empty() ? 0 : folder.size() + (platform::IsSeparator(folder.back()) ? 0 : 1);
  std::vector<std::pair<std::string, std::string>> entries;  // key, entry
  for (const FileResult* r : listed) {
    const std::string name = r->path.substr(cut);
    entries.emplace_back(SortKey(name), "• " + name + ": " + Explained(*r) + "\n");
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [key, entry] : entries) listing.entries += entry;
  return listing;
}

}  // namespace kvo
