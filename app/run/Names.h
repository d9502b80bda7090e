// The names of a data file's companions (its backup, the run's temporary
// files), and the order in which names are shown: rules about names, the
// same on every surface, the browser's core included.
#pragma once

#include <string>
#include <string_view>

namespace kvo {

// The same folder and name with the extension replaced by ".old"; a name
// without extension gets ".old" appended. Dots in folder names do not count.
std::string BackupPath(std::string_view path);

// The data file a backup found alone belongs to: the same folder and name
// with the ending ".dat" for ".old" (".DAT", upper).
std::string DataPathOf(std::string_view backup, bool upper = false);

// The run's temporary files beside a data file: ".kvo-", a tag of the data
// file's name, "-N" from the second attempt on, and an ending.
inline constexpr std::string_view kTemporaryPrefix = ".kvo-";
inline constexpr std::string_view kTemporaryEnding = ".tmp";
// The backup's copy while it is written, where there are no hard links.
inline constexpr std::string_view kBackupEnding = ".old.tmp";
// What the first release named them: the whole name plus this.
inline constexpr std::string_view kEarlierEnding = ".kvo-tmp";

// A short name beside path, tied to path's name, for the attempt'th try
// (0 first), with the given ending.
std::string BesidePath(const std::string& path, int attempt, std::string_view ending);

// The temporary name of path's new file: short, whatever the length of
// path's name, in the same folder and tied to that name. attempt counts up
// while a name is taken by something that cannot be cleared away.
std::string TemporaryPath(const std::string& path, int attempt);

// The endings of a data file and of its backup.
inline constexpr std::string_view kDataEnding = ".dat";
inline constexpr std::string_view kBackupNameEnding = ".old";

// Whether name ends in ending (lower case), in any case, and is more than it.
bool EndsWith(std::string_view name, std::string_view ending);
// Whether a folder's walk takes the name for a data file.
inline bool IsDataFile(std::string_view name) {
  return EndsWith(name, kDataEnding);
}
// Whether the name is a backup's, in any case.
inline bool IsBackupName(std::string_view name) {
  return EndsWith(name, kBackupNameEnding);
}

// Whether candidate is a temporary file of the data file named name.
bool IsTemporaryOf(std::string_view candidate, const std::string& name);

// The character of UTF-8 at pos, pos moved past it. A byte that starts none
// (of another encoding, or of a sequence cut short or too long) stands for
// itself, and broken says so.
char32_t NextCharacter(std::string_view text, std::size_t& pos, bool* broken = nullptr);

// A key that orders names as a German reader does: numbers by their value
// ("Datei 2" before "Datei 10"), letters whatever their case, umlauts as
// their vowel and ß as ss; names equal so far by their bytes. Compared as
// bytes.
std::string SortKey(std::string_view name);

}  // namespace kvo
