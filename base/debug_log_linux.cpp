// Linux has no debugger output channel: each line that passes the level
// becomes one line on standard error, written with a single write() so lines
// of the two threads never interleave. When standard error is the journal
// (systemd names its stream in JOURNAL_STREAM), each line starts with its
// syslog priority prefix, which the journal reads as the line's priority.
#include "base/debug_log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

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

// JOURNAL_STREAM is "DEVICE:INODE" of the stream that systemd connected to
// the journal; `fd` is the journal when it is that stream.
bool isJournalStream(int fd)
{
    const char* value = std::getenv("JOURNAL_STREAM");
    if (value == nullptr)
        return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    char rest = 0;
    if (std::sscanf(value, "%llu:%llu%c", &device, &inode, &rest) != 2)
        return false;
    struct stat stream {};
    return ::fstat(fd, &stream) == 0 && static_cast<unsigned long long>(stream.st_dev) == device &&
           static_cast<unsigned long long>(stream.st_ino) == inode;
}

// Decided before main, while the process has one thread: the environment is
// read before anything (Qt) can change it.
const bool gStderrIsJournal = isJournalStream(STDERR_FILENO);
const bool gStdoutIsJournal = isJournalStream(STDOUT_FILENO);

// Writes all of `size` bytes from `data`, going on after a short write (a
// full pipe); gives up on a failing one: there is nowhere to report it.
void writeRest(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t m = ::write(fd, data, size);
        if (m <= 0)
            return;
        data += m;
        size -= static_cast<std::size_t>(m);
    }
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

// Standard error takes only the lines that pass the level.
bool platformKeepsEveryLine()
{
    return false;
}

void writePlatformEveryLine(const std::string&) {}

void writePlatformDebugOutput(LogLevel level, const std::string& text)
{
    if (platformDebugOutputDiscarded())
        return;
    if (gStderrIsJournal) {
        const std::string line = journalLine(level, text);
        writeRest(STDERR_FILENO, line.data(), line.size());
        return;
    }
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
    writeRest(STDERR_FILENO, rest.data() + n, rest.size() - static_cast<std::size_t>(n));
}

void writePlatformConsole(const char* data, std::size_t size)
{
    if (!gStdoutIsJournal) {
        std::fwrite(data, 1, size, stdout);
        std::fflush(stdout);
        return;
    }
    // Into the journal the echo is a debug trace too: each line it starts
    // gets the prefix, also across calls (a datagram, then its line end).
    static std::mutex lineMutex;
    static bool atLineStart = true;
    std::lock_guard<std::mutex> lock(lineMutex);
    std::string out;
    out.reserve(size + 8);
    for (std::size_t i = 0; i < size; ++i) {
        if (atLineStart)
            out += "<7>";
        out += data[i];
        atLineStart = data[i] == '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

}  // namespace kiv
