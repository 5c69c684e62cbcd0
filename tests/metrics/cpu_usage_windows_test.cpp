// The PDH sampler on the machine the test runs on.
#include "metrics/cpu_usage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "base/debug_log.h"

namespace {

// Runs in a process of its own (see below), so its first call is the first
// call of the process. Reports what it saw on standard error and exits.
[[noreturn]] void reportFirstTwoCalls()
{
    std::string console;
    kiv::setConsoleWriter([&console](const char* data, std::size_t size) { console.append(data, size); });
    const int first = kiv::samplePlatformCpuUsage();
    const std::size_t printedByFirst = console.size();
    // A rate counter needs time between its two collections.
    ::Sleep(250);
    const int second = kiv::samplePlatformCpuUsage();
    kiv::setConsoleWriter(nullptr);
    const std::string expected = formatString("\n\nCPU Total usage: %3d%%\n", second);
    std::fprintf(stderr, "first=%d printed=%zu in-range=%d console-matches=%d\n", first,
                 printedByFirst, second >= 0 && second <= 100 ? 1 : 0, console == expected ? 1 : 0);
    std::exit(0);
}

TEST(PlatformCpuUsageWindows, FirstCallPrimesSilentlyAndTheNextPrintsItsPercentage)
{
    // On Windows a death test always runs the statement in a new process.
    EXPECT_EXIT(reportFirstTwoCalls(), ::testing::ExitedWithCode(0),
                "first=0 printed=0 in-range=1 console-matches=1\n");
}

}  // namespace
