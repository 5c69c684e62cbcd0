// Total processor load of the host in whole percent.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/repeated_warning.h"

class CpuUsage
{
public:
    CpuUsage();
    virtual ~CpuUsage();
    CpuUsage(const CpuUsage&) = delete;
    CpuUsage& operator=(const CpuUsage&) = delete;

    // One measurement shared by the whole process and serialised between
    // callers: the load since the previous reading, truncated to whole
    // percent; 0 on the first call and on every failure. A reading spans at
    // least kMinReadingSpan: calls sooner than that after the last reading
    // get its value again, so a burst of datagrams neither costs a reading
    // each nor shrinks the tick's window to a few clock ticks of noise.
    static int getCpuUsage();

    // Replaces the measurement (tests drive alarm sequences with it); an
    // empty sampler restores the platform's. The sampler runs under the
    // measurement's lock, so it must not call getCpuUsage or setSampler.
    using Sampler = std::function<int()>;
    static void setSampler(Sampler sampler);
};

namespace kiv {

constexpr std::chrono::milliseconds kMinReadingSpan{250};

// Decides when the platform is read again; the clock is the caller's.
class ReadingThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    // The last reading's value while it is younger than kMinReadingSpan.
    std::optional<int> reuse(Clock::time_point now) const;
    void record(Clock::time_point now, int value);

private:
    bool mHasReading = false;
    Clock::time_point mTime{};
    int mValue = 0;
};

// The warnings of a platform counter that fails (Windows' PDH): a station
// whose counter fails reads 0 % and never alarms, so this is said at the
// default level and in the Event Log, under the repeat rule. Above debug
// only: at debug the sampler's own console lines say it, as they always did.
// Used with the sampler's lock held.
class CounterWarning
{
public:
    // `call` failed with `status`. A failure before any reading worked
    // (the first sample) also says, once, that the account may lack the
    // right to read the counter.
    void failed(const char* call, unsigned status);
    // A reading worked: ends a failure that lasted, with its count.
    void read();

private:
    RepeatedWarning mRule;
    bool mEverRead = false;
    bool mFirstSaid = false;
};

// The platform measurement behind getCpuUsage (cpu_usage_linux.cpp /
// cpu_usage_windows.cpp); called with the sampler's lock held.
int samplePlatformCpuUsage();

// A formatted "% Processor Time" value as a whole percent: truncated toward
// zero and narrowed to a signed 8-bit integer (0 to 127 pass unchanged,
// larger values wrap as the 8-bit narrowing does). Not-a-number and
// infinities give 0.
std::int8_t cpuPercentFromCounterValue(double counterValue);

// The console line of a measured load, printed by the platform samplers
// whenever they obtained a value (not on the first call or a failure).
void printCpuTotalUsage(int percent);

}  // namespace kiv
