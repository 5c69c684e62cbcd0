#include "tools/common/udp.h"

#include <cerrno>

#include <boost/asio/ip/multicast.hpp>
#include <boost/system/system_error.hpp>

#if defined(__linux__)
#include <netinet/in.h>
#endif

#include "base/text_helpers.h"

namespace asio = boost::asio;
using asio::ip::udp;

namespace kiv::tools {

Endpoint endpointOf(std::uint32_t address, std::uint16_t port)
{
    return Endpoint(asio::ip::address_v4(address), port);
}

std::string endpointText(const Endpoint& endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

std::string errorText(const boost::system::error_code& error)
{
    std::string text = error.message();
    if (error == boost::system::errc::address_not_available)
        text += " (not an address of this host)";
    else if (error == asio::error::address_in_use)
        text += " (another program has this port)";
    else if (error == asio::error::network_unreachable)
        text += " (no route to it)";
    else if (error == asio::error::access_denied)
        text += " (a broadcast address, or a firewall rule)";
    return text;
}

void openBound(udp::socket& socket, std::uint32_t address, std::uint16_t port, bool shared)
{
    const Endpoint local = endpointOf(address, port);
    boost::system::error_code error;
    socket.open(udp::v4(), error);
    if (!error && shared)
        socket.set_option(asio::socket_base::reuse_address(true), error);
    if (!error)
        socket.bind(local, error);
    if (error)
        throw RunError("cannot use local address " + endpointText(local) + ": " + errorText(error));
}

void setMulticastSending(udp::socket& socket, std::uint32_t interfaceAddress, bool chooseInterface, int ttl)
{
    boost::system::error_code error;
    if (chooseInterface)
        socket.set_option(asio::ip::multicast::outbound_interface(asio::ip::address_v4(interfaceAddress)), error);
    if (error)
        throw RunError("cannot send multicast out of the interface " + getIpAddrString(interfaceAddress) + ": " +
                       errorText(error));
    socket.set_option(asio::ip::multicast::hops(ttl), error);
    if (error)
        throw RunError("cannot set the multicast TTL to " + std::to_string(ttl) + ": " + errorText(error));
}

void joinGroup(udp::socket& socket, std::uint32_t group, std::uint32_t interfaceAddress)
{
    boost::system::error_code error;
    socket.set_option(asio::ip::multicast::join_group(asio::ip::address_v4(group), asio::ip::address_v4(interfaceAddress)),
                      error);
    if (error)
        throw RunError("cannot join " + getIpAddrString(group) + " on the interface " +
                       (interfaceAddress == 0 ? std::string("of the system's choice") : getIpAddrString(interfaceAddress)) +
                       ": " + errorText(error));
#if defined(__linux__) && defined(IP_MULTICAST_ALL)
    // Linux otherwise delivers every group any socket of the host joined.
    const int off = 0;
    ::setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
#endif
}

void sendText(udp::socket& socket, const std::string& text, const Endpoint& destination)
{
    boost::system::error_code error;
    socket.send_to(asio::buffer(text), destination, 0, error);
    if (error) {
        boost::system::error_code ignored;
        const std::string hint = destination.address().is_multicast() && error == asio::error::network_unreachable
                                     ? "; route 224.0.0.0/4 to the plant interface, or name it with --interface"
                                     : "";
        throw RunError("cannot send to " + endpointText(destination) + " from " +
                       endpointText(socket.local_endpoint(ignored)) + ": " + errorText(error) + hint);
    }
}

}  // namespace kiv::tools
