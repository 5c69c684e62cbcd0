#include "metrics/cpu_stat.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <string_view>
#include <utility>

#include "metrics/cpu_usage.h"

namespace kiv {

namespace {

constexpr std::string_view kCpuLinePrefix = "cpu ";
constexpr std::size_t kRequiredFields = 4;  // user nice system idle
constexpr std::size_t kKnownFields = 10;    // ... through guest_nice
constexpr std::uint64_t kPercentScale = 100;
constexpr int kMaxPercent = 100;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// The text of the first line that begins with "cpu " (the aggregate over all
// processors; the per-processor lines are "cpu0", "cpu1", ...).
std::optional<std::string> findCpuLine(const std::string& text)
{
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = text.size();
        if (text.compare(lineStart, kCpuLinePrefix.size(), kCpuLinePrefix) == 0) {
            const std::size_t fieldsStart = lineStart + kCpuLinePrefix.size();
            return text.substr(fieldsStart, lineEnd - fieldsStart);  // the prefix holds no newline
        }
        lineStart = lineEnd + 1;
    }
    return std::nullopt;
}

}  // namespace

std::uint64_t idleTicks(const CpuTimes& times)
{
    return times.idle + times.iowait;
}

std::uint64_t busyTicks(const CpuTimes& times)
{
    return times.user + times.nice + times.system + times.irq + times.softirq + times.steal;
}

bool parseProcStatCpuLine(const std::string& procStatText, CpuTimes& out)
{
    const std::optional<std::string> line = findCpuLine(procStatText);
    if (!line)
        return false;

    std::array<std::uint64_t, kKnownFields> fields{};
    std::size_t count = 0;
    const char* p = line->data();
    const char* const end = p + line->size();
    while (true) {
        while (p != end && isBlank(*p))
            ++p;
        if (p == end || *p == '\r')
            break;
        std::uint64_t value = 0;
        const auto [next, error] = std::from_chars(p, end, value);
        if (error != std::errc() || (next != end && !isBlank(*next) && *next != '\r'))
            return false;  // not a plain decimal number, or one too large
        if (count < fields.size())
            fields[count] = value;
        ++count;  // fields a later kernel may add are read and ignored
        p = next;
    }
    if (count < kRequiredFields)
        return false;

    CpuTimes times;
    times.user = fields[0];
    times.nice = fields[1];
    times.system = fields[2];
    times.idle = fields[3];
    times.iowait = fields[4];
    times.irq = fields[5];
    times.softirq = fields[6];
    times.steal = fields[7];
    times.guest = fields[8];
    times.guestNice = fields[9];
    out = times;
    return true;
}

std::optional<int> cpuPercentBetween(const CpuTimes& previous, const CpuTimes& current)
{
    const std::uint64_t busyBefore = busyTicks(previous);
    const std::uint64_t busyNow = busyTicks(current);
    if (busyNow < busyBefore)
        return std::nullopt;
    const std::uint64_t busy = busyNow - busyBefore;
    // The kernel's idle and iowait sums can step back a little on tickless
    // systems; a step back counts as no idle time rather than as negative.
    const std::uint64_t idleBefore = idleTicks(previous);
    const std::uint64_t idleNow = idleTicks(current);
    const std::uint64_t idle = idleNow > idleBefore ? idleNow - idleBefore : 0;
    const std::uint64_t elapsed = busy + idle;
    if (elapsed == 0)
        return std::nullopt;
    // busy <= elapsed, so the quotient is at most 100; tick counts stay far
    // below the range where busy * 100 could overflow.
    const std::uint64_t percent = busy * kPercentScale / elapsed;
    return std::min(static_cast<int>(percent), kMaxPercent);
}

ProcStatCpuMeter::ProcStatCpuMeter(Reader reader)
    : mReader(std::move(reader))
{
}

ProcStatCpuMeter::~ProcStatCpuMeter() = default;

int ProcStatCpuMeter::sample()
{
    const std::optional<std::string> text = mReader ? mReader() : std::nullopt;
    CpuTimes current;
    if (!text || !parseProcStatCpuLine(*text, current))
        return 0;  // keep the previous reading: the next interval starts there

    const std::optional<CpuTimes> previous = std::exchange(mPrevious, current);
    if (!previous)
        return 0;  // first reading: nothing to compare with yet

    const std::optional<int> percent = cpuPercentBetween(*previous, current);
    if (!percent)
        return 0;
    printCpuTotalUsage(*percent);
    return *percent;
}

}  // namespace kiv
