// The Windows diagnostic channel is the debugger output (DebugView, a debugger).
#include "core/debug_log.h"

#include <windows.h>

namespace kiv {

void writePlatformDebugOutput(const std::string& text)
{
    ::OutputDebugStringA(text.c_str());
}

}  // namespace kiv
