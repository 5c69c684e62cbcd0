// The tools' UDP sockets (Boost.Asio), with failures turned into one line
// that says what could not be done and, where it is usually the cause, why.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

namespace kiv::tools {

// A failure while the tool runs (not a command-line mistake).
class RunError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

using Endpoint = boost::asio::ip::udp::endpoint;

Endpoint endpointOf(std::uint32_t address, std::uint16_t port);
std::string endpointText(const Endpoint& endpoint);

// The system's message for `error`, with a hint for the usual causes.
std::string errorText(const boost::system::error_code& error);

// Opens `socket` for IPv4 and binds it to address:port (port 0: any).
// `shared`: SO_REUSEADDR, to share a port with the program on this host.
void openBound(boost::asio::ip::udp::socket& socket, std::uint32_t address, std::uint16_t port, bool shared);

// Multicast sending: the interface by its local address, and the TTL.
void setMulticastSending(boost::asio::ip::udp::socket& socket, std::uint32_t interfaceAddress, bool chooseInterface,
                         int ttl);

// Joins `group` on the interface with `interfaceAddress` (0: the system's
// choice), receiving only the groups joined on this socket.
void joinGroup(boost::asio::ip::udp::socket& socket, std::uint32_t group, std::uint32_t interfaceAddress);

// Sends `text` and throws RunError naming the destination when it fails.
void sendText(boost::asio::ip::udp::socket& socket, const std::string& text, const Endpoint& destination);

}  // namespace kiv::tools
