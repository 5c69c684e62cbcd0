// The host's name and IPv4 addresses, behind a seam that tests can replace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/text_helpers.h"

namespace kiv {

struct HostNetwork {
    // The local host name; false and a platform error code when unavailable.
    std::function<bool(std::string& name, int& error)> hostName;
    // The host's IPv4 addresses (host order) in the system's order; false
    // when the lookup itself failed.
    std::function<bool(std::vector<std::uint32_t>& addresses)> localAddresses;
    // First IPv4 address of a host name (host order); 0 when it does not resolve.
    std::function<std::uint32_t(const std::string& name)> resolveName;
    // True when the routing table has a route to the address (host order):
    // a default route or one that covers it.
    std::function<bool(std::uint32_t destination)> routeTo;
};

// The real thing: host_network_linux.cpp / host_network_windows.cpp.
HostNetwork platformHostNetwork();

// Replaces the members that are set; an empty HostNetwork restores the platform's.
void setHostNetwork(HostNetwork network);

bool localHostName(std::string& name, int& error);
bool localIpv4Addresses(std::vector<std::uint32_t>& addresses);
std::uint32_t resolveIpv4(const std::string& name);
bool hasRouteTo(std::uint32_t destination);

// getIpAddrInt's questions answered by this host: the first of its addresses
// once its name is known, and the name lookup.
HostAddressLookup hostAddressLookup();

}  // namespace kiv

// getIpAddrInt (base/text_helpers.h) asking this host.
std::uint32_t getIpAddrInt(const std::string& nameOrAddress);
