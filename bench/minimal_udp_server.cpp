// The bare baseline of the status comparison: a blocking recvfrom/sendto
// loop that answers every datagram with a fixed reply, and nothing else.
//
//   minimal_udp_server --port P [--address A] [--reply-bytes N] [--max-seconds S]
//
// Ends on SIGTERM/SIGINT, or by itself after --max-seconds (default 900).
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
    std::string address = "127.0.0.1";
    long port = 0;
    long replyBytes = 200;
    long maxSeconds = 900;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return bench::optionValue(arg, i, argc, argv); };
        if (arg == "--port")
            port = bench::parseLong(arg, next());
        else if (arg == "--address")
            address = next();
        else if (arg == "--reply-bytes")
            replyBytes = bench::parseLong(arg, next());
        else if (arg == "--max-seconds")
            maxSeconds = bench::parseLong(arg, next());
        else
            bench::fail("usage: minimal_udp_server --port P [--address A] [--reply-bytes N] [--max-seconds S]");
    }
    if (port < 1 || port > 65535 || replyBytes < 0 || replyBytes > 65507 || maxSeconds < 1)
        bench::fail("minimal_udp_server: option out of range");

    sockaddr_in local = bench::parseAddress(address);
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        bench::fail(std::string("minimal_udp_server: bind: ") + std::strerror(errno));

    alarm(static_cast<unsigned>(maxSeconds));  // never outlives a forgotten run
    const std::string reply(static_cast<std::size_t>(replyBytes), 'r');
    char buffer[2048];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            continue;
        sendto(fd, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), fromLength);
    }
}
