// The tool's own texts, and the rules that shape what the user reads.
#pragma once

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
inline constexpr const char* kInterruptedText = "Abgebrochen, die Datei ist unverändert.";
inline constexpr const char* kNothingFoundText = "Keine Datei mit der Endung .dat gefunden";
inline constexpr const char* kAlreadyConvertedText = "Schon auf Version 1.1, nichts zu tun";

// The summary of a run of several files: how many were converted, already at
// version 1.1, not converted and not begun, in lines.
std::string SummaryText(const std::vector<FileResult>& results);
// One line for each file not converted: its name and why.
std::string FailureList(const std::vector<FileResult>& results);
// What a file's line says: its message, and for a file that could not be
// opened, why.
std::string Explained(const FileResult& result);

// Why a file could not be opened, for the command line; the window says
// "Falsche Dateiversion" alone.
const char* ProblemText(platform::Problem problem);

// An error box's text: a full stop is appended unless the text already ends
// in a character at or below it ('.', ',', ')', a space, ...).
std::string ErrorBoxText(std::string_view text);

// The same folder and name with the extension replaced by ".old"; a name
// without extension gets ".old" appended. Dots in folder names do not count.
std::string BackupPath(std::string_view path);

// The caption of message boxes: the executable's file name up to its first
// full stop, every letter after the first in lower case.
std::string ApplicationTitle(std::string_view executableFileName);

}  // namespace kvo
