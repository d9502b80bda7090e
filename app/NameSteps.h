// The steps on names that the conversion's commit and undo's restore are
// made of: a file made beside a data file under a temporary name, a second
// name or a flushed copy there, and the one step in which a file takes a
// name. Each says what is left when it throws.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Commit.h"

namespace kvo {

// The file's bytes still those that were read (staged.readDigest), where
// its identity cannot show an edit that put the time back: read once more,
// through the run's own lock. Throws Failed(Failure::Changed).
void CheckSameBytes(Staged& staged);
// Removes path; a leftover that stays is cleared by the next run.
void RemoveQuietly(platform::Files& files, const std::string& path);
// Lets go of the original, which was only read.
void ReleaseInput(Staged& staged);
// Why a new name could not be made, in words a user can act on.
std::string CreateReason(const platform::FileError& e);
// A new file beside path under a temporary name with the given ending; its
// name in chosen.
std::unique_ptr<platform::OutputFile> CreateBeside(platform::Files& files, const std::string& path,
                                                   std::string_view ending, std::string& chosen);
// A flushed copy of from beside path, with from's attributes and times;
// changeTimeKept learns whether the disk keeps a change time.
std::string CopyBeside(platform::Files& files, platform::InputFile& from, const std::string& path,
                       std::string_view ending, bool* changeTimeKept = nullptr);
// A second name of from beside path, or nothing where there are none.
std::optional<std::string> LinkBeside(platform::Files& files, const std::string& from,
                                      const std::string& path);
// replacement takes path's name in one step: swapped where the system can, and
// what was displaced checked to be expected; else renamed over it.
std::unique_ptr<platform::InputFile> Replace(platform::Files& files, const std::string& replacement,
                                             const std::string& path,
                                             const platform::FileIdentity& expected,
                                             std::unique_ptr<platform::InputFile>& held,
                                             bool& stuck, UserInterface& ui);

}  // namespace kvo
