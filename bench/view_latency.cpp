// An announcement's way to a viewer: sends beacon announcements to the
// group from one address and times each from the send to the moment a
// viewer (a ViewClient on the service's view socket) sees that beacon's
// message count change.
//
//   view_latency --view-socket PATH --from A.B.C.D [--to 224.2.2.224:34543]
//                [--samples N] [--spacing-ms MS] [--timeout-ms MS]
//
// One announcement first makes the beacon's slot; then N samples, one every
// --spacing-ms (default 300: more than the channel's 250 ms between flushes,
// so every sample finds the channel ready to send). A sample the viewer has
// not seen within --timeout-ms (default 2000) counts as lost. Prints one
// line: samples, lost, and the median, 90th and 99th percentile, mean and
// largest, in milliseconds, and how many took 50 ms or more (those that
// waited for the channel's next flush, another change having just gone).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include "bench_common.h"
#include "service/view_client.h"

namespace {

const char* const kAnnouncement =
    "<beacon><name>bench beacon</name><location>hall 1, line 2, cabinet 7</location>"
    "<pingTarget>10.1.2.1</pingTarget><pingTargetHealth>2</pingTargetHealth></beacon>";

// What the observer saw last of the sending beacon's slot.
struct Seen {
    std::mutex mutex;
    std::condition_variable changed;
    bool present = false;
    std::int32_t count = 0;
    std::int64_t atNs = 0;  // when the count last changed
};

}  // namespace

int main(int argc, char** argv)
{
    std::string socketPath;
    std::string from;
    std::string to = "224.2.2.224:34543";
    long samples = 100;
    long spacingMs = 300;
    long timeoutMs = 2000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--view-socket")
            socketPath = bench::optionValue(arg, i, argc, argv);
        else if (arg == "--from")
            from = bench::optionValue(arg, i, argc, argv);
        else if (arg == "--to")
            to = bench::optionValue(arg, i, argc, argv);
        else if (arg == "--samples")
            samples = bench::parseLong(arg, bench::optionValue(arg, i, argc, argv));
        else if (arg == "--spacing-ms")
            spacingMs = bench::parseLong(arg, bench::optionValue(arg, i, argc, argv));
        else if (arg == "--timeout-ms")
            timeoutMs = bench::parseLong(arg, bench::optionValue(arg, i, argc, argv));
        else
            bench::fail("usage: view_latency --view-socket PATH --from A.B.C.D [--to GROUP:PORT] [--samples N] "
                        "[--spacing-ms MS] [--timeout-ms MS]");
    }
    if (socketPath.empty() || from.empty() || samples < 1 || samples > 100000 || spacingMs < 1 ||
        spacingMs > 60000 || timeoutMs < 1 || timeoutMs > 60000)
        bench::fail("view_latency: --view-socket and --from are needed; an option is out of range");

    const sockaddr_in local = bench::parseAddress(from);
    const sockaddr_in group = bench::parseEndpoint(to);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        bench::fail(std::string("view_latency: socket: ") + std::strerror(errno));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        bench::fail("view_latency: bind " + from + ": " + std::strerror(errno));
    const int ttl = 1;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
    if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr) != 0)
        bench::fail("view_latency: IP_MULTICAST_IF " + from + ": " + std::strerror(errno));

    Seen seen;
    kiv::ViewClient client(socketPath);
    client.setObserver([&client, &seen, &from] {
        const std::int64_t now = bench::nowNs();
        const kiv::view::ViewState state = client.state();
        for (const kiv::view::SlotState& slot : state.slots) {
            if (slot.address != from)
                continue;
            std::lock_guard<std::mutex> lock(seen.mutex);
            if (!seen.present || slot.messageCount != seen.count) {
                seen.present = true;
                seen.count = slot.messageCount;
                seen.atNs = now;
                seen.changed.notify_all();
            }
            return;
        }
    });
    client.start();
    if (client.waitForFirstAnswer(std::chrono::seconds(10)) != kiv::ViewLink::connected)
        bench::fail("view_latency: not connected: " + client.problem());

    const std::string announcement = kAnnouncement;
    auto send = [&] {
        const ssize_t sent = sendto(fd, announcement.data(), announcement.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&group), sizeof group);
        if (sent != static_cast<ssize_t>(announcement.size()))
            bench::fail(std::string("view_latency: sendto: ") + std::strerror(errno));
    };

    // The slot first: a few tries, a second apart.
    bool present = false;
    for (int attempt = 0; attempt < 5 && !present; ++attempt) {
        send();
        std::unique_lock<std::mutex> lock(seen.mutex);
        present = seen.changed.wait_for(lock, std::chrono::seconds(1), [&] { return seen.present; });
    }
    if (!present)
        bench::fail("view_latency: the viewer never saw the beacon " + from);

    std::vector<std::uint32_t> micros;
    long lost = 0;
    std::int64_t next = bench::nowNs() + spacingMs * 1000000;
    for (long i = 0; i < samples; ++i) {
        bench::sleepUntil(next);
        next += spacingMs * 1000000;
        std::int32_t before = 0;
        {
            std::lock_guard<std::mutex> lock(seen.mutex);
            before = seen.count;
        }
        const std::int64_t sentAt = bench::nowNs();
        send();
        std::unique_lock<std::mutex> lock(seen.mutex);
        if (seen.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return seen.count != before; }))
            micros.push_back(static_cast<std::uint32_t>(std::max<std::int64_t>(0, seen.atNs - sentAt) / 1000));
        else
            ++lost;
        // A late sample must not push the next one into the channel's pause.
        const std::int64_t now = bench::nowNs();
        if (next < now + spacingMs * 1000000 / 2)
            next = now + spacingMs * 1000000;
    }
    close(fd);

    const double mean =
        micros.empty() ? 0.0
                       : std::accumulate(micros.begin(), micros.end(), 0.0) / static_cast<double>(micros.size());
    const double largest = micros.empty() ? 0.0 : *std::max_element(micros.begin(), micros.end());
    const double p50 = bench::percentile(micros, 0.50);
    const double p90 = bench::percentile(micros, 0.90);
    const double p99 = bench::percentile(micros, 0.99);
    const auto waited = std::count_if(micros.begin(), micros.end(), [](std::uint32_t us) { return us >= 50000; });
    std::printf("latency samples=%ld seen=%zu lost=%ld p50_ms=%.2f p90_ms=%.2f p99_ms=%.2f mean_ms=%.2f max_ms=%.2f "
                "over_50ms=%ld\n",
                samples, micros.size(), lost, p50 / 1000, p90 / 1000, p99 / 1000, mean / 1000, largest / 1000,
                static_cast<long>(waited));
    return lost == static_cast<long>(samples) ? 1 : 0;
}
