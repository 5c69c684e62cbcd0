#include "net/udp_kiv_server.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "base/text_helpers.h"
#include "metrics/cpu_usage.h"
#include "metrics/os_description.h"
#include "net/host_network.h"
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
        // Reads in a drain return at once when nothing is waiting; replies
        // still wait for room as before (sendReply).
        mSocket.non_blocking(true);
        const std::string address = getIpAddrString(getIpAddrInt("")) + ":" + std::to_string(kPort);
        infoLog("UdpKivServer::UdpKivServer  UDP SERVER ADDRESS=[%s]\n", address.c_str());
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
    std::memset(mRecvBuffer.data(), 0, kZeroedSize);
    receive_async();
}

void UdpKivServer::receive_async()
{
    // Into room for any datagram, then cut into the zeroed buffer: a receive
    // cut short completes twice on Windows (see datagram_buffer.h).
    mSocket.async_receive_from(asio::buffer(mDatagram.get(), kDatagramBufferSize), remote_endpoint_,
                               [this](const boost::system::error_code& error, std::size_t bytes) {
                                   if (error != asio::error::operation_aborted)
                                       std::copy_n(mDatagram.get(), std::min(bytes, kReceiveSize),
                                                   mRecvBuffer.data());
                                   handle_receive(error, bytes);
                               });
}

void UdpKivServer::handle_receive(const boost::system::error_code& completed, std::size_t bytes)
{
    if (completed == asio::error::operation_aborted)
        return;  // the socket is closing
    // Each datagram taken here is handled and logged exactly as if it had
    // come through a receive of its own.
    boost::system::error_code error = completed;
    for (int taken = 1;; ++taken) {
        debugLog("==>  UdpKivServer::handle_receive\n");
        if (!error || error == asio::error::message_size)
            take_datagram(bytes);
        const bool more = receive_next(taken, error, bytes);
        debugLog("<==  UdpKivServer::handle_receive\n");
        if (!more)
            return;
    }
}

bool UdpKivServer::receive_next(int taken, boost::system::error_code& error, std::size_t& bytes)
{
    if (taken >= kDrainLimit) {
        mOneByOne = false;
        start_receive();
        return false;
    }
    debugLog("<> UdpKivServer::start_receive\n");
    std::memset(mRecvBuffer.data(), 0, kZeroedSize);
    if (mBatchNext == mBatchCount) {
        if (mOneByOne) {
            // One at a time, as the last batch found them: a plain read costs
            // less than a batch read that brings one datagram.
            bytes = mSocket.receive_from(asio::buffer(mRecvBuffer.data(), kReceiveSize), remote_endpoint_, 0,
                                         error);
            if (!error)
                return true;
            bytes = 0;
            return !nothing_waiting(error);
        }
        // The batch is used up: read what is waiting now, within the limit.
        const auto asked = static_cast<std::size_t>(kDrainLimit - taken);
        mBatchNext = 0;
        mBatchCount = mBatch.receive(mSocket, asked, error);
        if (mBatchCount == 0) {
            bytes = 0;
            return !nothing_waiting(error);
        }
        // A lone datagram where more could have come: requests arrive one by
        // one (one requester waiting for each reply), so the rest of this
        // wake-up's reads take one each.
        if (mBatchCount == 1 && asked > 1)
            mOneByOne = true;
    }
    error = boost::system::error_code();
    bytes = take_from_batch();
    return true;
}

bool UdpKivServer::nothing_waiting(const boost::system::error_code& error)
{
    if (error != asio::error::would_block && error != asio::error::try_again)
        return false;  // a failed receive, handled as one
    // Nothing waiting: the buffer is zeroed already, the loop takes over. What
    // the wake-up finds decides how the reads go on from there.
    mOneByOne = false;
    if (waitsForReadable())
        wait_readable();
    else
        receive_async();
    return true;
}

std::size_t UdpKivServer::take_from_batch()
{
    // Into the zeroed buffer, as a receive would have put it there.
    const std::size_t bytes = mBatch.size(mBatchNext);
    std::copy_n(mBatch.data(mBatchNext), std::min(bytes, kReceiveSize), mRecvBuffer.data());
    remote_endpoint_ = mBatch.sender(mBatchNext);
    ++mBatchNext;
    return bytes;
}

