// Linux measures the total load from the kernel's cumulative CPU times.
#include "metrics/cpu_usage.h"

#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "metrics/cpu_stat.h"

namespace {

constexpr char kProcStatPath[] = "/proc/stat";
constexpr std::string_view kCpuLinePrefix = "cpu ";

// Only the aggregate line is needed; it is the first one, but the search does
// not rely on that.
std::optional<std::string> readProcStatCpuLine()
{
    std::ifstream in(kProcStatPath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, kCpuLinePrefix.size(), kCpuLinePrefix) == 0)
            return line;
    }
    return std::nullopt;
}

kiv::ProcStatCpuMeter& processMeter()
{
    static kiv::ProcStatCpuMeter meter(readProcStatCpuLine);
    return meter;
}

}  // namespace

namespace kiv {

int samplePlatformCpuUsage()
{
    return processMeter().sample();
}

}  // namespace kiv
