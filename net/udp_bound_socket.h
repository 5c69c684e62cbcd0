// A UDP socket bound to one local IPv4 address on port 34543: the watchdog
// messages leave through it from that interface's address.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "base/repeated_warning.h"
#include "net/datagram_buffer.h"

namespace kiv {

// The failures of the sockets made for one local address in turn: a bind
// that fails belongs to the address, not to the socket made anew at each
// retry, so its owner keeps these and the repeat rule holds across retries.
struct BindFailures {
    RepeatedWarning bind;      // the binds that failed
    RepeatedWarning notBound;  // the sends refused for want of a bind
};

class UdpBoundSocket
{
public:
    UdpBoundSocket(boost::asio::io_context& ioService, boost::asio::ip::udp::endpoint local,
                   std::shared_ptr<BindFailures> failures = std::make_shared<BindFailures>());
    virtual ~UdpBoundSocket();
    UdpBoundSocket(const UdpBoundSocket&) = delete;
    UdpBoundSocket& operator=(const UdpBoundSocket&) = delete;

    void start_receive();
    void handle_receive(const boost::system::error_code& error, std::size_t bytes);

    // Sends up to the first zero character of `text`. A failed send is
    // logged (under the repeat rule, per destination) and recorded; it never
    // leaves this function. A socket that is not bound sends nothing (its
    // datagram would leave from another address and port).
    void sendData(std::string text, boost::asio::ip::udp::endpoint remote);

    // The address this socket was made for (also when binding failed).
    const boost::asio::ip::udp::endpoint& localEndpoint() const { return mLocalEndpoint; }
    // False when opening or binding failed; bindError() then says why.
    bool bound() const { return mBound; }
    const std::string& bindError() const { return mBindError; }

    static constexpr std::size_t kReceiveSize = 1501;
    static constexpr std::size_t kZeroedSize = 1500;
    static constexpr std::size_t kParseThreshold = 10;

private:
    boost::asio::ip::udp::socket mSocket;
    boost::asio::ip::udp::endpoint mSenderEndpoint;
    DatagramBuffer mDatagram = makeDatagramBuffer();  // what the receive fills
    std::array<char, kReceiveSize> mRecvBuffer{};
    boost::asio::ip::udp::endpoint mLocalEndpoint;
    bool mBound = false;
    std::string mBindError;
    std::shared_ptr<BindFailures> mFailures;
    // The destinations whose sends fail now.
    std::map<boost::asio::ip::udp::endpoint, RepeatedWarning> mSendFailures;
    // Expires with the object; the pending receive's handler holds a weak
    // reference to it.
    std::shared_ptr<void> mAlive = std::make_shared<int>(0);
};

}  // namespace kiv
