// CPU arithmetic from recorded /proc/stat samples: the first reading primes,
// failed readings give 0 and do not move the interval's start.

#include "metrics/cpu_stat.h"

#include <deque>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "row_name.h"
#include "support/log_capture.h"

namespace {

using kiv::CpuTimes;
using kiv::test::rowName;

// Recorded /proc/stat texts of a two-processor host. Each later one is the
// first plus one second of ticks (2 CPUs x 100 Hz x 5 s = 1000 ticks).
const std::string kIdleHost =
    "cpu  4202 0 3175 55284 594 0 150 404 0 0\n"
    "cpu0 1598 0 1194 28870 22 0 7 148 0 0\n"
    "cpu1 2604 0 1981 26413 571 0 142 255 0 0\n"
    "intr 214174 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 0 0 0 0 64 60\n"
    "ctxt 444277\n"
    "btime 1733720000\n"
    "processes 2231\n"
    "procs_running 1\n"
    "procs_blocked 0\n"
    "softirq 99123 0 31000 12 8000 0 0 1200 30000 0 28911\n";

// +300 user, +100 system, +500 idle, +50 iowait, +10 softirq, +40 steal:
// 450 of 1000 ticks busy.
const std::string kBusyHost =
    "cpu  4502 0 3275 55784 644 0 160 444 0 0\n"
    "cpu0 1748 0 1244 29120 47 0 12 168 0 0\n"
    "cpu1 2754 0 2031 26663 596 0 147 275 0 0\n"
    "intr 219311 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1 1 1 0 0 0 0 64 60\n"
    "ctxt 451020\n"
    "btime 1733720000\n"
    "processes 2240\n"
    "procs_running 2\n"
    "procs_blocked 0\n"
    "softirq 99870 0 31200 12 8100 0 0 1230 30400 0 28928\n";

// From kIdleHost: +100 user, +50 system, +200 idle, +650 iowait: a host
// waiting on its disk is 15 % busy, not 80 %.
const std::string kDiskBoundHost =
    "cpu  4302 0 3225 55484 1244 0 150 404 0 0\n"
    "cpu0 1648 0 1219 28970 347 0 7 148 0 0\n"
    "cpu1 2654 0 2006 26513 896 0 142 255 0 0\n"
    "procs_blocked 3\n";

// A virtualisation host: guest time is already inside user (and guest_nice
// inside nice). +600 user of which 500 guest, +400 idle: 60 %.
const std::string kGuestBefore =
    "cpu  10000 200 3000 80000 100 0 50 0 1500 100\n"
    "cpu0 5000 100 1500 40000 50 0 25 0 750 50\n"
    "cpu1 5000 100 1500 40000 50 0 25 0 750 50\n";
const std::string kGuestAfter =
    "cpu  10600 200 3000 80400 100 0 50 0 2000 100\n"
    "cpu0 5300 100 1500 40200 50 0 25 0 1000 50\n"
    "cpu1 5300 100 1500 40200 50 0 25 0 1000 50\n";
// +300 nice of which 300 guest_nice, +700 idle: 30 %.
const std::string kGuestNiceAfter =
    "cpu  10000 500 3000 80700 100 0 50 0 1500 400\n"
    "cpu0 5000 250 1500 40350 50 0 25 0 750 200\n"
    "cpu1 5000 250 1500 40350 50 0 25 0 750 200\n";

// ---------------------------------------------------------------------------
// Parsing the aggregate line

struct ParseRow {
    const char* name;
    std::string text;
    bool parses;
    CpuTimes expected;  // when it parses
};

std::ostream& operator<<(std::ostream& os, const ParseRow& row)
{
    return os << row.name;
}

CpuTimes times(std::uint64_t user, std::uint64_t nice, std::uint64_t system, std::uint64_t idle,
               std::uint64_t iowait = 0, std::uint64_t irq = 0, std::uint64_t softirq = 0,
               std::uint64_t steal = 0, std::uint64_t guest = 0, std::uint64_t guestNice = 0)
{
    CpuTimes t;
    t.user = user;
    t.nice = nice;
    t.system = system;
    t.idle = idle;
    t.iowait = iowait;
    t.irq = irq;
    t.softirq = softirq;
    t.steal = steal;
    t.guest = guest;
    t.guestNice = guestNice;
    return t;
}

void expectSameTimes(const CpuTimes& expected, const CpuTimes& actual)
{
    EXPECT_EQ(expected.user, actual.user);
    EXPECT_EQ(expected.nice, actual.nice);
    EXPECT_EQ(expected.system, actual.system);
    EXPECT_EQ(expected.idle, actual.idle);
    EXPECT_EQ(expected.iowait, actual.iowait);
    EXPECT_EQ(expected.irq, actual.irq);
    EXPECT_EQ(expected.softirq, actual.softirq);
    EXPECT_EQ(expected.steal, actual.steal);
    EXPECT_EQ(expected.guest, actual.guest);
    EXPECT_EQ(expected.guestNice, actual.guestNice);
}

class ParseProcStat : public ::testing::TestWithParam<ParseRow> {};

TEST_P(ParseProcStat, ReadsTheAggregateLine)
{
    const ParseRow& row = GetParam();
    const CpuTimes untouched = times(7, 7, 7, 7, 7, 7, 7, 7, 7, 7);
    CpuTimes out = untouched;
    ASSERT_EQ(row.parses, kiv::parseProcStatCpuLine(row.text, out));
    expectSameTimes(row.parses ? row.expected : untouched, out);
}

const ParseRow kParseRows[] = {
    {"RecordedTenFields", kIdleHost, true, times(4202, 0, 3175, 55284, 594, 0, 150, 404, 0, 0)},
    {"GuestFields", kGuestBefore, true, times(10000, 200, 3000, 80000, 100, 0, 50, 0, 1500, 100)},
    {"Kernel2_6_24NineFields", "cpu  5 6 7 8 9 10 11 12 13\n", true, times(5, 6, 7, 8, 9, 10, 11, 12, 13, 0)},
    {"Kernel2_4FourFields", "cpu  100 0 50 850\ncpu0 100 0 50 850\n", true, times(100, 0, 50, 850)},
    {"LaterKernelExtraFieldIgnored", "cpu  1 2 3 4 5 6 7 8 9 10 11\n", true, times(1, 2, 3, 4, 5, 6, 7, 8, 9, 10)},
    {"NoTrailingNewline", "cpu  1 2 3 4 5 6 7 8 0 0", true, times(1, 2, 3, 4, 5, 6, 7, 8)},
    {"AggregateAfterPerCpuLines", "cpu0 9 9 9 9\ncpu1 9 9 9 9\ncpu  1 2 3 4\n", true, times(1, 2, 3, 4)},
    {"LargestCounter", "cpu  18446744073709551615 0 0 1\n", true, times(18446744073709551615ULL, 0, 0, 1)},
    {"EmptyText", "", false, {}},
    {"OnlyPerCpuLines", "cpu0 1 2 3 4\ncpu1 1 2 3 4\n", false, {}},
    {"CpuWordWithoutFields", "cpu\nintr 5\n", false, {}},
    {"ThreeFields", "cpu  1 2 3\n", false, {}},
    {"LetterInField", "cpu  4202 0 3l75 55284 594 0 150 404 0 0\n", false, {}},
    {"NegativeField", "cpu  4202 0 -3175 55284\n", false, {}},
    {"PlusSign", "cpu  +4202 0 3175 55284\n", false, {}},
    {"CounterBeyond64Bits", "cpu  18446744073709551616 0 0 1\n", false, {}},
    {"IndentedLineIsNotTheAggregate", " cpu  1 2 3 4\n", false, {}},
    {"TruncatedRead", "cpu  4202 0 31", false, {}},
};

INSTANTIATE_TEST_SUITE_P(Rows, ParseProcStat, ::testing::ValuesIn(kParseRows),
                         rowName<ParseRow>);

// ---------------------------------------------------------------------------
// Load between two readings

struct IntervalRow {
    const char* name;
    std::string before;
    std::string after;
    std::optional<int> percent;
};

std::ostream& operator<<(std::ostream& os, const IntervalRow& row)
{
    return os << row.name;
}

class CpuPercentBetween : public ::testing::TestWithParam<IntervalRow> {};

TEST_P(CpuPercentBetween, MeasuresBusyShareOfTheInterval)
{
    const IntervalRow& row = GetParam();
    CpuTimes before;
    CpuTimes after;
    ASSERT_TRUE(kiv::parseProcStatCpuLine(row.before, before));
    ASSERT_TRUE(kiv::parseProcStatCpuLine(row.after, after));
    EXPECT_EQ(row.percent, kiv::cpuPercentBetween(before, after));
}

const IntervalRow kIntervalRows[] = {
    {"StealAndSoftirqAreBusy", kIdleHost, kBusyHost, 45},
    {"IowaitIsNotBusy", kIdleHost, kDiskBoundHost, 15},
    {"GuestNotCountedTwice", kGuestBefore, kGuestAfter, 60},
    {"GuestNiceNotCountedTwice", kGuestBefore, kGuestNiceAfter, 30},
    {"TruncatedNotRounded", "cpu  0 0 0 0 0 0 0 0 0 0", "cpu  379 0 0 621 0 0 0 0 0 0", 37},
    {"JustBelowFull", "cpu  0 0 0 0", "cpu  9999 0 0 1", 99},
    {"FullyBusy", "cpu  100 0 50 850 5", "cpu  600 100 300 850 5", 100},
    {"FullyIdle", "cpu  100 0 50 850 5", "cpu  100 0 50 1850 5", 0},
    {"IrqAndNiceAreBusy", "cpu  0 0 0 0 0 0 0", "cpu  0 100 0 700 0 200 0", 30},
    {"FourFieldKernel", "cpu  100 0 50 850", "cpu  200 0 100 1700", 15},
    {"IowaitSteppingBackCountsAsNoIdle", "cpu  100 0 0 1000 50", "cpu  200 0 0 1000 40", 100},
    {"NoTickPassed", kBusyHost, kBusyHost, std::nullopt},
    {"CountersWentBack", kBusyHost, kIdleHost, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Rows, CpuPercentBetween, ::testing::ValuesIn(kIntervalRows),
                         rowName<IntervalRow>);

// ---------------------------------------------------------------------------
// The reading-to-reading sequence

// Hands out queued readings, one per sample() call; nothing once they run out.
class RecordedReadings
{
public:
    void push(std::optional<std::string> reading) { mQueue.push_back(std::move(reading)); }

    kiv::ProcStatCpuMeter::Reader reader()
    {
        return [this]() -> std::optional<std::string> {
            ++mReads;
            if (mQueue.empty())
                return std::nullopt;
            std::optional<std::string> next = std::move(mQueue.front());
            mQueue.pop_front();
            return next;
        };
    }

    int reads() const { return mReads; }

private:
    std::deque<std::optional<std::string>> mQueue;
    int mReads = 0;
};

struct Step {
    const char* what;
    std::optional<std::string> reading;  // nothing: the read fails
    int expected;
    const char* printed;  // the console text this step adds
};

void runSteps(const std::vector<Step>& steps)
{
    kiv::test::LogCapture capture;
    RecordedReadings readings;
    for (const Step& step : steps)
        readings.push(step.reading);
    kiv::ProcStatCpuMeter meter(readings.reader());

    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        capture.clear();
        EXPECT_EQ(step.expected, meter.sample());
        EXPECT_EQ(step.printed, capture.console());
    }
    EXPECT_EQ(static_cast<int>(steps.size()), readings.reads());
}

TEST(ProcStatCpuMeter, FirstReadingPrimesThenEachCallCoversTheTimeSinceThePrevious)
{
    runSteps({
        {"first reading gives 0 and prints nothing", kIdleHost, 0, ""},
        {"second reading gives the load since the first", kBusyHost, 45, "\n\nCPU Total usage:  45%\n"},
        {"no tick since the previous call", kBusyHost, 0, ""},
        {"back to the idle counters: not one boot", kIdleHost, 0, ""},
        {"from there on it measures again", kDiskBoundHost, 15, "\n\nCPU Total usage:  15%\n"},
    });
}

TEST(ProcStatCpuMeter, FailedReadingsGiveZeroAndTheNextIntervalStartsAtTheLastGoodReading)
{
    runSteps({
        {"first reading", kIdleHost, 0, ""},
        {"file cannot be read", std::nullopt, 0, ""},
        {"text is not a /proc/stat text", std::string("cpu  garbage\n"), 0, ""},
        {"measured from the first reading", kBusyHost, 45, "\n\nCPU Total usage:  45%\n"},
    });
}

TEST(ProcStatCpuMeter, AFailedFirstReadingDoesNotCountAsTheFirstCall)
{
    runSteps({
        {"read fails", std::nullopt, 0, ""},
        {"first good reading still only primes", kGuestBefore, 0, ""},
        {"then a value", kGuestAfter, 60, "\n\nCPU Total usage:  60%\n"},
    });
}

TEST(ProcStatCpuMeter, FullLoadPrintsThreeDigits)
{
    runSteps({
        {"first reading", std::string("cpu  100 0 50 850 5\n"), 0, ""},
        {"fully busy", std::string("cpu  600 100 300 850 5\n"), 100, "\n\nCPU Total usage: 100%\n"},
    });
}

TEST(ProcStatCpuMeter, WithoutReaderEveryCallGivesZero)
{
    kiv::test::LogCapture capture;
    kiv::ProcStatCpuMeter meter(nullptr);
    EXPECT_EQ(0, meter.sample());
    EXPECT_EQ(0, meter.sample());
    EXPECT_EQ("", capture.console());
}

}  // namespace
