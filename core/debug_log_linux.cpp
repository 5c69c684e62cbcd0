// Linux has no debugger output channel: each debugLog call becomes one line on
// standard error, written with a single write() so lines of the two threads
// never interleave.
#include "core/debug_log.h"

#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

namespace {

// Standard error sent to /dev/null is the Linux counterpart of a debugger
// output channel nobody listens to: the lines are dropped before the write.
bool logDiscarded()
{
    static const bool discarded = [] {
        struct stat err {};
        struct stat null {};
        return ::fstat(STDERR_FILENO, &err) == 0 && ::stat("/dev/null", &null) == 0 &&
               S_ISCHR(err.st_mode) && err.st_rdev == null.st_rdev;
    }();
    return discarded;
}

}  // namespace

void writePlatformDebugOutput(const std::string& text)
{
    if (logDiscarded())
        return;
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
