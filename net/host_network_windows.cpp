// Windows: the host name from gethostname, the addresses from resolving that
// name with gethostbyname (Winsock lists every IPv4 address of the machine for
// its own name), and names resolved the same way.
#include "net/host_network.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <cstring>

namespace kiv {
namespace {

constexpr std::size_t kHostNameBufferSize = 80;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// Winsock counts its users; each call holds one reference so the lookups
// work whether or not a socket library has started Winsock already.
class WinsockUse
{
public:
    WinsockUse()
    {
        WSADATA data{};
        mError = ::WSAStartup(kWinsockVersion, &data);
    }
    ~WinsockUse()
    {
        if (mError == 0)
            ::WSACleanup();
    }
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;

    int error() const { return mError; }

private:
    int mError = 0;
};

std::uint32_t hostOrder(const char* networkOrderAddress)
{
    in_addr address{};
    std::memcpy(&address, networkOrderAddress, sizeof address);
    return ntohl(address.s_addr);
}

// The IPv4 addresses of a host entry in the resolver's order.
void appendAddresses(const hostent& host, std::vector<std::uint32_t>& addresses)
{
    if (host.h_addrtype != AF_INET || host.h_length != static_cast<short>(sizeof(in_addr)))
        return;
    for (char** entry = host.h_addr_list; entry != nullptr && *entry != nullptr; ++entry)
        addresses.push_back(hostOrder(*entry));
}

bool windowsHostName(std::string& name, int& error)
{
    const WinsockUse winsock;
    if (winsock.error() != 0) {
        error = winsock.error();
        return false;
    }
    char buffer[kHostNameBufferSize] = {};
    if (::gethostname(buffer, static_cast<int>(sizeof buffer)) != 0) {
        error = ::WSAGetLastError();
        return false;
    }
    name = buffer;
    return true;
}

bool windowsLocalAddresses(std::vector<std::uint32_t>& addresses)
{
    const WinsockUse winsock;
    if (winsock.error() != 0)
        return false;
    char name[kHostNameBufferSize] = {};
    if (::gethostname(name, static_cast<int>(sizeof name)) != 0)
        return false;
    const hostent* host = ::gethostbyname(name);
    if (host == nullptr)
        return false;
    appendAddresses(*host, addresses);
    return true;
}

std::uint32_t windowsResolve(const std::string& name)
{
    const WinsockUse winsock;
    if (winsock.error() != 0)
        return 0;
    const hostent* host = ::gethostbyname(name.c_str());
    if (host == nullptr)
        return 0;
    std::vector<std::uint32_t> addresses;
    appendAddresses(*host, addresses);
    return addresses.empty() ? 0 : addresses.front();
}

// The interface the system would send to the address from: none when no
// route leads there.
bool windowsRouteTo(std::uint32_t destination)
{
    DWORD index = 0;
    return ::GetBestInterface(htonl(destination), &index) == NO_ERROR;
}

}  // namespace

HostNetwork platformHostNetwork()
{
    return HostNetwork{windowsHostName, windowsLocalAddresses, windowsResolve, windowsRouteTo};
}

}  // namespace kiv
