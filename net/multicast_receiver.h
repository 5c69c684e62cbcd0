// The beacon channel: announcements and configuration in on 224.2.2.224:34543,
// the ping-target command out to the group and to each beacon.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "base/service_options.h"
#include "net/datagram_batch.h"
#include "net/source_guard.h"
#include "net/datagram_buffer.h"
#include "net/group_membership.h"
#include "net/receiver_owner.h"

namespace kiv {

// The beacon group, where the ping-target command goes.
constexpr const char* kBeaconGroup = "224.2.2.224";

}  // namespace kiv

class MulticastReceiver
{
public:
    // What the group brings goes to `owner`; the options say whose
    // configuration is taken.
    MulticastReceiver(boost::asio::io_context& ioService, std::string group, kiv::ReceiverOwner& owner,
                      const kiv::ServiceOptions& options = kiv::serviceOptions());
    virtual ~MulticastReceiver();
    MulticastReceiver(const MulticastReceiver&) = delete;
    MulticastReceiver& operator=(const MulticastReceiver&) = delete;

    void handle_receive_from(const boost::system::error_code& error, std::size_t bytes);
    // One received datagram of `bytes` bytes at `data` from `sender`; the
    // receive handler hands each datagram on through here.
    void handleDatagram(const char* data, std::size_t bytes,
                        const boost::asio::ip::udp::endpoint& sender);
    void parseMcKivMessage(const std::string& message);

    // To the group, three times.
    void sendData(std::string text);
    // Once, to remAddr:port.
    void sendData(std::string text, std::string remAddr, int port);

    // The socket's own port (34543), for the tests that share it.
    static constexpr unsigned short kPort = 34543;
    static constexpr std::size_t kRecvBufferSize = 1024;
    static constexpr std::size_t kParseThreshold = 10;
    static constexpr int kGroupSendCount = 3;
    // Announcements taken in one wake-up of the worker at most (see
    // UdpKivServer::kDrainLimit).
    static constexpr int kDrainLimit = 32;

    // The group's memberships, brought up to date with the local addresses
    // by the service's view of the local network.
    kiv::GroupMembership& membership() { return mMembership; }

private:
    void start_receive();
    void drain(int taken);
    void wait_readable();
    void send(const std::string& data, const boost::asio::ip::udp::endpoint& destination);

    kiv::ReceiverOwner& mOwner;
    boost::asio::ip::udp::socket mSocket;
    boost::asio::ip::udp::endpoint mSenderEndpoint;
    kiv::SourceGuard mGuard;
    kiv::DatagramBuffer mDatagram = kiv::makeDatagramBuffer();  // what a receive fills
    kiv::DatagramBatch mBatch{kRecvBufferSize};
    kiv::GroupMembership mMembership;
};
