#include "metrics/cpu_usage.h"

#include <cmath>
#include <mutex>
#include <utility>

#include "core/debug_log.h"

namespace {

// The one measurement of the process: whoever calls getCpuUsage, on whatever
// thread, goes through this lock, so the platform sampler's state is never
// touched by two callers at once.
struct SamplerSlot {
    std::mutex mutex;
    CpuUsage::Sampler sampler;  // empty: the platform measurement
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
    try {
        return kiv::samplePlatformCpuUsage();
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

void printCpuTotalUsage(int percent)
{
    consolePrintf("\n\nCPU Total usage: %3d%%\n", percent);
}

}  // namespace kiv
