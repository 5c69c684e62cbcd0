// Command lines of the Windows programs as the portable option parser takes
// them: the words after the program's name, in UTF-8.
#pragma once

#include <string>
#include <vector>

namespace kiv::win32 {

// `commandLine` split the way the C runtime splits it (CommandLineToArgvW),
// without its first word, the program's name.
std::vector<std::string> argumentsOf(const std::wstring& commandLine);

// The arguments this process was started with.
std::vector<std::string> commandLineArguments();

std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

}  // namespace kiv::win32
