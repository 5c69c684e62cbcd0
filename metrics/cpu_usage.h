// Total processor load of the host in whole percent.
#pragma once

#include <cstdint>
#include <functional>

class CpuUsage
{
public:
    CpuUsage();
    virtual ~CpuUsage();
    CpuUsage(const CpuUsage&) = delete;
    CpuUsage& operator=(const CpuUsage&) = delete;

    // One measurement shared by the whole process and serialised between
    // callers: the load since the previous call by any caller, truncated to
    // whole percent; 0 on the first call and on every failure.
    static int getCpuUsage();

    // Replaces the measurement (tests drive alarm sequences with it); an
    // empty sampler restores the platform's. The sampler runs under the
    // measurement's lock, so it must not call getCpuUsage or setSampler.
    using Sampler = std::function<int()>;
    static void setSampler(Sampler sampler);
};

namespace kiv {

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
