// The Windows diagnostic channel is the debugger output (DebugView, a
// debugger): it keeps every line, whatever its level. What passes the level
// goes on to the log sink only.
#include "base/debug_log.h"

#include <cstdio>

#include <windows.h>

namespace kiv {

// A debugger or DebugView may attach at any time: every line is written,
// and it costs nothing while nobody listens.
bool platformKeepsEveryLine()
{
    return true;
}

void writePlatformEveryLine(const std::string& text)
{
    ::OutputDebugStringA(text.c_str());
}

// Beside the debugger output there is no channel of its own for the lines
// that pass the level: the debugger has them already.
void writePlatformDebugOutput(LogLevel, const std::string&) {}

bool platformDebugOutputDiscarded()
{
    return true;
}

void writePlatformConsole(const char* data, std::size_t size)
{
    std::fwrite(data, 1, size, stdout);
    std::fflush(stdout);
}

bool platformConsoleDiscarded()
{
    return false;
}

}  // namespace kiv
