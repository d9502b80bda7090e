// What a run converts when it is given names: each named file, and every
// *.dat file in and below each named folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Files.h"

namespace kvo {

struct FileToConvert {
  std::string path;
  bool inFolder = false;     // found in a named folder, not named itself
  bool backupAlone = false;  // a backup (.old) that no data file beside it claims
  // The folder it was found in, held from the walk on: renamed or moved
  // meanwhile, the run still finds the file there.
  std::shared_ptr<platform::FolderHold> folder = nullptr;
};

// Named files as they are (missing ones too: the run says so); folders
// walked in a stable order, by name at each level, without following links
// to other folders, and held. The ending .dat is matched in any case.
// With backupsAlone, each folder's backups that no data file in it claims
// are listed too, in their place.
std::vector<FileToConvert> FilesToConvert(platform::Files& files,
                                          const std::vector<std::string>& named,
                                          bool backupsAlone = false);

// Whether "/?" asks for help: on Windows, where no name holds a "?".
#ifdef _WIN32
inline constexpr bool kSlashAsksForHelp = true;
#else
inline constexpr bool kSlashAsksForHelp = false;
#endif

// What the window answers to --help: a paragraph a line, for a box to wrap
// as it fits (TerminalText wraps it for a terminal).
inline constexpr const char* kWindowUsageText =
    "Aufruf: kvo-umsetzer [DATEI|ORDNER...]\n"
    "Öffnet das Fenster, das Datendateien von Version 1.0 auf Version 1.1 umsetzt. Genannte "
    "Dateien und Ordner werden nach einer Rückfrage umgesetzt, aus Ordnern alle Dateien mit der "
    "Endung .dat. Die alte Datei bleibt mit der Endung .old erhalten.\n"
    "\n"
#ifdef _WIN32
    "  /?, -h, --help  diese Hilfe zeigen\n"
    "  --version       die Version zeigen\n"
#else
    "  -h, --help  diese Hilfe zeigen\n"
    "  --version   die Version zeigen\n"
#endif
    "\n"
    "Dasselbe ohne Fenster: kvo-umsetzer-cli --help\n";

// Whether an argument asks for help: -h, --help, -?, and /? on Windows.
bool AsksForHelp(const std::string& argument);

// text with each line longer than width broken between words, for a
// terminal.
std::string TerminalText(const std::string& text, std::size_t width = 79);

// What the window is started with: its options answered, never taken for
// files ("--" ends them), and the files and folders to convert.
struct WindowStart {
  enum Action { Open, Help, Version, Wrong } action = Open;
  std::string text;                // the help, the version, or what is wrong
  std::vector<std::string> named;  // Open: the files and folders given
};
WindowStart ReadWindowArguments(const std::vector<std::string>& arguments);

// The question a start with files asks: the file's name, or how many and
// the folder they are in, each on a line of its own.
std::string StartQuestion(platform::Files& files, const std::vector<std::string>& named);

// Where the file dialog opens first: the program's own folder, as it always
// did, where the program sits among the user's files (a portable copy);
// where it is installed in one of the system's folders, or in a folder the
// user may not write, the user's documents.
std::string DialogStartFolder(platform::Files& files, const std::string& programFolder,
                              const std::vector<std::string>& systemFolders,
                              const std::string& documents);

}  // namespace kvo
