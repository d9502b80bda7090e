// Every error that ends a conversion run carries the text the user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace kvo {

inline constexpr const char* kRangeErrorText = "Fehler bei Bereichsprüfung";
inline constexpr const char* kOutOfMemoryText = "Zu wenig Arbeitsspeicher";
inline constexpr const char* kIncompleteText = "Datei ist unvollständig";
inline constexpr const char* kWrongVersionText = "Falsche Dateiversion";

// What befell a file where it failed: errors carry it and results keep it,
// so that outcomes are told apart by their kind, never by their text. The
// browser page reports the same kinds by these numbers (kFailureNames).
enum class Failure {
  None,
  BackupTaken,         // the backup's name is another file's
  Backup,              // the backup could not be made
  Output,              // the new file could not be made
  Changed,             // another program changed the file meanwhile
  Read,                // the system could not give the file's bytes
  Interrupted,         // "Abbrechen" or a signal while it was converted
  NotUndone,           // undo could not put the original back
  ChangedWhileUndone,  // the file or its backup changed during undo
  NoBackup,            // undo found no backup
  NotBegun,            // a cancel came before it changed anything
  Content,             // the file's bytes are refused (range, cut short, memory)
};
inline constexpr const char* const kFailureNames[] = {
    "None",      "BackupTaken",        "Backup",   "Output",   "Changed", "Read", "Interrupted",
    "NotUndone", "ChangedWhileUndone", "NoBackup", "NotBegun", "Content"};

class KvoError : public std::runtime_error {
 public:
  // detail: why, in a second line or behind the message (the system's reason,
  // which file is in the way).
  explicit KvoError(const std::string& userMessage, std::string detail = {},
                    Failure kind = Failure::Content)
      : std::runtime_error(userMessage), detail_(std::move(detail)), kind_(kind) {}
  const std::string& detail() const { return detail_; }
  Failure kind() const { return kind_; }

 private:
  std::string detail_;
  Failure kind_;
};

// A file that is not a version 1.0 file. Kept apart from KvoError because the
// window reports it as information, not as an error.
class WrongVersion : public std::runtime_error {
 public:
  WrongVersion() : std::runtime_error(kWrongVersionText) {}
};

}  // namespace kvo
