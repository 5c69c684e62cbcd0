#include "net/udp_bound_socket.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "net/socket_tuning.h"

namespace asio = boost::asio;
using asio::ip::udp;

namespace kiv {

UdpBoundSocket::UdpBoundSocket(asio::io_context& ioService, udp::endpoint local,
                               std::shared_ptr<BindFailures> failures)
    : mSocket(ioService),
      mSenderEndpoint(asio::ip::address_v4::any(), 0),
      mLocalEndpoint(local),
      mFailures(std::move(failures))
{
    try {
        debugLog("==>  UdpBoundSocket::UdpBoundSocket\n");
        debugLog("UdpBoundSocket::UdpBoundSocket  UDP SERVER ADDRESS=[%s:%i]\n",
                 local.address().to_string().c_str(), static_cast<int>(local.port()));
        mSocket.open(local.protocol());
        mSocket.set_option(asio::socket_base::reuse_address(true));
        ignoreConnectionResets(mSocket);
        mSocket.bind(local);
        mBound = true;
        mFailures->notBound.ended();
        if (const unsigned tries = mFailures->bind.ended())
            infoLog("UdpBoundSocket::UdpBoundSocket  bound on [%s:%i] after %u failed tries\n",
                    local.address().to_string().c_str(), static_cast<int>(local.port()), tries);
        start_receive();
        debugLog("<==  UdpBoundSocket::UdpBoundSocket\n");
    } catch (...) {
        // The line and the dialog's event item under the repeat rule of the
        // address; the Event Log takes only the lines written.
        mBindError = currentExceptionReason();
        reportRepeatedException(mFailures->bind, "UdpBoundSocket::UdpBoundSocket", true);
    }
}

UdpBoundSocket::~UdpBoundSocket()
{
    debugLog("<> UdpBoundSocket::~UdpBoundSocket\n");
}

void UdpBoundSocket::start_receive()
{
    debugLog("<> UdpBoundSocket::start_receive\n");
    // The socket goes when its address goes, while the service runs: a
    // completion already queued then finds no object and does nothing.
    std::weak_ptr<void> alive = mAlive;
    mSocket.async_receive_from(asio::buffer(mDatagram.get(), kDatagramBufferSize), mSenderEndpoint,
                               [this, alive](const boost::system::error_code& error, std::size_t bytes) {
                                   if (!alive.expired())
                                       handle_receive(error, bytes);
                               });
}

void UdpBoundSocket::handle_receive(const boost::system::error_code& error, std::size_t bytes)
{
    if (error == asio::error::operation_aborted)
        return;  // the socket is closing
    debugLog("==>  UdpBoundSocket::handle_receive\n");
    if (!error || error == asio::error::message_size) {
        bytes = std::min(bytes, kReceiveSize);  // the datagram cut to its length
        std::memset(mRecvBuffer.data(), 0, kZeroedSize);
        std::copy_n(mDatagram.get(), bytes, mRecvBuffer.data());
        const std::size_t size = bytes;
        const std::string text(mRecvBuffer.data(), strnlen(mRecvBuffer.data(), size));
        debugLog("RX DATA FROM=[%s:%i]\n", mSenderEndpoint.address().to_string().c_str(),
                 static_cast<int>(mSenderEndpoint.port()));
        debugLog("SIP RX DATA  bytes_transferred=[%i] data=[%s]\n", static_cast<int>(bytes),
                 text.c_str());
        if (bytes > kParseThreshold)
            debugLog("UdpBoundSocket::parseKivMessage   NOT WIRED UP !!!!\n");
    }
    start_receive();
    debugLog("<==  UdpBoundSocket::handle_receive\n");
}

void UdpBoundSocket::sendData(std::string text, udp::endpoint remote)
{
    try {
        debugLog("==>  UdpBoundSocket::sendData\n");
        const auto data = std::make_shared<std::string>(text.c_str());
        if (remote.port() == 0) {
            debugLog("<==  UdpBoundSocket::sendData  (remote.port() == 0)\n");
            return;
        }
        if (!mBound) {
            logRepeat(LogLevel::warning, !mFailures->notBound.failed(mBindError, RepeatedWarning::Clock::now()),
                      "*** NOT SENT: socket on [%s] not bound [%s]\n",
                      mLocalEndpoint.address().to_string().c_str(), mBindError.c_str());
            return;
        }
        debugLog("SEND TX DATA TO=[%s:%i]\n", remote.address().to_string().c_str(),
                 static_cast<int>(remote.port()));
        debugLog("SEND TX DATA=[%s]\n", data->c_str());
        mSocket.send_to(asio::buffer(*data), remote);
        debugLog("<==  UdpBoundSocket::sendData\n");
        const auto failing = mSendFailures.find(remote);
        if (failing != mSendFailures.end()) {
            if (const unsigned tries = failing->second.ended())
                infoLog("UdpBoundSocket::sendData to [%s:%i] sent after %u failed tries\n",
                        remote.address().to_string().c_str(), static_cast<int>(remote.port()), tries);
            mSendFailures.erase(failing);
        }
    } catch (...) {
        reportRepeatedException(mSendFailures[remote], "UdpBoundSocket::sendData");
    }
}

}  // namespace kiv
