// A watchdog server's stand-in for bench/fleet.sh: one UDP socket on a port
// of every address of its namespace. It notes for every datagram the time
// the kernel stamped on its arrival, its kind, source and destination, and
// the socket's drop count when it was queued; and it reads either as fast as it can, or
// one datagram every --pace-us microseconds (a server that spends that long
// on each), or not at all until it is told to stop (--hold: how many
// datagrams the buffer holds, and what each costs it).
//
//   fleet_server --port P --out FILE [--pace-us US | --hold] [--rcvbuf BYTES]
//                [--max-seconds S]
//
// Ends on SIGTERM/SIGINT, or by itself after --max-seconds (default 1800).
// Then it reads what is still queued (at once), writes FILE, one line per
// datagram in the order read,
//   ARRIVAL_NS KIND SOURCE>DESTINATION DROPS
// (ARRIVAL_NS on CLOCK_REALTIME; KIND wdKA, wdStatus, CPU_ALARM or other;
// SOURCE>DESTINATION the addresses, which name the station's pair; DROPS the
// socket's drop count before it), and prints one line:
//   server received=N drops=D rcvbuf=B held=H rmem=R
// where held is what was queued when the stop came and rmem the receive
// memory those held datagrams took (so rmem/held bytes each).
#include <arpa/inet.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

constexpr long kMaxRecords = 2000000;

struct Record {
    std::int64_t arrivalNs;
    std::uint32_t source;
    std::uint32_t destination;
    std::uint32_t drops;
    char kind;  // 'k' wdKA, 's' wdStatus, 'a' CPU_ALARM, 'o' other
};

const char* kindName(char kind)
{
    switch (kind) {
    case 'k':
        return "wdKA";
    case 's':
        return "wdStatus";
    case 'a':
        return "CPU_ALARM";
    default:
        return "other";
    }
}

// The first element of the datagram names the message.
char kindOf(const char* data, std::size_t size)
{
    const std::string head(data, size < 32 ? size : 32);
    if (head.compare(0, 6, "<wdKA>") == 0)
        return 'k';
    if (head.compare(0, 10, "<wdStatus>") == 0)
        return 's';
    if (head.find("CPU_ALARM") != std::string::npos)
        return 'a';
    return 'o';
}

std::string dotted(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::int64_t realtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Reads one datagram (blocking unless `flags` says otherwise) into `record`.
// Returns false on EAGAIN or an interrupted call.
bool readOne(int fd, int flags, Record& record)
{
    char data[2048];
    alignas(cmsghdr) char control[256];
    sockaddr_in from{};
    iovec io{data, sizeof data};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &message, flags);
    if (n < 0)
        return false;
    record.arrivalNs = 0;
    // The drop count comes only once it is not zero.
    record.drops = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec ts{};
            std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
            record.arrivalNs = static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        } else if (c->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&record.drops, CMSG_DATA(c), sizeof record.drops);
        }
    }
    record.destination = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            record.destination = ntohl(info.ipi_addr.s_addr);
        }
    }
    if (record.arrivalNs == 0)
        record.arrivalNs = realtimeNs();
    record.source = ntohl(from.sin_addr.s_addr);
    record.kind = kindOf(data, static_cast<std::size_t>(n));
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    long port = 0;
    std::string out;
    long paceUs = 0;
    bool hold = false;
    long rcvbuf = 0;
    long maxSeconds = 1800;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return bench::optionValue(arg, i, argc, argv); };
        if (arg == "--port")
            port = bench::parseLong(arg, next());
        else if (arg == "--out")
            out = next();
        else if (arg == "--pace-us")
            paceUs = bench::parseLong(arg, next());
        else if (arg == "--hold")
            hold = true;
        else if (arg == "--rcvbuf")
            rcvbuf = bench::parseLong(arg, next());
        else if (arg == "--max-seconds")
            maxSeconds = bench::parseLong(arg, next());
        else
            bench::fail("usage: fleet_server --port P --out FILE [--pace-us US | --hold] [--rcvbuf BYTES] "
                        "[--max-seconds S]");
    }
    if (port < 1 || port > 65535 || out.empty() || paceUs < 0 || paceUs > 1000000 || rcvbuf < 0 ||
        rcvbuf > (1L << 30) || maxSeconds < 1 || (hold && paceUs > 0))
        bench::fail("fleet_server: option out of range");

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0)
        bench::fail(std::string("fleet_server: socket: ") + std::strerror(errno));
    if (rcvbuf > 0) {
        // The kernel doubles what it is given for its own overhead; asked
        // for B it reports 2B. Forced: past net.core.rmem_max (needs root).
        const int half = static_cast<int>(rcvbuf / 2);
        if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &half, sizeof half) != 0)
            bench::fail(std::string("fleet_server: SO_RCVBUFFORCE: ") + std::strerror(errno));
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        bench::fail(std::string("fleet_server: bind: ") + std::strerror(errno));

    bench::catchStopSignals(true);
    alarm(static_cast<unsigned>(maxSeconds));  // never outlives a forgotten run

    std::vector<Record> records;
    records.reserve(65536);
    Record record{};
    std::int64_t nextRead = bench::nowNs();
    while (!bench::stopRequested()) {
        if (hold) {
            pause();
            continue;
        }
        if (paceUs > 0) {
            bench::sleepUntil(nextRead);
            if (bench::stopRequested())
                break;
        }
        if (!readOne(fd, 0, record))
            continue;
        if (static_cast<long>(records.size()) < kMaxRecords)
            records.push_back(record);
        // The next read comes a pace after this one, or at once after a
        // quiet spell: a server that was idle is not owed time.
        if (paceUs > 0)
            nextRead = bench::nowNs() + paceUs * 1000;
    }

    // What the buffer holds now, before it is read empty.
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t memoryLength = sizeof memory;
    if (getsockopt(fd, SOL_SOCKET, SO_MEMINFO, memory, &memoryLength) != 0)
        bench::fail(std::string("fleet_server: SO_MEMINFO: ") + std::strerror(errno));
    long held = 0;
    while (readOne(fd, MSG_DONTWAIT, record)) {
        ++held;
        if (static_cast<long>(records.size()) < kMaxRecords)
            records.push_back(record);
    }
    const std::uint32_t drops = memory[SK_MEMINFO_DROPS];

    std::FILE* file = std::fopen(out.c_str(), "w");
    if (file == nullptr)
        bench::fail("fleet_server: cannot write " + out);
    for (const Record& r : records) {
        std::fprintf(file, "%lld %s %s>%s %u\n", static_cast<long long>(r.arrivalNs), kindName(r.kind),
                     dotted(r.source).c_str(), dotted(r.destination).c_str(), r.drops);
    }
    std::fclose(file);
    std::printf("server received=%zu drops=%u rcvbuf=%u held=%ld rmem=%u\n", records.size(), drops,
                memory[SK_MEMINFO_RCVBUF], held, memory[SK_MEMINFO_RMEM_ALLOC]);
    close(fd);
    return 0;
}
