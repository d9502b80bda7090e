// The command line's run, as kvo-umsetzer-cli runs it: its options read,
// one line per file, the summary, and the exit status. Tests run it in their
// own process, beside another program's doings.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "Files.h"
#include "UserInterface.h"

namespace kvo {

// args: the arguments after the program's name. Lines go to out (files that
// need no look) and err (the rest); the exit status is returned. beside, if
// given, hears of each file's steps (UserInterface::Reached) and may ask the
// run to stop, as a window's Abbrechen does.
int RunCommandLine(const std::vector<std::string>& args, platform::Files& files, std::ostream& out,
                   std::ostream& err, UserInterface* beside = nullptr);

}  // namespace kvo
