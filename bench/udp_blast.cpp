// Sends one fixed datagram at a steady rate for a bounded time, in turn from
// each of several local addresses, the way a few beacons announce on the
// group. Datagrams are paced to their own due times (at most 8 that fell due
// together leave in one call, never a catch-up burst), so a receiver that
// keeps up on average loses nothing.
//
//   udp_blast --to GROUP_OR_ADDR:PORT --from ADDR [--from ADDR]...
//             (--text T | --hex H) --rate PER_S --seconds T [--count-replies]
//
// Prints one line:
//   blast to=... sent=N seconds=T rate=R errors=N late_max_us=L restarts=N
// where rate is what was actually offered, late_max_us the worst delay of a
// datagram behind its schedule and restarts how often the schedule was
// restarted after the sender had been held up for more than a millisecond.
// With --count-replies each source also reads what comes back to it (during
// the blast and until 300 ms without any), and the line goes on with
//   request_bytes=Q replies=N reply_bytes=B
// so that B / Q is the traffic the target sends back per byte it was sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

constexpr double kMaxSeconds = 60.0;
constexpr double kMaxRate = 2000000.0;

void usage()
{
    std::fprintf(stderr,
                 "usage: udp_blast --to ADDR:PORT --from ADDR [--from ADDR]... (--text T | --hex H)\n"
                 "                 --rate PER_S --seconds T [--count-replies]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv)
{
    sockaddr_in to{};
    std::string toText;
    std::vector<std::string> froms;
    std::string payload;
    bool snmp = false;
    bool havePayload = false;
    double rate = 0;
    double seconds = 0;
    bool countReplies = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return bench::optionValue(arg, i, argc, argv); };
        if (bench::takeRequestOption(arg, i, argc, argv, payload, snmp)) {
            havePayload = true;
        } else if (arg == "--to") {
            toText = next();
            to = bench::parseEndpoint(toText);
        } else if (arg == "--from") {
            froms.push_back(next());
        } else if (arg == "--rate") {
            rate = bench::parseDouble(arg, next());
        } else if (arg == "--seconds") {
            seconds = bench::parseDouble(arg, next());
        } else if (arg == "--count-replies") {
            countReplies = true;
        } else {
            usage();
        }
    }
    if (toText.empty() || froms.empty() || !havePayload)
        usage();
    if (rate <= 0 || rate > kMaxRate)
        bench::fail("--rate must be above 0 and at most 2,000,000");
    if (seconds <= 0 || seconds > kMaxSeconds)
        bench::fail("--seconds must be above 0 and at most 60");

    // Wake from the pacing sleep on time.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    const bool multicast = IN_MULTICAST(ntohl(to.sin_addr.s_addr));
    std::vector<int> fds;
    for (const std::string& from : froms) {
        const sockaddr_in local = bench::parseAddress(from);
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            bench::fail(std::string("socket: ") + std::strerror(errno));
        if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
            bench::fail("bind " + from + ": " + std::strerror(errno));
        if (multicast) {
            const unsigned char ttl = 1;
            setsockopt(fd, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl);
            if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr, sizeof local.sin_addr) != 0)
                bench::fail("IP_MULTICAST_IF " + from + ": " + std::strerror(errno));
        }
        // Enough send buffer that pacing, not the socket, sets the rate.
        const int sndbuf = 4 * 1024 * 1024;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
        if (countReplies)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &sndbuf, sizeof sndbuf);
        fds.push_back(fd);
    }

    long replies = 0;
    long replyBytes = 0;
    // Reads whatever has come back to `fd`, without waiting.
    auto readReplies = [&](int fd) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0)
                return;
            ++replies;
            replyBytes += n;
        }
    };

    // Datagrams that have fallen due together (the sender cannot keep each
    // one's own microsecond) go out in one sendmmsg call of at most
    // kMaxBatch, from one source address; the sources take turns by batch.
    // When the sender itself is held up (another process on its CPU) it does
    // not catch up with a burst, which would overflow a receiver that keeps
    // up with the steady rate: the schedule restarts from now instead, and
    // the rate printed is what was really offered.
    constexpr std::int64_t kMaxLateNs = 1000000;
    constexpr unsigned kMaxBatch = 8;
    iovec data{const_cast<char*>(payload.data()), payload.size()};
    mmsghdr messages[kMaxBatch] = {};
    for (mmsghdr& m : messages) {
        m.msg_hdr.msg_name = &to;
        m.msg_hdr.msg_namelen = sizeof to;
        m.msg_hdr.msg_iov = &data;
        m.msg_hdr.msg_iovlen = 1;
    }

    const auto total = static_cast<long>(rate * seconds);
    const double intervalNs = 1e9 / rate;
    long sent = 0;
    long errors = 0;
    long restarts = 0;
    long batches = 0;
    std::int64_t lateMaxNs = 0;
    const std::int64_t start = bench::nowNs() + 1000000;
    const std::int64_t end = start + static_cast<std::int64_t>(seconds * 1e9);
    std::int64_t anchor = start;
    long anchorIndex = 0;
    auto dueOf = [&](long n) {
        return anchor + static_cast<std::int64_t>(static_cast<double>(n - anchorIndex) * intervalNs);
    };
    long n = 0;
    while (n < total) {
        const std::int64_t due = dueOf(n);
        if (due >= end)
            break;
        bench::sleepUntil(due);
        const std::int64_t now = bench::nowNs();
        lateMaxNs = std::max(lateMaxNs, now - due);
        if (now - due > kMaxLateNs) {
            anchor = now;
            anchorIndex = n;
            ++restarts;
        }
        unsigned batch = 1;
        while (batch < kMaxBatch && n + static_cast<long>(batch) < total && dueOf(n + static_cast<long>(batch)) <= now)
            ++batch;
        const int fd = fds[static_cast<std::size_t>(batches++) % fds.size()];
        const int done = sendmmsg(fd, messages, batch, 0);
        const long ok = done < 0 ? 0 : done;
        sent += ok;
        errors += static_cast<long>(batch) - ok;
        n += static_cast<long>(batch);
        if (countReplies)
            readReplies(fd);
    }
    const double elapsed = static_cast<double>(bench::nowNs() - start) / 1e9;
    if (countReplies) {
        // The late replies, until none has come for 300 ms (at most 5 s).
        std::vector<pollfd> waiting;
        for (int fd : fds)
            waiting.push_back(pollfd{fd, POLLIN, 0});
        const std::int64_t giveUp = bench::nowNs() + 5'000'000'000;
        while (bench::nowNs() < giveUp && poll(waiting.data(), waiting.size(), 300) > 0) {
            for (int fd : fds)
                readReplies(fd);
        }
    }
    std::printf("blast to=%s sent=%ld seconds=%.3f rate=%.1f errors=%ld late_max_us=%.1f restarts=%ld",
                toText.c_str(), sent, elapsed, static_cast<double>(sent) / elapsed, errors,
                static_cast<double>(lateMaxNs) / 1000.0, restarts);
    if (countReplies)
        std::printf(" request_bytes=%ld replies=%ld reply_bytes=%ld", sent * static_cast<long>(payload.size()),
                    replies, replyBytes);
    std::printf("\n");
    for (int fd : fds)
        close(fd);
    return sent > 0 ? 0 : 1;
}
