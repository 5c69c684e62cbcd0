// Linux has no debugger output channel: each debugLog call becomes one line on
// standard error, written with a single write() so lines of the two threads
// never interleave.
#include "base/debug_log.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace kiv {

// Standard error sent to /dev/null is the Linux counterpart of a debugger
// output channel nobody listens to: the lines are dropped before they are
// even formatted.
namespace {

bool isDevNull(int fd)
{
    struct stat file {};
    struct stat null {};
    return ::fstat(fd, &file) == 0 && ::stat("/dev/null", &null) == 0 && S_ISCHR(file.st_mode) &&
           file.st_rdev == null.st_rdev;
}

}  // namespace

bool platformDebugOutputDiscarded()
{
    static const bool discarded = isDevNull(STDERR_FILENO);
    return discarded;
}

// The console echo to /dev/null is dropped the same way.
bool platformConsoleDiscarded()
{
    static const bool discarded = isDevNull(STDOUT_FILENO);
    return discarded;
}

void writePlatformDebugOutput(const std::string& text)
{
    if (platformDebugOutputDiscarded())
        return;
    // The text and, where it lacks one, its line end in one system call.
    static const char kNewline = '\n';
    iovec parts[2] = {{const_cast<char*>(text.data()), text.size()},
                      {const_cast<char*>(&kNewline), 1}};
    const int count = !text.empty() && text.back() == '\n' ? 1 : 2;
    const std::size_t total = text.size() + static_cast<std::size_t>(count - 1);
    const ssize_t n = ::writev(STDERR_FILENO, parts, count);
    if (n < 0 || static_cast<std::size_t>(n) == total)
        return;  // nowhere to report a failing log
    // A short write (a full pipe): the rest goes out as before.
    std::string rest = text;
    if (count == 2)
        rest.push_back(kNewline);
    const char* p = rest.data() + n;
    std::size_t left = rest.size() - static_cast<std::size_t>(n);
    while (left > 0) {
        const ssize_t m = ::write(STDERR_FILENO, p, left);
        if (m <= 0)
            return;
        p += m;
        left -= static_cast<std::size_t>(m);
    }
}

}  // namespace kiv
