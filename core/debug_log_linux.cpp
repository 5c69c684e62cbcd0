// Linux has no debugger output channel: each debugLog call becomes one line on
// standard error, written with a single write() so lines of the two threads
// never interleave.
#include "core/debug_log.h"

#include <unistd.h>

namespace kiv {

void writePlatformDebugOutput(const std::string& text)
{
    std::string line = text;
    if (line.empty() || line.back() != '\n')
        line.push_back('\n');
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0)
            return;  // nowhere to report a failing log
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

}  // namespace kiv