void UdpKivServer::wait_readable()
{
    mSocket.async_wait(udp::socket::wait_read, [this](const boost::system::error_code& error) {
        if (error == asio::error::operation_aborted)
            return;  // the socket is closing
        // Most wake-ups find one datagram: one plain read for it, the batch
        // for whatever came with it.
        boost::system::error_code received = error;
        std::size_t bytes = 0;
        if (!received)
            bytes = mSocket.receive_from(asio::buffer(mRecvBuffer.data(), kReceiveSize), remote_endpoint_, 0,
                                         received);
        if (received == asio::error::would_block || received == asio::error::try_again) {
            wait_readable();  // woken for nothing
            return;
        }
        handle_receive(received, bytes);
    });
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
    if (debugLogWanted()) {
        // The text ends at the first zero byte or at the last byte
        // received, never beyond.
        const std::string text(mRecvBuffer.data(), strnlen(mRecvBuffer.data(), mReceived));
        debugLog("RX DATA FROM=[%s]\n", endpointToString(remote_endpoint_).c_str());
        // The length handled, whichever read brought it: a longer datagram
        // is cut to the receive buffer's 1501 bytes on every path.
        debugLog("SIP RX DATA  bytes_transferred=[%i] data=[%s]\n", static_cast<int>(mReceived),
                 text.c_str());
    }
    if (bytes > kParseThreshold)
        parseKivMessage();
}

void UdpKivServer::parseKivMessage()
{
    debugLog("UdpKivServer::parseKivMessage\n");
    const std::string_view text(mRecvBuffer.data(), strnlen(mRecvBuffer.data(), mReceived));
    if (text.empty())
        return;
    if (debugLogWanted())
        debugLog("RX DATA FROM=[%s]\n", endpointToString(remote_endpoint_).c_str());
    if (text.find("BEACON_CFG_ALARM ") != std::string_view::npos) {
        if (!mGuard.configAllowed(remote_endpoint_))
            return;
        debugLog("BEACON_CFG_ALARM ");
        handle_BEACON_CFG_ALARM(decodeKivMessage(std::string(text)));
        return;
    }
    if (text.find("STATUS_REQUEST ") != std::string_view::npos) {
        // Not an allowed source, or over the reply bound: no answer.
        if (!mGuard.statusAllowed(remote_endpoint_))
            return;
        debugLog("STATUS_REQUEST");
        handle_STATUS_REQUEST(decodeKivMessage(std::string(text)));
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
        // Built in place in storage kept from the last reply: no allocation
        // and, but for the address once a second, no system call.
        if (mOsDescription.empty())
            mOsDescription = buildOsDescription();
        char cpu[16];
        const auto cpuEnd = std::to_chars(cpu, cpu + sizeof cpu, CpuUsage::getCpuUsage()).ptr;
        mReply.clear();
        mReply += "<status>";
        mReply += "<ipAddr>";
        mReply += hostAddressText();
        mReply += "</ipAddr>\n";
        mReply += "<ipPort>";
        mReply += "45654";
        mReply += "</ipPort>\n";
        mReply += "<cpuPercent>";
        mReply.append(cpu, cpuEnd);
        mReply += "</cpuPercent>\n";
        mReply += "<os>";
        mReply += mOsDescription;
        mReply += "</os>\n";
        mReply += "</status>";
        if (debugLogWanted())
            debugLog("remote_endpoint_=[%s]\n", endpointToString(message->mSenderEndpoint).c_str());
        sendReply(message->mSenderEndpoint);
        if (mReplyFailure.active())
            replySent(message->mSenderEndpoint);
    } catch (...) {
        // No route back to one requester must not stop the answers to others.
        // A lasting failure is written when it starts or its reason changes,
        // at most hourly in between, and when replies go out again.
        mReplyFailedTo = message->mSenderEndpoint.address();
        mReplyFailedAt = std::chrono::steady_clock::now();
        reportRepeatedException(mReplyFailure, "UdpKivServer::handle_STATUS_REQUEST");
    }
}

void UdpKivServer::replySent(const udp::endpoint& to)
{
    // Other requesters may be answered while one still has no route back:
    // the failure has ended when the one it failed for is answered, or when
    // no reply has failed for a while.
    if (to.address() != mReplyFailedTo && std::chrono::steady_clock::now() - mReplyFailedAt < kReplyFailureQuiet)
        return;
    if (const unsigned failed = mReplyFailure.ended())
        infoLog("UdpKivServer::handle_STATUS_REQUEST replies sent again after [%u] failed\n", failed);
}

void UdpKivServer::sendReply(const udp::endpoint& to)
{
    sendWaitingForRoom(mSocket, asio::buffer(mReply), to);
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
