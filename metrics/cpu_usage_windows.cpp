// Windows measures the total load with the Performance Data Helper counter
// "\Processor(_Total)\% Processor Time": one query for the whole process,
// opened on the first call and kept open until the process ends.
#include "metrics/cpu_usage.h"

#include <windows.h>

#include <pdh.h>
#include <pdhmsg.h>

#include "base/debug_log.h"

namespace {

// English counter path, not a localised one.
constexpr wchar_t kTotalProcessorTimePath[] = L"\\Processor(_Total)\\% Processor Time";

// A double without the 100 cap.
constexpr DWORD kCounterFormat = PDH_FMT_DOUBLE | PDH_FMT_NOCAP100;
static_assert(kCounterFormat == 0x8200, "double value, not capped at 100");

// Everything the sampler keeps between calls. getCpuUsage holds its lock
// around every call, so this needs none of its own.
struct PdhSampler {
    bool firstCall = true;
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER counter = nullptr;
    PDH_STATUS status = ERROR_SUCCESS;
    DWORD counterType = 0;
    PDH_FMT_COUNTERVALUE value{};
    kiv::CounterWarning warning;
};

PdhSampler& pdhSampler()
{
    static PdhSampler sampler;
    return sampler;
}

unsigned statusBits(PDH_STATUS status)
{
    return static_cast<unsigned>(static_cast<DWORD>(status));
}

// Opens the query and primes the counter: a rate counter yields a value
// only from the second collection on.
int openAndPrime(PdhSampler& s)
{
    s.status = PdhOpenQueryW(nullptr, 0, &s.query);
    if (s.status != ERROR_SUCCESS) {
        kiv::consolePrintf("PdhOpenQuery() ***Error: 0x%X\n", statusBits(s.status));
        s.warning.failed("PdhOpenQuery", statusBits(s.status));
        return 0;  // still the first call next time: the open is tried again
    }
    // A failed add has no console line of its own (every later format call
    // then fails); above debug it is the warning that names the cause.
    const PDH_STATUS added = PdhAddCounterW(s.query, kTotalProcessorTimePath, 0, &s.counter);
    if (added != ERROR_SUCCESS)
        s.warning.failed("PdhAddCounter", statusBits(added));
    s.firstCall = false;
    PdhCollectQueryData(s.query);
    return 0;
}

int collectAndRead(PdhSampler& s)
{
    s.status = PdhCollectQueryData(s.query);
    if (s.status != ERROR_SUCCESS) {
        kiv::consolePrintf("PhdCollectQueryData() ***Error: 0x%X\n", statusBits(s.status));
        s.warning.failed("PdhCollectQueryData", statusBits(s.status));
        switch (static_cast<DWORD>(s.status)) {
        case PDH_INVALID_HANDLE:
            kiv::consolePrintf("PDH_INVALID_HANDLE\n");
            break;
        case PDH_NO_DATA:
            kiv::consolePrintf("PDH_NO_DATA\n");
            break;
        default:
            kiv::consolePrintf("Unknown error\n");
            break;
        }
        return 0;
    }

    s.status = PdhGetFormattedCounterValue(s.counter, kCounterFormat, &s.counterType, &s.value);
    if (s.status != ERROR_SUCCESS) {
        kiv::consolePrintf("PdhGetFormattedCounterValue() ***Error: 0x%X\n", statusBits(s.status));
        s.warning.failed("PdhGetFormattedCounterValue", statusBits(s.status));
        return 0;
    }
    s.warning.read();

    const int percent = kiv::cpuPercentFromCounterValue(s.value.doubleValue);
    kiv::printCpuTotalUsage(percent);
    return percent;
}

}  // namespace

namespace kiv {

int samplePlatformCpuUsage()
{
    PdhSampler& s = pdhSampler();
    return s.firstCall ? openAndPrime(s) : collectAndRead(s);
}

}  // namespace kiv
