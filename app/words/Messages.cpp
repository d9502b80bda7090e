#include "Messages.h"

#include <cctype>
#include <utility>

#include "Names.h"
#include "Paths.h"

namespace kvo {

const char* ProblemText(platform::Problem problem) {
  switch (problem) {
    case platform::Problem::Missing:
      return "Datei nicht gefunden";
    case platform::Problem::NoAccess:
      return "kein Zugriff auf die Datei";
    case platform::Problem::Locked:
      return "von einem anderen Programm gesperrt";
    case platform::Problem::NotRegular:
      return "keine gewöhnliche Datei";
    case platform::Problem::Folder:
      return "ein Ordner, dessen Inhalt sich nicht lesen lässt";
    case platform::Problem::TooLong:
      return "Name oder Pfad zu lang";
    case platform::Problem::TooManyOpen:
      return kTooManyOpenDetail;
    case platform::Problem::NoLock:
      return kNoLockDetail;
    case platform::Problem::Full:
      return kDiskFullDetail;
    case platform::Problem::Other:
      break;
  }
  return "Datei lässt sich nicht öffnen";
}

std::string ExtraBytesDetail(std::uint64_t bytes, const std::string& backup, bool checkOnly) {
  const std::string count = std::to_string(bytes) + (bytes == 1 ? " Byte" : " Bytes");
  return checkOnly ? count + " hinter dem letzten Block würden nicht übernommen; sie blieben in " +
                         backup + " erhalten."
                   : count + " hinter dem letzten Block wurden nicht übernommen; sie stehen " +
                         "weiterhin in " + backup + ".";
}

std::string NoRoomDetail(std::uint64_t needed, std::uint64_t free) {
  return "zu wenig Platz auf der Platte: " + std::to_string(needed) + " Bytes nötig, " +
         std::to_string(free) + " frei";
}

std::string DifferenceDetail(std::uint64_t offset, int block, std::uint64_t record, char ended,
                             const std::string& backup) {
  const std::string byte = "Byte " + std::to_string(offset + 1);
  if (ended == 'f')
    return "die Datei endet vor " + byte + ", die Umsetzung von " + backup + " nicht";
  if (ended == 'c') return "die Datei ist länger als die Umsetzung von " + backup + ", ab " + byte;
  // The header is the same in both, or the file would not be compared.
  const std::string where =
      "in Block " + std::to_string(block) +
      (record == 0 ? ", Anzahl der Sätze" : ", Satz " + std::to_string(record));
  return "anders als die Umsetzung von " + backup + " ab " + byte + ", " + where;
}

std::string ProgressLine(std::size_t done, std::size_t total, const std::string& name) {
  return "Datei " + std::to_string(done + 1) + " von " + std::to_string(total) +
         (name.empty() ? "" : ": " + name);
}

const char* FailureText(Failure kind) {
  switch (kind) {
    case Failure::BackupTaken:
    case Failure::Backup:
      return kBackupFailedText;
    case Failure::Output:
      return kOutputFailedText;
    case Failure::Changed:
      return kChangedText;
    case Failure::Read:
      return kReadFailedText;
    case Failure::Interrupted:
      return kInterruptedText;
    case Failure::NotUndone:
    case Failure::ChangedWhileUndone:
    case Failure::NoBackup:
      return kNotUndoneText;
    case Failure::None:
    case Failure::NotBegun:
    case Failure::Content:
      break;
  }
  return "";
}

KvoError Failed(Failure kind, std::string detail) {
  return KvoError(FailureText(kind), std::move(detail), kind);
}

void Settle(FileResult& r, Outcome outcome, std::string message, std::string detail) {
  r.outcome = outcome;
  r.message = std::move(message);
  r.detail = std::move(detail);
  r.openProblem.reset();
  r.failure = Failure::None;
}

void Fail(FileResult& r, Failure kind, std::string detail) {
  Fail(r, Failed(kind, std::move(detail)));
}

void Fail(FileResult& r, const KvoError& e) {
  const bool interrupted = e.kind() == Failure::Interrupted;
  Settle(r, interrupted ? Outcome::Interrupted : Outcome::Failed,
         interrupted ? e.what() : ErrorBoxText(e.what()), e.detail());
  r.failure = e.kind();
}

const char* StandingText(Standing standing, Operation operation) {
  const bool verify = operation == Operation::Verify;
  switch (standing) {
    case Standing::ToConvert:
      return kToConvertText;
    case Standing::Converted:
      return verify ? kVerifiedText : kUnchangedText;
    case Standing::Changed:
      return verify ? kNotVerifiedText : kChangedSinceText;
    case Standing::NoBackup:
      return kNoBackupText;
    case Standing::BackupAlone:
      return kBackupAloneText;
    case Standing::Backup:
      return kIsBackupText;
    case Standing::Interrupted:
      return kInterruptedRunText;
    case Standing::NotData:
      return kNotDataText;
    case Standing::Busy:
      return kBusyText;
    case Standing::Damaged:
      break;
  }
  return kDamagedText;
}

std::string SameFileText(const std::string& name) {
  return std::string(kSameFileText) + " " + name;
}

std::string SameFileDetail(const char* version) {
  return std::string("dieser Name hat weiterhin Version ") + version;
}

std::string BackupAloneDetail(const std::string& path, const std::string& backup) {
  const std::string name = platform::NameOf(path);
  return name + " fehlt; " + backup + " hält das Original: „kvo-umsetzer-cli --undo " + name +
         "“ stellt es unter seinem Namen wieder her, oder benennen Sie " + backup + " in " + name +
         " um";
}

std::string SameBytesDetail(const std::string& backup) {
  return backup + " hält dieselben Bytes; der nächste Lauf nimmt sie als Sicherung";
}

std::string TwinDroppedDetail(const std::string& backup) {
  return backup + " hielt dieselben Bytes und ist entfernt";
}

std::string SharedBackupDetail(const std::string& backup, const std::string& other,
                               const std::string& name, bool again) {
  return backup + " ist auch die Sicherung von " + other + ", der dieser Lauf sie zurückgibt; " +
         (again ? "ein weiterer Lauf mit --undo stellt " + name + " wieder her"
                : name + " bleibt auf Version 1.1, seine alten Bytes stehen nun in " + other);
}

std::string MissingDetail(const std::string& backup) {
  return backup + " fehlt";
}

std::string NotOriginalDetail(const std::string& backup) {
  return backup + " hat nicht Version 1.0";
}

std::string SameAsFileDetail(const std::string& backup) {
  return backup + " ist dieselbe Datei";
}

std::string BackupOfDetail(const std::string& owner) {
  return "die Sicherung von " + owner;
}

std::string StartQuestionText(std::size_t files, std::size_t folders, const std::string& only,
                              const std::string& folder) {
  if (!only.empty()) {
    return folders == 1 ? "Alle Dateien mit der Endung .dat im Ordner „" + platform::NameOf(only) +
                              "“ umsetzen?\n" + only
                        : "„" + platform::NameOf(only) + "“ umsetzen?\nIm Ordner " + folder;
  }
  // Said as what was given: files, folders, or both.
  const std::string what =
      folders == 0 ? std::to_string(files) + " Dateien umsetzen?"
      : files == 0
          ? "Alle Dateien mit der Endung .dat in " + std::to_string(folders) + " Ordnern umsetzen?"
          : std::to_string(files) + (files == 1 ? " Datei und " : " Dateien und ") +
                std::to_string(folders) + " Ordner umsetzen?";
  return what + "\n" + (folder.empty() ? "Aus mehreren Ordnern" : "Im Ordner " + folder);
}

std::string SummarySentences(const SummaryCounts& n, bool undo) {
  const auto files = [](std::size_t k) {
    return std::to_string(k) + (k == 1 ? " Datei" : " Dateien");
  };
  const auto was = [](std::size_t k) { return k == 1 ? " war" : " waren"; };
  std::string text = files(n.done) + (undo ? " rückgängig gemacht" : " umgesetzt");
  if (n.done > 0) {
    text += undo ? (n.done == 1 ? ", sie hat wieder Version 1.0" : ", sie haben wieder Version 1.0")
                 : (n.done == 1 ? ", die alte hat nun die Endung .old"
                                : ", die alten haben nun die Endung .old");
  }
  text += ".";
  if (n.already > 0) text += "\n" + files(n.already) + was(n.already) + " schon auf Version 1.1.";
  if (n.same > 0) {
    text += "\n" + files(n.same) + was(n.same) + " nur ein weiterer Name einer " +
            (undo ? "dieser Dateien." : "schon umgesetzten Datei.");
  }
  if (n.notBegun > 0) {
    text += "\n" + files(n.notBegun) + " nicht begonnen, weil abgebrochen wurde.";
  }
  if (n.unconfirmed > 0) {
    text += "\n" + files(n.unconfirmed) + " davon " + (n.unconfirmed == 1 ? "ist" : "sind") +
            " vielleicht nicht sicher auf der Platte:";
  }
  if (n.failed > 0) {
    text += "\n" + files(n.failed) + (undo ? " nicht rückgängig gemacht:" : " nicht umgesetzt:");
  }
  return text;
}

std::string FailureHeading(const std::string& folder) {
  return folder.empty() ? "Meldungen zu einzelnen Dateien:"
                        : "Meldungen zu einzelnen Dateien im Ordner " + folder + ":";
}

std::string Printable(const std::string& text) {
  std::string out;
  const auto escape = [&](unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  };
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    bool broken = false;
    const char32_t c = NextCharacter(text, at, &broken);
    // C0, DEL, C1 (U+0080 to U+009F, which a terminal acts on as it does on
    // C0) and bytes that are no UTF-8, which a terminal may read as C1.
    if (broken || c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      for (std::size_t i = start; i < at; ++i) escape(static_cast<unsigned char>(text[i]));
    } else if (c == '\\' && !platform::IsSeparator('\\')) {
      out += "\\\\";
    } else {
      out.append(text, start, at - start);
    }
  }
  return out;
}

