#include "support/udp_peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kiv::test {
namespace {

sockaddr_in makeAddress(const std::string& address, std::uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1)
        throw std::runtime_error("bad address " + address);
    return sa;
}

int openSocket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    return fd;
}

// A socket belongs to the namespace it was made in; a short-lived thread
// enters the peer namespace just to make it.
int openSocketInPeerNamespace()
{
    const std::string name = peerNamespace();
    if (name.empty())
        throw std::runtime_error("no peer namespace (run under the harness in peers mode)");
    int fd = -1;
    std::string error;
    std::thread maker([&] {
        const std::string path = "/var/run/netns/" + name;
        const int ns = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) {
            error = "cannot enter " + path + ": " + std::strerror(errno);
            if (ns >= 0)
                ::close(ns);
            return;
        }
        ::close(ns);
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            error = std::string("socket: ") + std::strerror(errno);
    });
    maker.join();
    if (fd < 0)
        throw std::runtime_error(error);
    return fd;
}

}  // namespace

std::string peerNamespace()
{
    const char* name = std::getenv("VARN_PEER_NETNS");
    return name ? name : "";
}

UdpPeer::UdpPeer(const std::string& address, std::uint16_t port, Where where, bool reuse)
    : mFd(where == Where::Here ? openSocket() : openSocketInPeerNamespace())
{
    const int one = 1;
    if (reuse)
        ::setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in sa = makeAddress(address, port);
    if (::bind(mFd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        const std::string why = std::strerror(errno);
        ::close(mFd);
        throw std::runtime_error("bind " + address + ":" + std::to_string(port) + ": " + why);
    }
}

UdpPeer::~UdpPeer()
{
    if (mFd >= 0)
        ::close(mFd);
}

void UdpPeer::joinGroup(const std::string& group, const std::string& interfaceAddress)
{
    ip_mreq request{};
    ::inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr);
    ::inet_pton(AF_INET, interfaceAddress.c_str(), &request.imr_interface);
    if (::setsockopt(mFd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0)
        throw std::runtime_error(std::string("join: ") + std::strerror(errno));
    const int off = 0;
    ::setsockopt(mFd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
}

void UdpPeer::setMulticastInterface(const std::string& interfaceAddress)
{
    in_addr address{};
    ::inet_pton(AF_INET, interfaceAddress.c_str(), &address);
    if (::setsockopt(mFd, IPPROTO_IP, IP_MULTICAST_IF, &address, sizeof address) != 0)
        throw std::runtime_error(std::string("IP_MULTICAST_IF: ") + std::strerror(errno));
}

bool UdpPeer::sendTo(const std::string& data, const std::string& address, std::uint16_t port)
{
    const sockaddr_in sa = makeAddress(address, port);
    const ssize_t n = ::sendto(mFd, data.data(), data.size(), 0,
                               reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    return n == static_cast<ssize_t>(data.size());
}

std::optional<Datagram> UdpPeer::receive(std::chrono::milliseconds timeout)
{
    pollfd p{mFd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
    if (ready <= 0)
        return std::nullopt;
    char buffer[70000];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(mFd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                                 &fromLength);
    if (n < 0)
        return std::nullopt;
    Datagram d;
    d.data.assign(buffer, static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    d.fromAddress = text;
    d.fromPort = ntohs(from.sin_port);
    return d;
}

int UdpPeer::drain(std::chrono::milliseconds quiet)
{
    int count = 0;
    while (receive(quiet))
        ++count;
    return count;
}

std::uint16_t UdpPeer::port() const
{
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    ::getsockname(mFd, reinterpret_cast<sockaddr*>(&sa), &length);
    return ntohs(sa.sin_port);
}

}  // namespace kiv::test
