#include "net/multicast_receiver_cloud.h"

#include <algorithm>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "base/text_helpers.h"
#include "metrics/cpu_usage.h"
#include "net/socket_tuning.h"

namespace asio = boost::asio;
using asio::ip::udp;

MulticastReceiverCloud::MulticastReceiverCloud(asio::io_context& ioService, std::string group,
                                               kiv::ReceiverOwner& owner)
    : mOwner(owner),
      mSocket(ioService),
      mSenderEndpoint(asio::ip::address_v4::any(), 0),
      mMembership(mSocket, group, "MulticastReceiverCloud")
{
    try {
        debugLog("MulticastReceiverCloud::MulticastReceiverCloud\n");
        kiv::openGroupListener(mSocket, kPort);
        start_receive();
    } catch (...) {
        kiv::reportException("MulticastReceiverCloud::MulticastReceiverCloud");
        return;
    }
    // Without a network yet (a station starting before DHCP) the join fails;
    // it is tried again whenever the local addresses change.
    mMembership.update({});
}

MulticastReceiverCloud::~MulticastReceiverCloud() = default;

void MulticastReceiverCloud::start_receive()
{
    mSocket.async_receive_from(
        asio::buffer(mDatagram.get(), kiv::kDatagramBufferSize), mSenderEndpoint,
        [this](const boost::system::error_code& error, std::size_t bytes) {
            handle_receive_from(error, bytes);
        });
}

void MulticastReceiverCloud::handle_receive_from(const boost::system::error_code& error,
                                                 std::size_t bytes)
{
    if (error == asio::error::operation_aborted)
        return;
    if (!error)
        handleDatagram(mDatagram.get(), std::min(bytes, kRecvBufferSize));
    start_receive();
}

void MulticastReceiverCloud::handleDatagram(const char* data, std::size_t bytes)
{
    const std::size_t size = std::min(bytes, kRecvBufferSize);
    debugLog("MulticastReceiverCloud::handle_receive_from\n");
    kiv::consoleWrite(data, size);
    kiv::consoleWrite("\n", 1);
    const std::string message(data, size);
    const char* text = message.c_str();  // shown up to a zero byte
    debugLog("MulticastRX=[%s]\n", text);
    gEventText.append(std::string("\r MulticastRX= ") + text + "\r");
    CpuUsage::getCpuUsage();
    if (bytes > kParseThreshold)
        parseMcKivMessage(message);
}

void MulticastReceiverCloud::parseMcKivMessage(const std::string& message)
{
    debugLog("MulticastReceiverCloud::parseMcKivMessage\n");
    const std::string address = getXmlValue("srvIpAddr", message);
    mOwner.onCloudServerAddress(address.c_str());
}
