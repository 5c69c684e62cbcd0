// Linux measures the total load from the kernel's cumulative CPU times.
#include "metrics/cpu_usage.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "metrics/cpu_stat.h"

namespace {

constexpr char kProcStatPath[] = "/proc/stat";
constexpr std::string_view kCpuLinePrefix = "cpu ";

std::optional<std::string> findCpuLine(std::string_view text)
{
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find('\n', position);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(position, end - position);
        if (line.substr(0, kCpuLinePrefix.size()) == kCpuLinePrefix)
            return std::string(line);
        position = end + 1;
    }
    return std::nullopt;
}

// Only the aggregate line is needed; it is the first one, but the search does
// not rely on that. The file stays open for the life of the process and each
// reading starts again at offset 0: the idle service reads it every second,
// and an open and close each time was most of what it costs at rest.
std::optional<std::string> readProcStatCpuLine()
{
    static const int fd = ::open(kProcStatPath, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buffer[4096];
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
        if (got > 0) {
            if (auto line = findCpuLine(std::string_view(buffer, static_cast<std::size_t>(got))))
                return line;
        }
    }
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
