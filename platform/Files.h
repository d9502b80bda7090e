// The thin file layer under the conversion run: open, read, write, flush,
// close, and renames that never replace a file. One implementation per
// operating system; tests wrap it to make single calls fail.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "Stream.h"

namespace kvo::platform {

// A failed file operation, with the system's reason for diagnostics. The run
// turns it into the message the user sees.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class InputFile : public ByteSource {
 public:
  // Read() throws FileError when the system reports an error.
  virtual void Close() = 0;
};

class OutputFile : public ByteSink {
 public:
  virtual void Sync() = 0;  // to the disk, not just the cache
  virtual void Close() = 0;
};

class Files {
 public:
  virtual ~Files() = default;
  // Opens an existing file for reading, locked against every other opener
  // while it is open. A file locked by someone else cannot be opened.
  virtual std::unique_ptr<InputFile> OpenRead(const std::string& path) = 0;
  // Creates a file that must not exist yet.
  virtual std::unique_ptr<OutputFile> CreateNew(const std::string& path) = 0;
  // Renames; fails, and changes nothing, when a file of the new name exists.
  virtual void RenameNoReplace(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // Makes the renames and creations in the folder of path durable.
  virtual void SyncFolderOf(const std::string& path) = 0;
};

// The operating system's files.
Files& SystemFiles();

}  // namespace kvo::platform
