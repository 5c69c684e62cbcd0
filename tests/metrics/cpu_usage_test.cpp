// The CPU sampler: an installed sampler's values in order, replaced and
// removed, calls from many threads; the counter's warning (first failure,
// repeats held, the end counted); the reading throttle.

#include "metrics/cpu_usage.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "row_name.h"
#include "support/log_capture.h"

namespace {

using kiv::test::rowName;

// Every test leaves the platform measurement installed again.
class CpuUsageSampler : public ::testing::Test
{
protected:
    void TearDown() override { CpuUsage::setSampler(nullptr); }
};

TEST(CpuUsageObject, LogsConstructionAndDestruction)
{
    kiv::test::LogCapture capture;
    {
        CpuUsage sampler;
        EXPECT_EQ((std::vector<std::string>{"==>  CpuUsage::CpuUsage\n", "<==  CpuUsage::CpuUsage\n"}),
                  capture.lines());
    }
    EXPECT_EQ((std::vector<std::string>{"==>  CpuUsage::CpuUsage\n", "<==  CpuUsage::CpuUsage\n",
                                        "<> CpuUsage::~CpuUsage\n"}),
              capture.lines());
    EXPECT_EQ("", capture.console());
}

TEST_F(CpuUsageSampler, InstalledSamplerGivesEveryValueInOrderWithoutPrinting)
{
    const std::vector<int> sequence{0, 12, 95, 100, 95, 3};
    std::size_t next = 0;
    CpuUsage::setSampler([&] { return sequence.at(next++); });

    kiv::test::LogCapture capture;
    std::vector<int> seen;
    for (std::size_t i = 0; i < sequence.size(); ++i)
        seen.push_back(CpuUsage::getCpuUsage());

    EXPECT_EQ(sequence, seen);
    EXPECT_EQ("", capture.console());
}

TEST_F(CpuUsageSampler, LaterSamplerReplacesTheEarlierOne)
{
    int firstCalls = 0;
    CpuUsage::setSampler([&] {
        ++firstCalls;
        return 10;
    });
    EXPECT_EQ(10, CpuUsage::getCpuUsage());
    CpuUsage::setSampler([] { return 80; });
    EXPECT_EQ(80, CpuUsage::getCpuUsage());
    EXPECT_EQ(80, CpuUsage::getCpuUsage());
    EXPECT_EQ(1, firstCalls);
}

TEST_F(CpuUsageSampler, EmptySamplerRestoresThePlatformMeasurement)
{
    int calls = 0;
    CpuUsage::setSampler([&] {
        ++calls;
        return -7;  // a value the platform never gives
    });
    EXPECT_EQ(-7, CpuUsage::getCpuUsage());

    CpuUsage::setSampler(nullptr);
    kiv::test::LogCapture quiet;  // the platform prints its measurements
    for (int i = 0; i < 3; ++i) {
        const int percent = CpuUsage::getCpuUsage();
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
    EXPECT_EQ(1, calls);
}

TEST_F(CpuUsageSampler, CallsFromManyThreadsNeverOverlap)
{
    constexpr int kThreads = 8;
    constexpr int kCallsPerThread = 2000;

    std::atomic<int> inside{0};
    std::atomic<int> mostInside{0};
    int unguardedCount = 0;  // only safe to touch because the calls are serialised
    CpuUsage::setSampler([&] {
        const int now = ++inside;
        int seen = mostInside.load();
        while (now > seen && !mostInside.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();  // widen the window another caller could enter through
        const int value = ++unguardedCount;
        --inside;
        return value;
    });

    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::vector<int> lastSeen(kThreads, 0);
    std::vector<int> increasing(kThreads, 1);  // not vector<bool>: each thread writes its own element
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kCallsPerThread; ++i) {
                const int value = CpuUsage::getCpuUsage();
                if (value <= lastSeen[t])
                    increasing[t] = 0;
                lastSeen[t] = value;
            }
        });
    }
    go = true;
    for (std::thread& thread : threads)
        thread.join();

    EXPECT_EQ(1, mostInside.load());
    EXPECT_EQ(kThreads * kCallsPerThread, unguardedCount);
    // One shared sequence: each caller sees it advance between its own calls.
    EXPECT_TRUE(std::all_of(increasing.begin(), increasing.end(), [](int b) { return b != 0; }));
}

// ---------------------------------------------------------------------------
// The formatted counter value as whole percent

struct CounterRow {
    const char* name;
    double counterValue;
    int percent;
};

