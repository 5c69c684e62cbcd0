// The figures of one window of a bench/fleet.sh run, from the files of the
// server stand-ins (fleet_server): how the datagrams of one kind arrived (the
// first of each pair of station and server address in the window: the one
// the configuration made due, or one round of keep-alives), and how many the
// other stand-ins lost meanwhile.
//
//   fleet_figures --record FILE --from NS --to NS --kind KIND [--period-s P]
//                 [--reader NAME FILE FINAL_DROPS]...
//
// --record is the stand-in that lost nothing (its arrival times are the
// figures); each --reader is one that read with the default buffer, with the
// drop count it ended with. Prints one line:
//   window kind=K count=N first_ms=F span_ms=S max10ms=A max1s=B
//          [round_ms=R] [lost_NAME=L]...
// first_ms: the first arrival after --from; span_ms: first to last; max10ms
// and max1s: the most arrivals in any 10 ms and in any second; round_ms (with
// --period-s): the shortest part of the period that holds every arrival's
// phase (period − the longest gap between phases, taken round the circle);
// lost_NAME: datagrams of any kind that reader's socket dropped in the window.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

struct Line {
    std::int64_t arrivalNs = 0;
    std::string kind;
    std::string pair;  // SOURCE>DESTINATION
    std::uint32_t drops = 0;
};

std::vector<Line> readFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        bench::fail("fleet_figures: cannot read " + path);
    std::vector<Line> lines;
    std::string text;
    while (std::getline(in, text)) {
        std::istringstream fields(text);
        Line line;
        if (fields >> line.arrivalNs >> line.kind >> line.pair >> line.drops)
            lines.push_back(line);
    }
    return lines;
}

// The most arrivals within any stretch of `widthNs` (sorted input).
long mostWithin(const std::vector<std::int64_t>& arrivals, std::int64_t widthNs)
{
    long most = 0;
    std::size_t first = 0;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        while (arrivals[i] - arrivals[first] >= widthNs)
            ++first;
        most = std::max(most, static_cast<long>(i - first + 1));
    }
    return most;
}

// Drops the reader's socket counted between `fromNs` and `toNs`: the count
// carried by the first datagram queued at or after each end (the final count
// when none came after it). Datagrams are read in the order they were queued.
long dropsBetween(const std::vector<Line>& lines, std::uint32_t finalDrops, std::int64_t fromNs, std::int64_t toNs)
{
    auto countAt = [&](std::int64_t ns) -> std::uint32_t {
        for (const Line& line : lines) {
            if (line.arrivalNs >= ns)
                return line.drops;
        }
        return finalDrops;
    };
    return static_cast<long>(countAt(toNs)) - static_cast<long>(countAt(fromNs));
}

}  // namespace

int main(int argc, char** argv)
{
    std::string recordPath;
    std::string kind;
    std::int64_t fromNs = 0;
    std::int64_t toNs = 0;
    double periodS = 0;
    struct Reader {
        std::string name;
        std::string path;
        long finalDrops;
    };
    std::vector<Reader> readers;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return bench::optionValue(arg, i, argc, argv); };
        if (arg == "--record") {
            recordPath = next();
        } else if (arg == "--from") {
            fromNs = bench::parseLong(arg, next());
        } else if (arg == "--to") {
            toNs = bench::parseLong(arg, next());
        } else if (arg == "--kind") {
            kind = next();
        } else if (arg == "--period-s") {
            periodS = bench::parseDouble(arg, next());
        } else if (arg == "--reader") {
            Reader reader;
            reader.name = next();
            reader.path = next();
            reader.finalDrops = bench::parseLong(arg, next());
            readers.push_back(reader);
        } else {
            bench::fail("usage: fleet_figures --record FILE --from NS --to NS --kind KIND [--period-s P] "
                        "[--reader NAME FILE FINAL_DROPS]...");
        }
    }
    if (recordPath.empty() || kind.empty() || toNs <= fromNs || periodS < 0)
        bench::fail("fleet_figures: --record, --kind and a window --from < --to are needed");

    std::vector<Line> record = readFile(recordPath);
    std::sort(record.begin(), record.end(),
              [](const Line& a, const Line& b) { return a.arrivalNs < b.arrivalNs; });
    std::vector<std::int64_t> arrivals;
    std::set<std::string> pairs;
    for (const Line& line : record) {
        if (line.kind == kind && line.arrivalNs >= fromNs && line.arrivalNs < toNs && pairs.insert(line.pair).second)
            arrivals.push_back(line.arrivalNs);
    }

    std::string text = "window kind=" + kind + " count=" + std::to_string(arrivals.size());
    auto ms = [](std::int64_t ns) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.1f", static_cast<double>(ns) / 1e6);
        return std::string(buffer);
    };
    if (arrivals.empty()) {
        text += " first_ms=- span_ms=- max10ms=0 max1s=0";
    } else {
        text += " first_ms=" + ms(arrivals.front() - fromNs) + " span_ms=" + ms(arrivals.back() - arrivals.front()) +
                " max10ms=" + std::to_string(mostWithin(arrivals, 10000000)) +
                " max1s=" + std::to_string(mostWithin(arrivals, 1000000000));
    }
    if (periodS > 0) {
        const auto period = static_cast<std::int64_t>(periodS * 1e9);
        std::vector<std::int64_t> phases;
        for (std::int64_t a : arrivals)
            phases.push_back(a % period);
        std::sort(phases.begin(), phases.end());
        std::int64_t longestGap = 0;
        for (std::size_t i = 0; i < phases.size(); ++i) {
            const std::int64_t gap =
                i + 1 < phases.size() ? phases[i + 1] - phases[i] : phases.front() + period - phases.back();
            longestGap = std::max(longestGap, gap);
        }
        text += " round_ms=" + (phases.empty() ? std::string("-") : ms(period - longestGap));
    }
    for (const Reader& reader : readers) {
        const long lost =
            dropsBetween(readFile(reader.path), static_cast<std::uint32_t>(reader.finalDrops), fromNs, toNs);
        text += " lost_" + reader.name + "=" + std::to_string(lost);
    }
    std::printf("%s\n", text.c_str());
    return 0;
}
