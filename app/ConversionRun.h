// One conversion run, from the choice of a file to the final message: the
// steps behind the window's button, also driven by the command line.
#pragma once

#include "Files.h"
#include "TableSets.h"
#include "UserInterface.h"

namespace kvo {

enum class Outcome {
  Cancelled,     // nothing chosen, nothing touched
  WrongVersion,  // not a version 1.0 file (or not to be opened); untouched
  Converted,     // version 1.1 under the chosen name, the original as .old
  Convertible,   // checked only: a conversion would succeed; nothing touched
  Failed,        // an error box was shown; the original is under its name
                 // unless the message says where it is
};

struct RunOptions {
  // Read and check the file and convert it in memory, but change nothing on
  // disk: says whether a real run would succeed.
  bool checkOnly = false;
};

Outcome RunConversion(UserInterface& ui, platform::Files& files, TableSets& tables,
                      RunOptions options = {});

// Where the new file is written before it takes the chosen name; attempt
// counts up while a leftover of an earlier, interrupted run is in the way.
std::string TemporaryPath(const std::string& path, int attempt);

}  // namespace kvo
