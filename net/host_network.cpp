#include "net/host_network.h"

#include <mutex>

namespace kiv {
namespace {

std::mutex gHostNetworkMutex;
HostNetwork gHostNetworkOverride;

HostNetwork current()
{
    HostNetwork network = platformHostNetwork();
    std::lock_guard<std::mutex> lock(gHostNetworkMutex);
    if (gHostNetworkOverride.hostName)
        network.hostName = gHostNetworkOverride.hostName;
    if (gHostNetworkOverride.localAddresses)
        network.localAddresses = gHostNetworkOverride.localAddresses;
    if (gHostNetworkOverride.resolveName)
        network.resolveName = gHostNetworkOverride.resolveName;
    if (gHostNetworkOverride.routeTo)
        network.routeTo = gHostNetworkOverride.routeTo;
    return network;
}

}  // namespace

void setHostNetwork(HostNetwork network)
{
    std::lock_guard<std::mutex> lock(gHostNetworkMutex);
    gHostNetworkOverride = std::move(network);
}

bool localHostName(std::string& name, int& error)
{
    return current().hostName(name, error);
}

bool localIpv4Addresses(std::vector<std::uint32_t>& addresses)
{
    addresses.clear();
    return current().localAddresses(addresses);
}

std::uint32_t resolveIpv4(const std::string& name)
{
    return current().resolveName(name);
}

bool hasRouteTo(std::uint32_t destination)
{
    return current().routeTo(destination);
}

HostAddressLookup hostAddressLookup()
{
    HostAddressLookup lookup;
    lookup.firstAddress = []() -> std::uint32_t {
        std::string hostName;
        int error = 0;
        if (!localHostName(hostName, error))
            return 0;
        std::vector<std::uint32_t> addresses;
        if (!localIpv4Addresses(addresses) || addresses.empty())
            return 0;
        return addresses.front();
    };
    lookup.resolveName = [](const std::string& name) { return resolveIpv4(name); };
    return lookup;
}

}  // namespace kiv

std::uint32_t getIpAddrInt(const std::string& nameOrAddress)
{
    return getIpAddrInt(nameOrAddress, kiv::hostAddressLookup());
}
