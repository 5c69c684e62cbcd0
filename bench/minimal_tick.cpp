// The bare baseline of the idle comparison: the least a program can do that
// samples the total CPU load once a second. It sleeps to the next whole
// second of its own schedule and reads /proc/stat from an open descriptor,
// nothing else: no event loop, no timers to re-arm, no parsing.
//
//   minimal_tick [--max-seconds S]
//
// Ends on SIGTERM/SIGINT, or by itself after --max-seconds (default 900).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "bench_common.h"

int main(int argc, char** argv)
{
    long maxSeconds = 900;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--max-seconds" && i + 1 < argc)
            maxSeconds = bench::parseLong(arg, argv[++i]);
        else
            bench::fail("usage: minimal_tick [--max-seconds S]");
    }
    if (maxSeconds < 1)
        bench::fail("minimal_tick: option out of range");

    bench::catchStopSignals(false);

    const int fd = open("/proc/stat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        bench::fail(std::string("minimal_tick: /proc/stat: ") + std::strerror(errno));
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    char buffer[4096];
    for (long tick = 0; tick < maxSeconds && !bench::stopRequested(); ++tick) {
        next.tv_sec += 1;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR && !bench::stopRequested()) {
        }
        if (pread(fd, buffer, sizeof buffer, 0) < 0)
            bench::fail(std::string("minimal_tick: read: ") + std::strerror(errno));
    }
    close(fd);
    return 0;
}