std::ostream& operator<<(std::ostream& os, const CounterRow& row)
{
    return os << row.name;
}

class CounterValuePercent : public ::testing::TestWithParam<CounterRow> {};

TEST_P(CounterValuePercent, TruncatesAndNarrowsToASignedByte)
{
    const CounterRow& row = GetParam();
    EXPECT_EQ(row.percent, kiv::cpuPercentFromCounterValue(row.counterValue));
}

const CounterRow kCounterRows[] = {
    {"AlmostFullIs99", 99.99, 99},
    {"FullIs100", 100.0, 100},
    {"BelowOneIs0", 0.4, 0},
    {"NotRounded", 37.9, 37},
    {"Zero", 0.0, 0},
    {"Whole", 45.0, 45},
    {"UncappedJustAboveFull", 100.7, 100},
    {"LargestByte", 127.9, 127},
    {"ByteWrapsAt128", 128.0, -128},
    {"ByteWrapsAt256", 256.5, 0},
    {"SmallNegativeTruncatesToZero", -0.9, 0},
    {"NegativeTruncatesTowardZero", -3.7, -3},
    {"NotANumber", std::numeric_limits<double>::quiet_NaN(), 0},
    {"Infinite", std::numeric_limits<double>::infinity(), 0},
};

INSTANTIATE_TEST_SUITE_P(Rows, CounterValuePercent, ::testing::ValuesIn(kCounterRows),
                         rowName<CounterRow>);

// ---------------------------------------------------------------------------
// The console line of a measured load

struct PrintRow {
    int percent;
    const char* printed;
};

class TotalUsageLine : public ::testing::TestWithParam<PrintRow> {};

TEST_P(TotalUsageLine, IsRightAlignedInThreeColumns)
{
    kiv::test::LogCapture capture;
    kiv::printCpuTotalUsage(GetParam().percent);
    EXPECT_EQ(GetParam().printed, capture.console());
    EXPECT_TRUE(capture.lines().empty());  // standard output only, not the diagnostic log
}

INSTANTIATE_TEST_SUITE_P(Rows, TotalUsageLine,
                         ::testing::Values(PrintRow{0, "\n\nCPU Total usage:   0%\n"},
                                           PrintRow{7, "\n\nCPU Total usage:   7%\n"},
                                           PrintRow{45, "\n\nCPU Total usage:  45%\n"},
                                           PrintRow{100, "\n\nCPU Total usage: 100%\n"}));

// A counter that fails: its first line names the account, repeats are held,
// the end carries the count; at debug only the sampler's console lines say it.
TEST(CounterWarning, FirstFailureNamesTheAccountRepeatsAreHeldAndTheEndCounts)
{
    kiv::test::LogCapture capture;
    kiv::setLogLevel(kiv::LogLevel::info);
    kiv::CounterWarning warning;
    for (int i = 0; i < 3; ++i)
        warning.failed("PdhCollectQueryData", 0x800007D5u);
    warning.read();
    kiv::setLogLevel(kiv::LogLevel::debug);
    warning.failed("PdhCollectQueryData", 0x800007D5u);
    warning.read();
    const std::vector<std::string> lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("the first sample failed (PdhCollectQueryData failed [0x800007D5])"), std::string::npos);
    EXPECT_NE(lines[0].find("LocalService"), std::string::npos);
    EXPECT_EQ(capture.levelOf(lines[0]), kiv::LogLevel::warning);
    EXPECT_EQ(lines[1], "CPU counter read again after 3 failed tries\n");
}

}  // namespace

TEST(ReadingThrottle, ReusesAReadingOnlyWhileItIsYoungerThanTheMinimumSpan)
{
    using Clock = kiv::ReadingThrottle::Clock;
    const Clock::time_point start = Clock::now();
    kiv::ReadingThrottle throttle;
    EXPECT_FALSE(throttle.reuse(start).has_value()) << "nothing read yet";
    throttle.record(start, 42);
    EXPECT_EQ(42, throttle.reuse(start));
    EXPECT_EQ(42, throttle.reuse(start + kiv::kMinReadingSpan - std::chrono::milliseconds(1)));
    EXPECT_FALSE(throttle.reuse(start + kiv::kMinReadingSpan).has_value());
    throttle.record(start + kiv::kMinReadingSpan, 7);
    EXPECT_EQ(7, throttle.reuse(start + kiv::kMinReadingSpan + std::chrono::milliseconds(100)));
}
