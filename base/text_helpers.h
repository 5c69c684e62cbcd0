// IPv4 conversions and the element-value extractor of the XML-like texts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kiv {

// What getIpAddrInt needs of the host when the text is no address: the
// host's first IPv4 address (for an empty text) and the first address a name
// resolves to, each in host order and 0 when there is none. The caller reads
// them from the host (net/host_network.h); an empty member counts as 0.
struct HostAddressLookup {
    std::function<std::uint32_t()> firstAddress;
    std::function<std::uint32_t(const std::string& name)> resolveName;
};

}  // namespace kiv

// Dotted text of a host-order IPv4 value ("%u.%u.%u.%u", first octet most
// significant).
std::string getIpAddrString(std::uint32_t address);

// Host-order IPv4 value of dotted text or a host name; 0 on failure. An empty
// text stands for this host (its first IPv4 address). Only a text that is no
// address asks `host`. net/host_network.h has the form that asks the host.
std::uint32_t getIpAddrInt(const std::string& nameOrAddress, const kiv::HostAddressLookup& host);

// Value of the first occurrence of `name` in `text` at or after `position`:
// from one character after the name up to the next "</" + name (or the end).
// Adds length(name) + 1 to `position`; sets it to npos when the name is absent.
std::string getXmlValueAt(std::string name, std::string text, std::string::size_type& position);
std::string getXmlValue(std::string name, std::string text);
int getXmlValueInt(std::string name, std::string text);

namespace kiv {

constexpr std::uint32_t kInAddrNone = 0xFFFFFFFFu;

// The numbers-and-dots parser of inet_addr (a, a.b, a.b.c or a.b.c.d, each
// part decimal, octal or hex), in host order; kInAddrNone when it rejects the
// text, exactly like inet_addr (which cannot tell 255.255.255.255 apart).
std::uint32_t parseInetAddr(const std::string& text);

}  // namespace kiv
