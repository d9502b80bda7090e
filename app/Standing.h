// Where a data file stands: read with its backup, and the backup converted
// again in memory to be compared with the file. What status, verify and undo
// build on.
#pragma once

#include <memory>
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
};

// Examines the data file at path (links followed already; opened already
// where file is given) and its backup. Changes nothing; FileError and
// KvoError do not escape.
Finding Examine(platform::Files& files, const std::string& path, const std::string& backup,
                TableSets& tables, std::unique_ptr<platform::InputFile> file = nullptr);

// Whether a and b hold the same bytes, each read from its start.
bool SameBytes(platform::InputFile& a, platform::InputFile& b);

}  // namespace kvo
