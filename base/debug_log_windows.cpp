// The Windows diagnostic channel is the debugger output (DebugView, a debugger).
#include "base/debug_log.h"

#include <windows.h>

namespace kiv {

void writePlatformDebugOutput(const std::string& text)
{
    ::OutputDebugStringA(text.c_str());
}

// A debugger or DebugView may attach at any time: nothing is dropped.
bool platformDebugOutputDiscarded()
{
    return false;
}

bool platformConsoleDiscarded()
{
    return false;
}

}  // namespace kiv
