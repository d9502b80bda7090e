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

bool ReadHeader(platform::InputFile& in, Header& header) {
  std::size_t done = 0;
  while (done < header.size()) {
    const std::size_t n = in.Read(std::span(header).subspan(done));
    if (n == 0) return false;
    done += n;
  }
  return true;
}

// Opens the file and checks its header. Nothing returned: not a file we can
// convert, whatever the reason (missing, locked, no access, short, other
// version).
std::unique_ptr<platform::InputFile> OpenVersion10(Files& files, const std::string& path) {
  try {
    auto in = files.OpenRead(path);
    Header header{};
    if (ReadHeader(*in, header) && CheckHeader0(header)) return in;
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

// Writes the new file beside the chosen one and moves it into place only once
// it is complete and on the disk. On failure nothing of it is left.
void WriteNewFile(Files& files, const std::string& path, const TableSets& tables,
                  const Counts& counts) {
  std::string temporary;
  std::unique_ptr<platform::OutputFile> out;
  for (int attempt = 0; !out; ++attempt) {
    temporary = TemporaryPath(path, attempt);
    try {
      out = files.CreateNew(temporary);
    } catch (const FileError&) {
      if (attempt == 99) throw;
    }
  }
  bool placed = false;
  try {
    WriteDataFile(*out, tables, counts);
    out->Sync();
    out->Close();
    files.RenameNoReplace(temporary, path);
    placed = true;
    files.SyncFolderOf(path);
  } catch (...) {
    out.reset();
    try {
      if (placed) files.RenameNoReplace(path, temporary);
      files.Remove(temporary);
    } catch (const FileError&) {
      // The error that brought us here is the one to report.
    }
    throw;
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

    const std::string backup = BackupPath(path);
    if (options.checkOnly) {
      if (files.Exists(backup)) throw KvoError(kBackupFailedText);
      ConvertTables(tables, counts);
      wait.End();
      ui.ShowInformation(kConvertibleText);
      return Outcome::Convertible;
    }
    try {
      files.RenameNoReplace(path, backup);
    } catch (const FileError&) {
      throw KvoError(kBackupFailedText);
    }

    try {
      ConvertTables(tables, counts);
      WriteNewFile(files, path, tables, counts);
    } catch (...) {
      // Give the user the original back under its own name.
      std::string message = MessageOf(std::current_exception());
      try {
        files.RenameNoReplace(backup, path);
      } catch (const FileError&) {
        message = ErrorBoxText(message) + " Die alte Datei liegt weiterhin unter " + backup;
      }
      throw KvoError(message);
    }

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
