#include "net/multicast_receiver.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "metrics/cpu_usage.h"
#include "net/socket_tuning.h"

namespace asio = boost::asio;
using asio::ip::udp;

MulticastReceiver::MulticastReceiver(asio::io_context& ioService, std::string group,
                                     kiv::ReceiverOwner& owner, const kiv::ServiceOptions& options)
    : mOwner(owner),
      mSocket(ioService),
      mSenderEndpoint(asio::ip::address_v4::any(), 0),
      mGuard(ioService, options, "Beacon group"),
      mMembership(mSocket, group, "MulticastReceiver")
{
    try {
        debugLog("MulticastReceiver::MulticastReceiver\n");
        kiv::openGroupListener(mSocket, kPort);
        // Reads in a drain return at once when nothing is waiting; sends
        // still wait for room (send).
        mSocket.non_blocking(true);
        start_receive();
    } catch (...) {
        kiv::reportException("MulticastReceiver::MulticastReceiver");
        return;
    }
    // Without a network yet (a station starting before DHCP) the join fails;
    // it is tried again whenever the local addresses change.
    mMembership.update({});
}

MulticastReceiver::~MulticastReceiver() = default;

void MulticastReceiver::start_receive()
{
    // Into room for any datagram: a receive cut short completes twice on
    // Windows (see datagram_buffer.h).
    mSocket.async_receive_from(asio::buffer(mDatagram.get(), kiv::kDatagramBufferSize), mSenderEndpoint,
                               [this](const boost::system::error_code& error, std::size_t bytes) {
                                   handle_receive_from(error, bytes);
                               });
}

void MulticastReceiver::handle_receive_from(const boost::system::error_code& error, std::size_t bytes)
{
    // Shut-down ends reception; any other error (an ICMP refusal of an
    // earlier unicast send shows up here) must not silence the channel.
    if (error == asio::error::operation_aborted)
        return;
    if (!error)
        handleDatagram(mDatagram.get(), std::min(bytes, kRecvBufferSize), mSenderEndpoint);
    drain(1);
}

void MulticastReceiver::drain(int taken)
{
    // What is already waiting is read now, up to the limit, without a
    // return to the loop for each announcement.
    while (taken < kDrainLimit) {
        boost::system::error_code error;
        const std::size_t count = mBatch.receive(mSocket, static_cast<std::size_t>(kDrainLimit - taken), error);
        if (count == 0) {
            if (error == asio::error::would_block || error == asio::error::try_again) {
                // Found empty: the next datagram is waited for, not read for.
                if (kiv::waitsForReadable())
                    wait_readable();
                else
                    start_receive();
                return;
            }
            ++taken;  // a failed receive takes its turn and is passed over
            continue;
        }
        for (std::size_t i = 0; i < count; ++i)
            handleDatagram(mBatch.data(i), mBatch.size(i), mBatch.sender(i));
        taken += static_cast<int>(count);
    }
    start_receive();
}

void MulticastReceiver::wait_readable()
{
    mSocket.async_wait(udp::socket::wait_read, [this](const boost::system::error_code& error) {
        if (error == asio::error::operation_aborted)
            return;
        // Most wake-ups find one datagram: one plain read for it, the batch
        // for whatever came with it.
        boost::system::error_code received = error;
        std::size_t bytes = 0;
        if (!received)
            bytes = mSocket.receive_from(asio::buffer(mDatagram.get(), kiv::kDatagramBufferSize),
                                         mSenderEndpoint, 0, received);
        if (received == asio::error::would_block || received == asio::error::try_again) {
            wait_readable();  // woken for nothing
            return;
        }
        handle_receive_from(received, bytes);
    });
}

void MulticastReceiver::handleDatagram(const char* data, std::size_t bytes, const udp::endpoint& sender)
{
    if (&sender != &mSenderEndpoint)
        mSenderEndpoint = sender;  // parseMcKivMessage reads the sender there
    const std::string message(data, std::min(bytes, kRecvBufferSize));
    CpuUsage::getCpuUsage();
    if (bytes > kParseThreshold)
        parseMcKivMessage(message);
}

void MulticastReceiver::parseMcKivMessage(const std::string& message)
{
    const std::string::size_type command = message.find("</setPingTarget>");
    if (command != std::string::npos) {
        debugLog("cmd=[%i]\n", static_cast<int>(command));
        return;
    }

    const std::uint32_t sender = mSenderEndpoint.address().is_v4() ? mSenderEndpoint.address().to_v4().to_uint() : 0;
    if (mSenderEndpoint.address().is_v4())
        mOwner.onBeaconMessage(sender, message);

    if (message.find("beaconCfgAlarm") != std::string::npos && mGuard.configAllowed(mSenderEndpoint))
        mOwner.onConfiguration(sender, message);
}

void MulticastReceiver::sendData(std::string text)
{
    try {
        debugLog("==>  MulticastReceiver::sendData\n");
        const auto data = std::make_shared<std::string>(text.c_str());
        debugLog("SEND TX DATA=[%s]\n", data->c_str());
        const udp::endpoint destination(asio::ip::make_address(kiv::kBeaconGroup), kPort);
        for (int i = 0; i < kGroupSendCount; ++i)
            send(*data, destination);
        debugLog("<==  MulticastReceiver::sendData\n");
    } catch (...) {
        kiv::reportException("MulticastReceiver::sendData");
    }
}

void MulticastReceiver::sendData(std::string text, std::string remAddr, int port)
{
    try {
        debugLog("==>  MulticastReceiver::sendData [%s]\n", remAddr.c_str());
        if (text.empty() || remAddr.empty()) {
            // A free slot has no address: normal at every press, a trace line.
            debugLog("<==  ***ERROR ((sendData.length <= 0) || (remAddr.length <= 0))  "
                       "MulticastReceiver::sendData\n");
            return;
        }
        const auto data = std::make_shared<std::string>(text.c_str());
        debugLog("SEND TX DATA TO=[%s:%i]\n", remAddr.c_str(), port);
        debugLog("SEND TX DATA=[%s]\n", data->c_str());
        const udp::endpoint destination(asio::ip::make_address(remAddr),
                                        static_cast<unsigned short>(port));
        send(*data, destination);
        debugLog("<==  MulticastReceiver::sendData\n");
    } catch (...) {
        kiv::reportException("MulticastReceiver::sendData");
    }
}

void MulticastReceiver::send(const std::string& data, const udp::endpoint& destination)
{
    kiv::sendWaitingForRoom(mSocket, asio::buffer(data), destination);
}
