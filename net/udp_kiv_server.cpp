#include "net/udp_kiv_server.h"

#include <algorithm>
#include <cstring>

#include "core/debug_log.h"
#include "core/event_text.h"
#include "core/text_helpers.h"
#include "metrics/cpu_usage.h"
#include "metrics/os_description.h"
#include "net/socket_tuning.h"

namespace asio = boost::asio;
using asio::ip::udp;

namespace kiv {
namespace {

// The sender of the datagram in hand; written by the one pending receive.
udp::endpoint remote_endpoint_(asio::ip::address_v4::any(), 0);

}  // namespace

UdpKivData::~UdpKivData() = default;

UdpKivMessage::~UdpKivMessage()
{
    debugLog("UdpKivMessage::~UdpKivMessage\n");
}

UdpKivServer::UdpKivServer(asio::io_context& ioService, const ServiceOptions& options)
    : mSocket(ioService, udp::endpoint(asio::ip::address_v4::any(), kPort)),
      mGuard(ioService, options, "Command port")
{
    debugLog("==>  UdpKivServer::UdpKivServer\n");
    try {
        ignoreConnectionResets(mSocket);
        const std::string address = getIpAddrString(getIpAddrInt("")) + ":" + std::to_string(kPort);
        debugLog("UdpKivServer::UdpKivServer  UDP SERVER ADDRESS=[%s]\n", address.c_str());
        start_receive();
    } catch (...) {
        reportException("UdpKivServer::UdpKivServer");
    }
    debugLog("<==  UdpKivServer::UdpKivServer\n");
}

UdpKivServer::~UdpKivServer()
{
    debugLog("<> UdpKivServer::~UdpKivServer\n");
}

void UdpKivServer::start_receive()
{
    debugLog("<> UdpKivServer::start_receive\n");
    mSocket.async_receive_from(asio::buffer(mDatagram.get(), kDatagramBufferSize), remote_endpoint_,
                               [this](const boost::system::error_code& error, std::size_t bytes) {
                                   handle_receive(error, bytes);
                               });
}

void UdpKivServer::handle_receive(const boost::system::error_code& error, std::size_t bytes)
{
    if (error == asio::error::operation_aborted)
        return;  // the socket is closing
    debugLog("==>  UdpKivServer::handle_receive\n");
    if (!error || error == asio::error::message_size)
        handleDatagram(mDatagram.get(), std::min(bytes, kReceiveSize), remote_endpoint_);
    start_receive();
    debugLog("<==  UdpKivServer::handle_receive\n");
}

void UdpKivServer::handleDatagram(const char* data, std::size_t bytes, const udp::endpoint& sender)
{
    std::memset(mRecvBuffer.data(), 0, kZeroedSize);
    std::copy_n(data, std::min(bytes, kReceiveSize), mRecvBuffer.data());
    remote_endpoint_ = sender;
    take_datagram(bytes);
}

void UdpKivServer::take_datagram(std::size_t bytes)
{
    mReceived = std::min(bytes, kReceiveSize);
    // The text ends at the first zero byte or at the last byte received,
    // never beyond.
    const std::string text(mRecvBuffer.data(), strnlen(mRecvBuffer.data(), mReceived));
    debugLog("RX DATA FROM=[%s]\n", endpointToString(remote_endpoint_).c_str());
    debugLog("SIP RX DATA  bytes_transferred=[%i] data=[%s]\n", static_cast<int>(bytes),
             text.c_str());
    if (bytes > kParseThreshold)
        parseKivMessage();
}

void UdpKivServer::parseKivMessage()
{
    debugLog("UdpKivServer::parseKivMessage\n");
    const std::string text(mRecvBuffer.data(), strnlen(mRecvBuffer.data(), mReceived));
    if (text.empty())
        return;
    debugLog("RX DATA FROM=[%s]\n", endpointToString(remote_endpoint_).c_str());
    if (text.find("BEACON_CFG_ALARM ") != std::string::npos) {
        if (!mGuard.configAllowed(remote_endpoint_))
            return;
        debugLog("BEACON_CFG_ALARM ");
        handle_BEACON_CFG_ALARM(decodeKivMessage(text));
        return;
    }
    if (text.find("STATUS_REQUEST ") != std::string::npos) {
        // Not an allowed source, or over the reply bound: no answer.
        if (!mGuard.statusAllowed(remote_endpoint_))
            return;
        debugLog("STATUS_REQUEST");
        handle_STATUS_REQUEST(decodeKivMessage(text));
    }
}

std::shared_ptr<UdpKivMessage> UdpKivServer::decodeKivMessage(const std::string& text)
{
    debugLog("UdpKivServer::decodeKivMessage");
    auto message = std::make_shared<UdpKivMessage>();
    message->mText = text;
    message->mSenderEndpoint = remote_endpoint_;
    return message;
}

void UdpKivServer::handle_BEACON_CFG_ALARM(std::shared_ptr<UdpKivMessage> /*message*/)
{
    debugLog("UdpKivServer::handle_BEACON_CFG_ALARM");
}

void UdpKivServer::handle_STATUS_REQUEST(std::shared_ptr<UdpKivMessage> message)
{
    try {
        debugLog("UdpKivServer::handle_STATUS_REQUEST");
        auto reply = std::make_shared<std::string>();
        *reply += "<status>";
        *reply += "<ipAddr>";
        *reply += hostAddressText();
        *reply += "</ipAddr>\n";
        *reply += "<ipPort>";
        *reply += "45654";
        *reply += "</ipPort>\n";
        *reply += "<cpuPercent>";
        *reply += std::to_string(CpuUsage::getCpuUsage());
        *reply += "</cpuPercent>\n";
        *reply += "<os>";
        if (mOsDescription.empty())
            mOsDescription = buildOsDescription();
        *reply += mOsDescription;
        *reply += "</os>\n";
        *reply += "</status>";
        debugLog("remote_endpoint_=[%s]\n", endpointToString(message->mSenderEndpoint).c_str());
        mSocket.send_to(asio::buffer(*reply), message->mSenderEndpoint);
    } catch (...) {
        // No route back to one requester must not stop the answers to others.
        reportException("UdpKivServer::handle_STATUS_REQUEST");
    }
}

const std::string& UdpKivServer::hostAddressText()
{
    const auto now = std::chrono::steady_clock::now();
    if (mHostAddressText.empty() || now - mHostAddressTime >= std::chrono::seconds(1)) {
        mHostAddressText = getIpAddrString(getIpAddrInt(""));
        mHostAddressTime = now;
    }
    return mHostAddressText;
}

std::string UdpKivServer::endpointToString(udp::endpoint endpoint)
{
    return endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
}

}  // namespace kiv
