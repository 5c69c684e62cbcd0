// The Linux CPU measurement on this machine: the first call gives 0 silently,
// the next a percentage.

#include "metrics/cpu_usage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

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
    const int second = kiv::samplePlatformCpuUsage();
    kiv::setConsoleWriter(nullptr);
    std::fprintf(stderr, "first=%d printed=%zu second=%d\n", first, printedByFirst, second);
    std::exit(0);
}

TEST(PlatformCpuUsageLinux, FirstCallOfTheProcessGivesZeroSilentlyAndTheNextAPercentage)
{
    // "threadsafe" re-executes the test binary for the statement instead of
    // forking this process, so no earlier test's sample is carried over.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(reportFirstTwoCalls(), ::testing::ExitedWithCode(0),
                "first=0 printed=0 second=([0-9]|[1-9][0-9]|100)\n");
}

}  // namespace
