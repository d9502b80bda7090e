// Text crossing into the operating system: the tool keeps UTF-8 everywhere;
// Windows wants UTF-16.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kvo::platform {

#ifdef _WIN32
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
#endif

// The command line's arguments as UTF-8, whatever the system's code page.
std::vector<std::string> Arguments(int argc, char** argv);

// Lets the console show UTF-8 text (German umlauts) as it is.
void PrepareConsole();

// Whether the error output goes to a terminal a person watches.
bool ErrorIsTerminal();
// How many columns the terminal of standard error has; 0 when unknown.
std::size_t TerminalColumns();

}  // namespace kvo::platform
