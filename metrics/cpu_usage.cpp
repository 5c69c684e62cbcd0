#include "metrics/cpu_usage.h"

#include <cmath>
#include <mutex>
#include <utility>

#include "base/debug_log.h"

namespace {

// The one measurement of the process: whoever calls getCpuUsage, on whatever
// thread, goes through this lock, so the platform sampler's state is never
// touched by two callers at once.
struct SamplerSlot {
    std::mutex mutex;
    CpuUsage::Sampler sampler;  // empty: the platform measurement
    kiv::ReadingThrottle throttle;
};

SamplerSlot& samplerSlot()
{
    static SamplerSlot slot;
    return slot;
}

constexpr double kByteModulus = 256.0;
constexpr int kInt8Limit = 128;

}  // namespace

CpuUsage::CpuUsage()
{
    debugLog("==>  CpuUsage::CpuUsage\n");
    debugLog("<==  CpuUsage::CpuUsage\n");
}

CpuUsage::~CpuUsage()
{
    debugLog("<> CpuUsage::~CpuUsage\n");
}

int CpuUsage::getCpuUsage()
{
    SamplerSlot& slot = samplerSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    if (slot.sampler)
        return slot.sampler();
    const auto now = kiv::ReadingThrottle::Clock::now();
    if (const std::optional<int> last = slot.throttle.reuse(now))
        return *last;
    try {
        const int value = kiv::samplePlatformCpuUsage();
        slot.throttle.record(now, value);
        return value;
    } catch (...) {
        return 0;  // no value could be obtained
    }
}

void CpuUsage::setSampler(Sampler sampler)
{
    SamplerSlot& slot = samplerSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.sampler = std::move(sampler);
}

namespace kiv {

std::optional<int> ReadingThrottle::reuse(Clock::time_point now) const
{
    if (mHasReading && now - mTime < kMinReadingSpan)
        return mValue;
    return std::nullopt;
}

void ReadingThrottle::record(Clock::time_point now, int value)
{
    mHasReading = true;
    mTime = now;
    mValue = value;
}

std::int8_t cpuPercentFromCounterValue(double counterValue)
{
    if (!std::isfinite(counterValue))
        return 0;
    // Truncate toward zero, then keep the low eight bits as a two's
    // complement value, which is what narrowing to a signed byte does.
    const double truncated = std::trunc(counterValue);
    int lowByte = static_cast<int>(std::fmod(truncated, kByteModulus));  // -255..255
    if (lowByte < 0)
        lowByte += static_cast<int>(kByteModulus);
    if (lowByte >= kInt8Limit)
        lowByte -= static_cast<int>(kByteModulus);
    return static_cast<std::int8_t>(lowByte);
}

void CounterWarning::failed(const char* call, unsigned status)
{
    if (logLevel() == LogLevel::debug)
        return;
    const std::string reason = formatString("%s failed [0x%X]", call, status);
    const bool held = !mRule.failed(reason, RepeatedWarning::Clock::now());
    if (!held && !mEverRead && !mFirstSaid) {
        mFirstSaid = true;
        warningLog("*** CPU counter: the first sample failed (%s): the load reads 0 %% and no CPU alarm is raised; "
                   "the account the program runs as (the service's is LocalService) may lack the right to read "
                   "the counter\n",
                   reason.c_str());
        return;
    }
    logRepeat(LogLevel::warning, held, "*** CPU counter: %s: the load reads 0 %% and no CPU alarm is raised\n",
              reason.c_str());
}

void CounterWarning::read()
{
    mEverRead = true;
    if (!mRule.active())
        return;
    const unsigned tries = mRule.ended();
    if (tries > 0)
        infoLog("CPU counter read again after %u failed tries\n", tries);
}

void printCpuTotalUsage(int percent)
{
    consolePrintf("\n\nCPU Total usage: %3d%%\n", percent);
}

}  // namespace kiv
