// Total processor load from the kernel's cumulative CPU times (/proc/stat):
// parsing the aggregate "cpu" line, the load between two readings, and the
// reading-to-reading sequence that the Linux sampler runs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kiv {

// The aggregate "cpu" line of /proc/stat, in USER_HZ ticks since boot.
// Kernels older than 2.6.33 print fewer fields; the missing ones stay 0.
struct CpuTimes {
    std::uint64_t user = 0;
    std::uint64_t nice = 0;
    std::uint64_t system = 0;
    std::uint64_t idle = 0;
    std::uint64_t iowait = 0;
    std::uint64_t irq = 0;
    std::uint64_t softirq = 0;
    std::uint64_t steal = 0;
    std::uint64_t guest = 0;      // already part of user
    std::uint64_t guestNice = 0;  // already part of nice
};

// Ticks the processors spent waiting: idle plus iowait.
std::uint64_t idleTicks(const CpuTimes& times);
// Ticks the processors spent working: user, nice, system, irq, softirq and
// steal. Guest time is not added again, the kernel counts it in user and nice.
std::uint64_t busyTicks(const CpuTimes& times);

// Finds the line that starts with "cpu " in a /proc/stat text and reads its
// counters. False (and out untouched) when there is no such line or it does
// not hold at least the four fields user, nice, system and idle as plain
// decimal numbers.
bool parseProcStatCpuLine(const std::string& procStatText, CpuTimes& out);

// The load between two readings in whole percent, truncated toward zero and
// within 0..100. No value when no tick has passed in between or when the
// busy time went backwards (the counters are not from the same boot).
std::optional<int> cpuPercentBetween(const CpuTimes& previous, const CpuTimes& current);

// The reading-to-reading sequence: each sample() covers the time since the
// previous successful reading. The first successful reading only primes it
// and gives 0; a failed reading, an unparsable text or an empty interval give
// 0 as well. A measured load is printed with printCpuTotalUsage. Not
// synchronised: its owner serialises the calls.
class ProcStatCpuMeter
{
public:
    // Produces the current /proc/stat text (the "cpu " line is enough), or
    // nothing when it cannot be read.
    using Reader = std::function<std::optional<std::string>()>;

    explicit ProcStatCpuMeter(Reader reader);
    virtual ~ProcStatCpuMeter();
    ProcStatCpuMeter(const ProcStatCpuMeter&) = delete;
    ProcStatCpuMeter& operator=(const ProcStatCpuMeter&) = delete;

    int sample();

private:
    Reader mReader;
    std::optional<CpuTimes> mPrevious;
};

}  // namespace kiv
