#include "ConversionRun.h"

#include <memory>
#include <new>

#include "Container.h"
#include "Errors.h"
#include "Messages.h"

namespace kvo {

namespace {

using platform::FileError;
using platform::Files;

// The wait cursor from the start of the run until the first message.
class WaitCursor {
 public:
  explicit WaitCursor(UserInterface& ui) : ui_(ui) { ui_.BeginWait(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  ~WaitCursor() { End(); }
  void End() {
    if (on_) ui_.EndWait();
    on_ = false;
  }

 private:
  UserInterface& ui_;
  bool on_ = true;
};

// Opens the file and checks its header. Nothing returned: not a file we can
// convert, whatever the reason (missing, locked, no access, short, other
// version).
std::unique_ptr<platform::InputFile> OpenVersion10(Files& files, const std::string& path) {
  try {
    auto in = files.OpenRead(path);
    Header header{};
    if (ReadFully(*in, header) == header.size() && CheckHeader0(header)) return in;
  } catch (const FileError&) {
  }
  return nullptr;
}

Counts ReadWhole(platform::InputFile& in, TableSets& tables) {
  ClearTables(tables);
  try {
    const Counts counts = ReadDataFile0(in, tables);
    in.Close();
    return counts;
  } catch (const FileError&) {
    // The system could not give us the whole file.
    throw KvoError(kIncompleteText);
  }
}

// Clean-up on a path that already failed: the first error is the one to
// report, and a leftover temporary file is recognisable by its name.
void RemoveQuietly(Files& files, const std::string& path) {
  try {
    files.Remove(path);
  } catch (const FileError&) {
  }
}

// Writes the new file beside the chosen one, complete and on the disk, and
// returns its name. On failure nothing of it is left.
std::string WriteTemporary(Files& files, const std::string& path, const TableSets& tables,
                           const Counts& counts) {
  std::string temporary;
  std::unique_ptr<platform::OutputFile> out;
  for (int attempt = 0; !out; ++attempt) {
    temporary = TemporaryPath(path, attempt);
    try {
      out = files.CreateNew(temporary);
    } catch (const FileError&) {
      // Nothing new can be named in this folder, so neither can a backup.
      if (attempt == 99 || !files.Exists(temporary)) throw KvoError(kBackupFailedText);
    }
  }
  try {
    WriteDataFile(*out, tables, counts);
    out->Sync();
    out->Close();
  } catch (...) {
    out.reset();
    RemoveQuietly(files, temporary);
    throw KvoError(kOutputFailedText);
  }
  return temporary;
}

// The original becomes the backup, the new file takes its name. Any failure
// gives the original its name back.
void Commit(Files& files, const std::string& path, const std::string& backup,
            const std::string& temporary) {
  try {
    files.RenameNoReplace(path, backup);
  } catch (const FileError&) {
    RemoveQuietly(files, temporary);
    throw KvoError(kBackupFailedText);
  }
  bool placed = false;
  try {
    files.RenameNoReplace(temporary, path);
    placed = true;
    files.SyncFolderOf(path);
  } catch (const FileError&) {
    std::string message = kOutputFailedText;
    try {
      if (placed) files.RenameNoReplace(path, temporary);
      files.RenameNoReplace(backup, path);
    } catch (const FileError&) {
      message = ErrorBoxText(message) + " Die alte Datei liegt weiterhin unter " + backup;
    }
    RemoveQuietly(files, temporary);
    throw KvoError(message);
  }
}

std::string MessageOf(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const KvoError& e) {
    return e.what();
  } catch (const std::bad_alloc&) {
    return kOutOfMemoryText;
  } catch (const FileError&) {
    return kOutputFailedText;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return kOutputFailedText;
  }
}

}  // namespace

std::string TemporaryPath(const std::string& path, int attempt) {
  return path + ".kvo-tmp" + (attempt == 0 ? "" : std::to_string(attempt));
}

Outcome RunConversion(UserInterface& ui, Files& files, TableSets& tables, RunOptions options) {
  WaitCursor wait(ui);
  try {
    const std::optional<std::string> chosen = ui.ChooseFile();
    if (!chosen) return Outcome::Cancelled;
    const std::string& path = *chosen;

    Counts counts;
    {
      const auto in = OpenVersion10(files, path);
      if (!in) {
        wait.End();
        ui.ShowInformation(kWrongVersionText);
        return Outcome::WrongVersion;
      }
      counts = ReadWhole(*in, tables);
    }

    // The backup name is checked first, to spare the work, and again by the
    // rename, which never replaces a file.
    const std::string backup = BackupPath(path);
    if (files.Exists(backup)) throw KvoError(kBackupFailedText);
    ConvertTables(tables, counts);
    if (options.checkOnly) {
      wait.End();
      ui.ShowInformation(kConvertibleText);
      return Outcome::Convertible;
    }
    // The new file is complete on the disk before the original is renamed:
    // an interruption while writing leaves the original under its name.
    const std::string temporary = WriteTemporary(files, path, tables, counts);
    Commit(files, path, backup, temporary);

    wait.End();
    ui.ShowInformation(kSuccessText);
    return Outcome::Converted;
  } catch (...) {
    wait.End();
    ui.ShowError(ErrorBoxText(MessageOf(std::current_exception())));
    return Outcome::Failed;
  }
}

}  // namespace kvo
