// Where a data file stands: read with its backup, and the backup converted
// again in memory to be compared with the file. What status, verify and undo
// build on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Files.h"
#include "TableSets.h"
#include "UserInterface.h"

namespace kvo {

struct Finding {
  Standing standing = Standing::Damaged;
  std::string detail;  // why, or where the file first differs
  // A file that is exactly the conversion of its backup: both, open and
  // locked, as they were compared.
  std::unique_ptr<platform::InputFile> file, backup;
  // Its fingerprint as compared, for undo's last check where the disk keeps
  // no change time.
  std::optional<std::uint64_t> fileDigest;
  // A version 1.0 file whose backup is a twin of it (its second name, or a
  // copy with the same bytes): what undo may remove.
  bool backupIsTwin = false;
};

// Examines the data file at path (links followed already; opened already
// where file is given) and its backup. Changes nothing; KvoError and
// FileError do not escape, but for a FileError of Problem::TooManyOpen,
// which is no fault of the file. With toChange both files are opened and
// locked as for undo; otherwise they are only looked at, kept from no one,
// and looked at again (up to again times) where a run changed them meanwhile.
Finding Examine(platform::Files& files, const std::string& path, const std::string& backup,
                TableSets& tables, std::unique_ptr<platform::InputFile> file = nullptr,
                bool toChange = false, int again = 2);

// Whether a and b hold the same bytes, each read from its start.
bool SameBytes(platform::InputFile& a, platform::InputFile& b);

}  // namespace kvo
