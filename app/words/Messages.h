// The tool's own texts, and the rules that shape what the user reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Files.h"
#include "UserInterface.h"

namespace kvo {

inline constexpr const char* kSuccessText =
    "Datei erfolgreich umgesetzt, die alte Datei hat nun die Endung .old";
inline constexpr const char* kConvertibleText =
    "Datei kann umgesetzt werden, die alte Datei bekäme die Endung .old";
inline constexpr const char* kBackupFailedText = "Kann Backup Datei nicht erzeugen";
inline constexpr const char* kOutputFailedText = "Kann neue Datei nicht erzeugen";
inline constexpr const char* kChangedText = "Die Datei wurde während des Umsetzens verändert";
// The new file is in place and the original is the backup, but the system
// would not confirm that the folder's new names are on the disk.
inline constexpr const char* kFolderNotSyncedText =
    "Datei umgesetzt, die alte Datei hat nun die Endung .old, doch der Ordner konnte nicht "
    "sicher gespeichert werden";
// Behind every failed conversion: where the original is.
inline constexpr const char* kUnchangedFileText = "Die Datei ist unverändert.";
inline constexpr const char* kInterruptedText = "Abgebrochen, die Datei ist unverändert.";
inline constexpr const char* kNothingFoundText = "Keine Datei mit der Endung .dat gefunden";
inline constexpr const char* kAlreadyConvertedText = "Schon auf Version 1.1, nichts zu tun";
// The system reported an error while the file was read: not the file's fault.
inline constexpr const char* kReadFailedText = "Die Datei lässt sich nicht lesen";
// A second name of a file this run has dealt with already.
inline constexpr const char* kSameFileText = "Dieselbe Datei wie";
// Where a file stands (status), and what verify and undo say.
inline constexpr const char* kToConvertText = "Version 1.0, noch umzusetzen";
inline constexpr const char* kUnchangedText = "Version 1.1, umgesetzt und seitdem unverändert";
inline constexpr const char* kChangedSinceText = "Version 1.1, seit dem Umsetzen verändert";
inline constexpr const char* kNoBackupText = "Version 1.1, ohne Sicherung";
inline constexpr const char* kBackupAloneText = "Sicherung ohne ihre Datei";
inline constexpr const char* kIsBackupText = "Eine Sicherung (Endung .old)";
inline constexpr const char* kInterruptedRunText =
    "Ein Lauf wurde unterbrochen, der nächste setzt die Datei fertig um";
inline constexpr const char* kDamagedText = "Beschädigt oder nicht lesbar";
inline constexpr const char* kNotDataText = "Keine Datendatei";
inline constexpr const char* kBusyText = "Wird gerade bearbeitet";
// A file another program (or another run) holds open, so it cannot be opened.
inline constexpr const char* kHeldText = "Die Datei wird gerade von einem anderen Programm benutzt";
inline constexpr const char* kVerifiedText = "stimmt";
inline constexpr const char* kNotVerifiedText = "stimmt nicht";
inline constexpr const char* kUndoneText = "Rückgängig gemacht, die Datei hat wieder Version 1.0";
inline constexpr const char* kNotUndoneText = "Nicht rückgängig gemacht";
inline constexpr const char* kNothingToUndoText =
    "Schon auf Version 1.0, nichts rückgängig zu machen";
inline constexpr const char* kUndoButtonText = "Rückgängig machen";
inline constexpr const char* kConvertButtonText = "Daten umsetzen";
// The windows' button that stops a run, or declines to start one.
inline constexpr const char* kCancelButtonText = "Abbrechen";
// The window's two lines under its button.
inline constexpr const char* kFromVersionText = "Von Version 1.0 vom 30.12.2007";
inline constexpr const char* kToVersionText = "Auf Version 1.1 vom 20.10.2009 und später";
inline constexpr const char* kUndoNotSyncedText =
    "Rückgängig gemacht, doch der Ordner konnte nicht sicher gespeichert werden";
inline constexpr const char* kChangedSinceDetail = "seit dem Umsetzen verändert: ";
inline constexpr const char* kChangedWhileUndoneDetail =
    "die Datei oder ihre Sicherung wurde während des Rückgängigmachens verändert";
// Why a file was left alone, behind the message.
inline constexpr const char* kOwnBackupDetail =
    "das ist selbst eine Sicherung mit der Endung .old; sie bleibt, wie sie ist";
inline constexpr const char* kAlreadyConvertedDetail = "die Datei hat schon Version 1.1";
inline constexpr const char* kFolderNotWritableDetail =
    "in diesem Ordner darf keine Datei angelegt werden";
inline constexpr const char* kBusyDetail =
    "die Datei wird gerade von einem anderen Kvo-Umsetzer umgesetzt";
inline constexpr const char* kLeftoverDetail =
    "daneben liegt eine temporäre Datei eines abgebrochenen Laufs; der nächste Lauf räumt sie weg";
// A file changed while its new file took its name, and the swap could not be
// undone: where the changed file is now.
inline constexpr const char* kReplacementDetail = "die veränderte Datei steht nun unter ";
// A file whose header is like a data file's but of no version this tool knows.
inline constexpr const char* kOtherVersionDetail = "weder Version 1.0 noch 1.1";
// Where the browser may not write to the user's folder: the converted file is
// offered for saving instead.
inline constexpr const char* kReadyText =
    "Umgesetzt und zum Speichern bereit; Ihre Datei bleibt, wie sie ist";
// The browser's refusals that have no reason of the system's.
inline constexpr const char* kUnreadableAgainReason = "Die Datei ließ sich nicht mehr lesen.";
inline constexpr const char* kBrowserFailedReason =
    "Der Browser meldet einen Fehler beim Lesen oder Schreiben.";
// The page's own: the mark before a line that needs a look; the save
// buttons (one file's after its name in quotes); a file chosen outside the
// folder chosen for it, and a dropped folder the browser may not write to,
// each after the name in quotes; a run that waits for another window's.
inline constexpr const char* kLookMarkText = "Bitte ansehen";
inline constexpr const char* kSaveOneText = "speichern";
inline constexpr const char* kSaveAllText = "Alle als ZIP-Datei speichern";
inline constexpr const char* kNotInFolderText = "liegt nicht im gewählten Ordner";
inline constexpr const char* kNoWriteText =
    "darf die Seite nicht schreiben, es bleibt alles, wie es ist";
inline constexpr const char* kWaitText =
    "Ein anderes Fenster dieser Seite setzt gerade um; es geht weiter, sobald es fertig ist";
// A run a signal stopped, and a command line whose output could not be written.
inline constexpr const char* kStoppedText = "Abgebrochen.";
inline constexpr const char* kNoOutputText = "die Ausgabe ließ sich nicht schreiben";

// The command line's and the window's answers to a wrong call, and where
// more is said.
inline constexpr const char* kNoFileNamedText = "keine Datei angegeben";
inline constexpr const char* kOneOperationText = "nur eine von --status, --verify, --undo";
inline constexpr const char* kCheckConvertsOnlyText = "--check gilt nur für das Umsetzen";
inline constexpr const char* kMoreHelpText = "Mehr mit: kvo-umsetzer-cli --help";
// A name or line as one line of text, on the command line and in the
// browser: control characters (a newline in a file name would start a line
// of its own, perhaps a forged one; C1 ones a terminal acts on too), bytes
// that are no UTF-8 and the backslash that marks them are written as
// escapes.
std::string Printable(const std::string& text);
// "unbekannte Option X", the option as printable text: no byte of it reaches
// the terminal raw.
std::string UnknownOptionText(const std::string& option);
// An argument that spells an option and names a file in the folder too.
std::string AlsoAFileText(const std::string& name);

// The counts of the summary line (the command line's and the page's), each
// after its number. Converting:
inline constexpr const char* kCountConverted = "umgesetzt";
inline constexpr const char* kCountConvertible = "umsetzbar";
inline constexpr const char* kCountUnconfirmed = "davon vielleicht nicht sicher auf der Platte";
inline constexpr const char* kCountAlreadyConverted = "schon auf Version 1.1";
inline constexpr const char* kCountSameFile = "doppelt genannt";
inline constexpr const char* kCountBackupAlone = "Sicherung ohne Datei";
inline constexpr const char* kCountBackupsAlone = "Sicherungen ohne Datei";
inline constexpr const char* kCountNotBegun = "nicht begonnen";
inline constexpr const char* kCountNotConverted = "nicht umgesetzt";
inline constexpr const char* kCountNotConvertible = "nicht umsetzbar";
// Undoing:
inline constexpr const char* kCountUndone = "rückgängig gemacht";
inline constexpr const char* kCountAlreadyOriginal = "schon auf Version 1.0";
inline constexpr const char* kCountBackup = "Sicherung";
inline constexpr const char* kCountBackups = "Sicherungen";
inline constexpr const char* kCountNotData = "nicht im Datenformat";
inline constexpr const char* kCountNotUndone = "nicht rückgängig gemacht";
// Status and verify:
inline constexpr const char* kCountToConvert = "noch umzusetzen";
inline constexpr const char* kCountUnchanged = "umgesetzt und unverändert";
inline constexpr const char* kCountMatching = "stimmen";
inline constexpr const char* kCountChanged = "seit dem Umsetzen verändert";
inline constexpr const char* kCountNotMatching = "stimmen nicht";
inline constexpr const char* kCountNoBackup = "ohne Sicherung";
inline constexpr const char* kCountWithoutFile = "ohne Datei";
inline constexpr const char* kCountInterrupted = "unterbrochen";
inline constexpr const char* kCountBusy = "in Bearbeitung";
inline constexpr const char* kCountDamaged = "beschädigt oder nicht lesbar";
// The process may hold no more files open: the system's limit, not the file.
inline constexpr const char* kTooManyOpenDetail =
    "das System lässt den Kvo-Umsetzer nicht mehr Dateien zugleich öffnen";
// A disk that gives no locks: the file cannot be held against another run
// (a network share without its lock service). The system's own words.
inline constexpr const char* kNoLockDetail =
    "die Datei lässt sich nicht sperren: Keine Sperren verfügbar";
// A disk, or the user's share of it, that is full.
inline constexpr const char* kDiskFullDetail = "der Datenträger ist voll";
// A look that read a file without the moment's lock, as the disk gives none:
// a run may have changed it meanwhile.
inline constexpr const char* kUnlockedDetail = "ohne Sperre gelesen, der Datenträger gibt keine";
// A second name of a file that was dealt with under another: it still holds
// what it held.
std::string SameFileDetail(const char* version);
// "Dieselbe Datei wie NAME": a second name of a file dealt with before.
std::string SameFileText(const std::string& name);
// A backup whose data file is missing, and the way back.
std::string BackupAloneDetail(const std::string& path, const std::string& backup);
// A version 1.0 file beside a backup that holds its very bytes.
std::string SameBytesDetail(const std::string& backup);
// Undo removed a backup that was the original's twin.
std::string TwinDroppedDetail(const std::string& backup);
// Undo met a backup that it is giving back to another file: under a name
// of its own (again), a further undo restores this file too; otherwise the
// file stays converted, and its old bytes are the other's.
std::string SharedBackupDetail(const std::string& backup, const std::string& other,
                               const std::string& name, bool again);

// The second line of a conversion that left bytes behind the last block out.
std::string ExtraBytesDetail(std::uint64_t bytes, const std::string& backup, bool checkOnly);
// Too little room on the disk for the new file.
std::string NoRoomDetail(std::uint64_t needed, std::uint64_t free);
// Where a version 1.1 file first differs from the conversion of its backup:
// offset is its first differing byte, place where that lies; ended tells
// which of the two ended there, if one did ('f' the file, 'c' the
// conversion).
std::string DifferenceDetail(std::uint64_t offset, int block, std::uint64_t record, char ended,
                             const std::string& backup);
// A converted file's backup that is not there.
std::string MissingDetail(const std::string& backup);
// A backup that does not hold a version 1.0 file.
std::string NotOriginalDetail(const std::string& backup);
// A version 1.1 file whose backup name is a second name of the file itself.
std::string SameAsFileDetail(const std::string& backup);
// What a backup met on its own belongs to.
std::string BackupOfDetail(const std::string& owner);
// "NAME.old gibt es schon".
std::string BackupExistsDetail(const std::string& backup);
// "NAME.old wird schon die Sicherung von OTHER": two files of this run would
// share one backup name.
std::string BackupTakenDetail(const std::string& backup, const std::string& other);

// Settles a file's result: how it ended, the message and why.
void Settle(FileResult& r, Outcome outcome, std::string message, std::string detail = {});
// A failure: the error box's text chosen from its kind, or the error's own.
void Fail(FileResult& r, Failure kind, std::string detail = {});
void Fail(FileResult& r, const KvoError& e);

// The question before a run over what was named: the files, the folders,
// or both, and where they lie. only: the one path named, if just one was.
std::string StartQuestionText(std::size_t files, std::size_t folders, const std::string& only,
                              const std::string& folder);

// The summary of a run of several files, in sentences: how many were done,
// already at version 1.1, second names, not begun, perhaps not on the disk,
// not done.
struct SummaryCounts {
  std::size_t done = 0, already = 0, same = 0, notBegun = 0, unconfirmed = 0, failed = 0;
};
std::string SummarySentences(const SummaryCounts& n, bool undo);
// The heading of the list of files that need a look; folder, where all lie
// in one, is said once there.
std::string FailureHeading(const std::string& folder);

// What a run of several files shows while it works: "Datei 3 von 10: NAME"
// (the name left out where it is empty).
std::string ProgressLine(std::size_t done, std::size_t total, const std::string& name);

// The message of a failure of that kind.
const char* FailureText(Failure kind);
// An error of that kind, with its message.
KvoError Failed(Failure kind, std::string detail = {});

// What status (or verify) says of a file that stands so.
const char* StandingText(Standing standing, Operation operation);

// Why a file could not be opened, for the command line; the window says
// "Falsche Dateiversion" alone.
const char* ProblemText(platform::Problem problem);

// An error box's text: a full stop is appended unless the text already ends
// in a character at or below it ('.', ',', ')', a space, ...).
std::string ErrorBoxText(std::string_view text);

// The caption of message boxes: the executable's file name up to its first
// full stop, every letter after the first in lower case.
std::string ApplicationTitle(std::string_view executableFileName);

}  // namespace kvo
