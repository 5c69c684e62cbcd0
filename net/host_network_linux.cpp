// Linux: the host name from gethostname, the addresses from the interfaces
// that are up (loopback excluded) in the kernel's order. The host name usually
// resolves to a loopback alias here, which would pair with nothing.
#include "net/host_network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
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

// The main routing table as /proc/net/route lists it: destination and mask
// are the kernel's network-order words in hexadecimal.
bool linuxRouteTo(std::uint32_t destination)
{
    std::FILE* table = std::fopen("/proc/net/route", "re");
    if (table == nullptr)
        return true;  // unknown: as if there were one
    char line[256];
    bool found = false;
    const bool heading = std::fgets(line, sizeof line, table) != nullptr;
    while (heading && !found && std::fgets(line, sizeof line, table) != nullptr) {
        char name[64];
        unsigned network = 0, gateway = 0, flags = 0, refs = 0, use = 0, metric = 0, mask = 0;
        if (std::sscanf(line, "%63s %x %x %x %u %u %u %x", name, &network, &gateway, &flags, &refs, &use,
                        &metric, &mask) != 8)
            continue;
        const std::uint32_t routeMask = ntohl(mask);
        found = (flags & RTF_UP) != 0 && (destination & routeMask) == (ntohl(network) & routeMask);
    }
    std::fclose(table);
    return found;
}

}  // namespace

HostNetwork platformHostNetwork()
{
    return HostNetwork{linuxHostName, linuxLocalAddresses, linuxResolve, linuxRouteTo};
}

}  // namespace kiv
