// Request/reply load over UDP: sends one fixed request datagram with K
// requests in flight for a bounded time and reports replies per second and
// the round-trip percentiles. Each request in flight has its own connected
// socket, so every reply is matched to the request it answers whatever the
// server puts in it.
//
//   udp_rr --to ADDR:PORT (--text T | --hex H | --snmp-get COMMUNITY:OID)
//          [--in-flight K] [--seconds T] [--warmup S] [--timeout-ms M]
//          [--expect TEXT]
//   udp_rr --to ADDR:PORT (...) --once [--timeout-ms M]
//
// The load form prints one line:
//   rr to=... in_flight=K seconds=T replies=N rate=R p50_us=A p99_us=B timeouts=N errors=N bad=N
// --once sends one request and prints the reply (for SNMP, its first value);
// it exits 0 on a reply, 3 on an SNMP exception value (noSuchInstance...),
// 1 without a reply.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

constexpr double kMaxSeconds = 600.0;
constexpr int kMaxInFlight = 1024;
constexpr std::size_t kReplyBufferSize = 65536;

struct Options {
    sockaddr_in to{};
    std::string toText;
    std::string request;
    bool snmp = false;
    int inFlight = 1;
    double seconds = 5.0;
    double warmup = 0.5;
    int timeoutMs = 200;
    bool once = false;
    std::string expect;
};

void usage()
{
    std::fprintf(stderr,
                 "usage: udp_rr --to ADDR:PORT (--text T | --hex H | --snmp-get COMMUNITY:OID)\n"
                 "              [--in-flight K] [--seconds T] [--warmup S] [--timeout-ms M]\n"
                 "              [--expect TEXT] [--once]\n");
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options o;
    bool haveTo = false;
    bool haveRequest = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return bench::optionValue(arg, i, argc, argv); };
        if (bench::takeRequestOption(arg, i, argc, argv, o.request, o.snmp)) {
            haveRequest = true;
        } else if (arg == "--to") {
            o.toText = next();
            o.to = bench::parseEndpoint(o.toText);
            haveTo = true;
        } else if (arg == "--in-flight") {
            o.inFlight = static_cast<int>(bench::parseLong(arg, next()));
        } else if (arg == "--seconds") {
            o.seconds = bench::parseDouble(arg, next());
        } else if (arg == "--warmup") {
            o.warmup = bench::parseDouble(arg, next());
        } else if (arg == "--timeout-ms") {
            o.timeoutMs = static_cast<int>(bench::parseLong(arg, next()));
        } else if (arg == "--expect") {
            o.expect = next();
        } else if (arg == "--once") {
            o.once = true;
        } else {
            usage();
        }
    }
    if (!haveTo || !haveRequest)
        usage();
    if (o.inFlight < 1 || o.inFlight > kMaxInFlight)
        bench::fail("--in-flight must be 1 to 1024");
    if (o.seconds <= 0 || o.seconds > kMaxSeconds || o.warmup < 0 || o.warmup > kMaxSeconds)
        bench::fail("--seconds and --warmup must be within 0 to 600");
    if (o.timeoutMs < 1 || o.timeoutMs > 60000)
        bench::fail("--timeout-ms must be 1 to 60000");
    return o;
}

int connectedSocket(const sockaddr_in& to)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        bench::fail(std::string("socket: ") + std::strerror(errno));
    if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0)
        bench::fail(std::string("connect: ") + std::strerror(errno));
    return fd;
}

int runOnce(const Options& o)
{
    const int fd = connectedSocket(o.to);
    if (send(fd, o.request.data(), o.request.size(), 0) < 0) {
        std::printf("no reply (send: %s)\n", std::strerror(errno));
        return 1;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, o.timeoutMs) <= 0) {
        std::printf("no reply within %d ms\n", o.timeoutMs);
        return 1;
    }
    std::vector<char> buffer(kReplyBufferSize);
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0) {
        std::printf("no reply (%s)\n", std::strerror(errno));
        return 1;
    }
    const std::string reply(buffer.data(), static_cast<std::size_t>(n));
    if (!o.snmp) {
        std::printf("reply bytes=%zd text=%s\n", n, bench::printable(reply).c_str());
        return 0;
    }
    bool exception = false;
    std::string value;
    if (!bench::snmpFirstValue(reply, exception, value)) {
        std::printf("reply bytes=%zd not an SNMP response\n", n);
        return 1;
    }
    std::printf("reply bytes=%zd value=%s\n", n, value.c_str());
    return exception ? 3 : 0;
}

struct Counters {
    long replies = 0;
    long timeouts = 0;
    long errors = 0;
    long bad = 0;
    std::vector<std::uint32_t> rttNs;
};

bool replyIsGood(const Options& o, const char* data, ssize_t n)
{
    if (o.expect.empty())
        return true;
    return memmem(data, static_cast<std::size_t>(n), o.expect.data(), o.expect.size()) != nullptr;
}