std::string UnknownOptionText(const std::string& option) {
  return "unbekannte Option " + Printable(option);
}

std::string AlsoAFileText(const std::string& name) {
  return "„" + Printable(name) +
         "“ ist auch der Name einer Datei in diesem Ordner; als Datei schreiben Sie ./" +
         Printable(name);
}

std::string BackupExistsDetail(const std::string& backup) {
  return backup + " gibt es schon";
}

std::string BackupTakenDetail(const std::string& backup, const std::string& other) {
  return backup + " wird schon die Sicherung von " + other;
}

std::string ErrorBoxText(std::string_view text) {
  std::string out(text);
  if (out.empty() || static_cast<unsigned char>(out.back()) > '.') out += '.';
  return out;
}

namespace {

// The lower-case letter of an upper-case one of the Latin alphabets of
// Europe (ASCII, Latin-1 and Latin Extended-A); any other character as it is.
char32_t Lower(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x178) return 0xFF;  // Ÿ
  const bool evenUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
  const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) return c + 1;
  return c;
}

void Encode(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string ApplicationTitle(std::string_view executableFileName) {
  const std::string_view name = executableFileName.substr(0, executableFileName.find('.'));
  std::string title;
  for (std::size_t pos = 0; pos < name.size();) {
    const std::size_t start = pos;
    bool broken = false;  // not UTF-8: kept as it is
    const char32_t c = NextCharacter(name, pos, &broken);
    if (start == 0 || broken) {
      title.append(name.substr(start, pos - start));
    } else {
      Encode(Lower(c), title);
    }
  }
  return title;
}

}  // namespace kvo
