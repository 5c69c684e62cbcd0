// The bare baseline of the announcement comparison: joins a multicast group
// and reads datagrams with a blocking recvfrom, doing nothing with them.
//
//   minimal_mcast_recv --group G --port P [--max-seconds S]
//
// Prints the number of datagrams read when it ends on SIGTERM/SIGINT, or by
// itself after --max-seconds (default 900).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_common.h"

int main(int argc, char** argv)
{
    std::string group = "224.2.2.224";
    long port = 34543;
    long maxSeconds = 900;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return bench::optionValue(arg, i, argc, argv); };
        if (arg == "--group")
            group = next();
        else if (arg == "--port")
            port = bench::parseLong(arg, next());
        else if (arg == "--max-seconds")
            maxSeconds = bench::parseLong(arg, next());
        else
            bench::fail("usage: minimal_mcast_recv --group G --port P [--max-seconds S]");
    }
    if (port < 1 || port > 65535 || maxSeconds < 1)
        bench::fail("minimal_mcast_recv: option out of range");

    bench::catchStopSignals(true);
    alarm(static_cast<unsigned>(maxSeconds));

    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        bench::fail(std::string("minimal_mcast_recv: bind: ") + std::strerror(errno));
    ip_mreq join{};
    join.imr_multiaddr = bench::parseAddress(group).sin_addr;
    join.imr_interface.s_addr = htonl(INADDR_ANY);
    if (setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
        bench::fail(std::string("minimal_mcast_recv: join: ") + std::strerror(errno));

    long received = 0;
    char buffer[2048];
    while (!bench::stopRequested()) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        if (recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength) >= 0)
            ++received;
    }
    std::printf("mcast_recv received=%ld\n", received);
    return 0;
}