int runLoad(const Options& o)
{
    const int k = o.inFlight;
    std::vector<int> fds(static_cast<std::size_t>(k));
    std::vector<std::int64_t> sentAt(static_cast<std::size_t>(k), 0);
    for (int& fd : fds)
        fd = connectedSocket(o.to);

    const int epfd = k > 1 ? epoll_create1(EPOLL_CLOEXEC) : -1;
    if (k > 1) {
        if (epfd < 0)
            bench::fail(std::string("epoll_create1: ") + std::strerror(errno));
        for (int i = 0; i < k; ++i) {
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u32 = static_cast<std::uint32_t>(i);
            if (epoll_ctl(epfd, EPOLL_CTL_ADD, fds[static_cast<std::size_t>(i)], &ev) != 0)
                bench::fail(std::string("epoll_ctl: ") + std::strerror(errno));
        }
    } else {
        timeval tv{};
        tv.tv_sec = o.timeoutMs / 1000;
        tv.tv_usec = (o.timeoutMs % 1000) * 1000;
        setsockopt(fds[0], SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }

    Counters c;
    c.rttNs.reserve(static_cast<std::size_t>(o.seconds * 500000.0));
    std::vector<char> buffer(kReplyBufferSize);

    const std::int64_t start = bench::nowNs();
    const std::int64_t measureFrom = start + static_cast<std::int64_t>(o.warmup * 1e9);
    const std::int64_t measureTo = measureFrom + static_cast<std::int64_t>(o.seconds * 1e9);
    const std::int64_t timeoutNs = static_cast<std::int64_t>(o.timeoutMs) * 1000000;

    auto sendOn = [&](int i) {
        const auto slot = static_cast<std::size_t>(i);
        sentAt[slot] = bench::nowNs();
        if (send(fds[slot], o.request.data(), o.request.size(), 0) < 0) {
            // A refusal of an earlier request (ICMP) shows up on a later call;
            // the timeout sends again.
            const std::int64_t now = bench::nowNs();
            if (now >= measureFrom && now < measureTo)
                ++c.errors;
        }
    };
    // A reply on socket i: count it (inside the window) and send the next.
    auto received = [&](int i, ssize_t n) {
        const std::int64_t now = bench::nowNs();
        if (now >= measureFrom && now < measureTo) {
            ++c.replies;
            c.rttNs.push_back(static_cast<std::uint32_t>(
                std::min<std::int64_t>(now - sentAt[static_cast<std::size_t>(i)], 0xffffffffLL)));
            if (!replyIsGood(o, buffer.data(), n))
                ++c.bad;
        }
        if (now < measureTo)
            sendOn(i);
    };

    for (int i = 0; i < k; ++i)
        sendOn(i);

    std::int64_t nextTimeoutScan = bench::nowNs() + 10000000;
    std::vector<epoll_event> events(static_cast<std::size_t>(k));
    for (;;) {
        const std::int64_t now = bench::nowNs();
        if (now >= measureTo)
            break;
        if (k == 1) {
            const ssize_t n = recv(fds[0], buffer.data(), buffer.size(), 0);
            if (n >= 0) {
                received(0, n);
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                const std::int64_t t = bench::nowNs();
                if (t >= measureFrom && t < measureTo)
                    ++c.timeouts;
                sendOn(0);
            } else if (errno != EINTR) {
                const std::int64_t t = bench::nowNs();
                if (t >= measureFrom && t < measureTo)
                    ++c.errors;
                sendOn(0);
            }
            continue;
        }
        const int ready = epoll_wait(epfd, events.data(), k, 10);
        for (int e = 0; e < ready; ++e) {
            const int i = static_cast<int>(events[static_cast<std::size_t>(e)].data.u32);
            const ssize_t n = recv(fds[static_cast<std::size_t>(i)], buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n >= 0) {
                received(i, n);
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                const std::int64_t t = bench::nowNs();
                if (t >= measureFrom && t < measureTo)
                    ++c.errors;
                sendOn(i);
            }
        }
        const std::int64_t t = bench::nowNs();
        if (t >= nextTimeoutScan) {
            nextTimeoutScan = t + 10000000;
            for (int i = 0; i < k; ++i) {
                if (t - sentAt[static_cast<std::size_t>(i)] > timeoutNs) {
                    if (t >= measureFrom && t < measureTo)
                        ++c.timeouts;
                    sendOn(i);
                }
            }
        }
    }

    const double p50 = bench::percentile(c.rttNs, 0.50) / 1000.0;
    const double p99 = bench::percentile(c.rttNs, 0.99) / 1000.0;
    std::printf("rr to=%s in_flight=%d seconds=%.3f replies=%ld rate=%.1f p50_us=%.1f p99_us=%.1f "
                "timeouts=%ld errors=%ld bad=%ld\n",
                o.toText.c_str(), k, o.seconds, c.replies, static_cast<double>(c.replies) / o.seconds, p50,
                p99, c.timeouts, c.errors, c.bad);
    for (int fd : fds)
        close(fd);
    if (epfd >= 0)
        close(epfd);
    return c.replies > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const Options o = parse(argc, argv);
    return o.once ? runOnce(o) : runLoad(o);
}
