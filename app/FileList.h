// What a run converts when it is given names: each named file, and every
// *.dat file in and below each named folder.
#pragma once

#include <string>
#include <vector>

#include "Files.h"

namespace kvo {

struct FileToConvert {
  std::string path;
  bool inFolder = false;     // found in a named folder, not named itself
  bool backupAlone = false;  // a backup (.old) that no data file beside it claims
};

// Named files as they are (missing ones too: the run says so); folders
// walked in a stable order, by name at each level, without following links
// to other folders. The ending .dat is matched in any case.
// With backupsAlone, each folder's backups that no data file in it claims
// are listed too, in their place.
std::vector<FileToConvert> FilesToConvert(platform::Files& files,
                                          const std::vector<std::string>& named,
                                          bool backupsAlone = false);

// Where the file dialog opens first: the program's own folder, as it always
// did, where the program sits among the user's files (a portable copy);
// where it is installed in one of the system's folders, or in a folder the
// user may not write, the user's documents.
std::string DialogStartFolder(platform::Files& files, const std::string& programFolder,
                              const std::vector<std::string>& systemFolders,
                              const std::string& documents);

}  // namespace kvo
