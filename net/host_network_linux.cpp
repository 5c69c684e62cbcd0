// Linux: the host name from gethostname, the addresses from the interfaces
// that are up (loopback excluded) in the kernel's order. The host name usually
// resolves to a loopback alias here, which would pair with nothing.
#include "net/host_network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kiv {
namespace {

constexpr std::size_t kHostNameBufferSize = 80;

bool linuxHostName(std::string& name, int& error)
{
    char buffer[kHostNameBufferSize] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) {
        error = errno;
        return false;
    }
    name = buffer;
    return true;
}

bool linuxLocalAddresses(std::vector<std::uint32_t>& addresses)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(it->ifa_flags & IFF_UP) || (it->ifa_flags & IFF_LOOPBACK))
            continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        addresses.push_back(ntohl(in->sin_addr.s_addr));
    }
    ::freeifaddrs(list);
    return true;
}

std::uint32_t linuxResolve(const std::string& name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return 0;
    const auto* in = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    const std::uint32_t address = ntohl(in->sin_addr.s_addr);
    ::freeaddrinfo(result);
    return address;
}

}  // namespace

HostNetwork platformHostNetwork()
{
    return HostNetwork{linuxHostName, linuxLocalAddresses, linuxResolve};
}

}  // namespace kiv
