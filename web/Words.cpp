// The browser's core, in words: the numbers the page names things by, the
// browser's refusals, each file's line and the run's summary as the command
// line says them, and the desktop tool's rules for names.
#include <algorithm>
#include <cerrno>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Core.h"
#include "Errors.h"
#include "Files.h"
#include "Messages.h"
#include "Names.h"
#include "Paths.h"
#include "Summary.h"

using namespace kvo;
using namespace kvo::web;

// Why the browser refused, by the name of its error, in the desktop tool's
// words: never the browser's English.
std::string kvo::web::BrowserReason(std::string_view error) {
  using platform::Problem;
  if (error == "QuotaExceededError") return platform::Reason(platform::FileError("", {}, ENOSPC));
  if (error == "NotAllowedError" || error == "SecurityError") {
    return platform::ProblemReason(Problem::NoAccess);
  }
  if (error == "NotFoundError") return platform::ProblemReason(Problem::Missing);
  if (error == "NoModificationAllowedError") return platform::ProblemReason(Problem::Locked);
  if (error == "TypeMismatchError") return platform::ProblemReason(Problem::Folder);
  if (error == "NotReadableError") return kUnreadableAgainReason;
  return kBrowserFailedReason;
}

extern "C" {

// The numbers of the actions and the flags of the answers, by name, for the
// page: made from the core's own lists; and the page's own texts.
const char* kvo_numbers() {
  const auto named = [](std::span<const char* const> names, bool flags) {
    std::string json;
    for (std::size_t i = 0; i < names.size(); ++i) {
      json +=
          (i ? ",\"" : "\"") + std::string(names[i]) + "\":" + std::to_string(flags ? 1 << i : i);
    }
    return "{" + json + "}";
  };
  std::string texts;
  for (const auto& [name, text] : {std::pair{"LookMark", kLookMarkText},
                                   {"SaveOne", kSaveOneText},
                                   {"SaveAll", kSaveAllText},
                                   {"NotInFolder", kNotInFolderText},
                                   {"NoWrite", kNoWriteText},
                                   {"Wait", kWaitText}}) {
    texts += std::string(texts.empty() ? "\"" : ",\"") + name + "\":\"" + text + "\"";
  }
  return Text("{\"Action\":" + named(kActionNames, false) +
              ",\"Answer\":" + named(kAnswerNames, true) + ",\"Mode\":" + named(kModeNames, false) +
              ",\"Text\":{" + texts + "}}");
}

// The line of the file at index, as the command line prints it; problem
// tells whether it needs a look; 0 lines for a file not begun.
const char* kvo_line(int index) {
  const FileResult& r = ResultAt(index);
  return Text(r.outcome == Outcome::NotReached ? "" : Printable(FileLine(r)));
}
int kvo_problem(int index) {
  return IsProblem(ResultAt(index)) ? 1 : 0;
}

// The run's summary line, as the command line prints it after several files.
const char* kvo_summary() {
  return Text("Zusammenfassung: " + CountsLine(TheRun().results, TheRun().operation));
}
// What the page says once the run is through: that no file was found; a
// file named alone, what its own box would say first; otherwise the summary.
const char* kvo_closing() {
  const std::vector<FileResult>& results = TheRun().results;
  if (results.empty()) return Text(kNothingFoundText);
  if (results.size() == 1 && !results.front().inFolder) return Text(results.front().message);
  return kvo_summary();
}

// Names: how a German reader orders them; the temporary names of a data
// file's new file and of its backup while they are written; what a cut run
// left in a folder.
const char* kvo_sort_key(const char* name) {
  // Zero bytes end a C string: in the key they stand as 0x01 0x01, and 0x01
  // as 0x01 0x02, which keeps the order.
  std::string key;
  for (const char c : SortKey(name)) {
    if (c == '\0' || c == '\1') {
      key += '\1';
      key += c == '\0' ? '\1' : '\2';
    } else {
      key += c;
    }
  }
  return Text(key);
}
const char* kvo_temporary_name(const char* name) {
  return Text(platform::NameOf(TemporaryPath(std::string("x/") + name, 0)));
}
const char* kvo_backup_copy_name(const char* name) {
  return Text(platform::NameOf(BesidePath(std::string("x/") + name, 0, kBackupEnding)));
}
// What a run that was cut short left among a folder's files (their names,
// each ended by '/'), to be removed: the browser's own unfinished copies
// (NAME.crswap) of a file whole under its name, and the tool's temporary
// files of its data files (the desktop's too, its first release's among
// them). The same list, of those to go.
const char* kvo_leftovers(const char* listing) {
  std::vector<std::string> names;
  for (std::string_view rest = listing; !rest.empty();) {
    const std::size_t end = rest.find('/');
    names.emplace_back(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  const auto listed = [&](std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  std::string gone;
  for (const std::string& name : names) {
    const std::string_view meant = std::string_view(name).substr(0, name.size() - 7);
    const bool swap =
        name.ends_with(".crswap") && listed(meant) &&
        (IsDataFile(meant) || IsBackupName(meant) || EndsWith(meant, kTemporaryEnding));
    const bool ours = std::any_of(names.begin(), names.end(), [&](const std::string& d) {
      return IsDataFile(d) && IsTemporaryOf(name, d);
    });
    if (swap || ours) gone += name + '/';
  }
  return Text(gone);
}
// Whether the file at index was converted in place: undo is offered for it.
int kvo_converted(int index) {
  return ResultAt(index).outcome == Outcome::Converted ? 1 : 0;
}
const char* kvo_progress_line(int done, int total, const char* name) {
  return Text(ProgressLine(static_cast<std::size_t>(done), static_cast<std::size_t>(total), name));
}
int kvo_is_data(const char* name) {
  return IsDataFile(name) ? 1 : 0;
}
const char* kvo_backup_name(const char* name) {
  return Text(BackupPath(name));
}

}  // extern "C"
