// Paths as the tool keeps them: UTF-8 text with the system's separators.
#pragma once

#include <string>
#include <string_view>

namespace kvo::platform {

bool IsSeparator(char c);
// The folder part, without its last separator ("." when there is none).
std::string FolderOf(std::string_view path);
// The file name part.
std::string NameOf(std::string_view path);
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace kvo::platform
