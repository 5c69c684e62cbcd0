// The cloud listener: every datagram on 224.0.2.224:34543 is traced, echoed
// and shown as an event line; its srvIpAddr goes to the owner (the watchdog
// server, which keeps it).
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "net/group_membership.h"
#include "net/datagram_buffer.h"
#include "net/receiver_owner.h"

namespace kiv {

// The cloud group.
constexpr const char* kCloudGroup = "224.0.2.224";

}  // namespace kiv

class MulticastReceiverCloud
{
public:
    // What the group brings goes to `owner`.
    MulticastReceiverCloud(boost::asio::io_context& ioService, std::string group, kiv::ReceiverOwner& owner);
    virtual ~MulticastReceiverCloud();
    MulticastReceiverCloud(const MulticastReceiverCloud&) = delete;
    MulticastReceiverCloud& operator=(const MulticastReceiverCloud&) = delete;

    void handle_receive_from(const boost::system::error_code& error, std::size_t bytes);
    // One received datagram of `bytes` bytes at `data`; the receive handler
    // hands each datagram on through here.
    void handleDatagram(const char* data, std::size_t bytes);
    void parseMcKivMessage(const std::string& message);

    static constexpr unsigned short kPort = 34543;
    static constexpr std::size_t kRecvBufferSize = 1024;
    static constexpr std::size_t kParseThreshold = 10;

    // The group's memberships, brought up to date with the local addresses
    // by the service's view of the local network.
    kiv::GroupMembership& membership() { return mMembership; }

private:
    void start_receive();

    kiv::ReceiverOwner& mOwner;
    boost::asio::ip::udp::socket mSocket;
    boost::asio::ip::udp::endpoint mSenderEndpoint;
    kiv::DatagramBuffer mDatagram = kiv::makeDatagramBuffer();
    kiv::GroupMembership mMembership;
};
