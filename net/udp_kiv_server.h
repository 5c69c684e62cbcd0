// The UDP command server on port 45654: answers "STATUS_REQUEST " with a
// status block and recognises "BEACON_CFG_ALARM ".
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "base/repeated_warning.h"
#include "base/service_options.h"
#include "net/datagram_batch.h"
#include "net/source_guard.h"
#include "net/datagram_buffer.h"

namespace kiv {

class UdpKivData
{
public:
    UdpKivData() = default;
    virtual ~UdpKivData();

    boost::asio::ip::udp::endpoint mEndpoint{boost::asio::ip::address_v4::any(), 0};
    std::string mFirstText;
    std::string mSecondText;
};

class UdpKivMessage : public UdpKivData
{
public:
    UdpKivMessage() = default;
    ~UdpKivMessage() override;
    UdpKivMessage(const UdpKivMessage&) = delete;
    UdpKivMessage& operator=(const UdpKivMessage&) = delete;

    boost::asio::ip::udp::endpoint mSenderEndpoint{boost::asio::ip::address_v4::any(), 0};
    std::string mText;
};

class UdpKivServer
{
public:
    // Throws boost::system::system_error ("open" or "bind") when port 45654
    // cannot be had, for example while another instance holds it. The
    // options say whose configuration and status requests are taken.
    explicit UdpKivServer(boost::asio::io_context& ioService,
                          const ServiceOptions& options = serviceOptions());
    virtual ~UdpKivServer();
    UdpKivServer(const UdpKivServer&) = delete;
    UdpKivServer& operator=(const UdpKivServer&) = delete;

    void start_receive();
    void handle_receive(const boost::system::error_code& error, std::size_t bytes);
    // A datagram of `bytes` bytes at `data` from `sender`, taken as a receive
    // takes it: into the zeroed buffer, cut to 1501 bytes.
    void handleDatagram(const char* data, std::size_t bytes,
                        const boost::asio::ip::udp::endpoint& sender);
    void parseKivMessage();
    std::shared_ptr<UdpKivMessage> decodeKivMessage(const std::string& text);
    void handle_BEACON_CFG_ALARM(std::shared_ptr<UdpKivMessage> message);
    void handle_STATUS_REQUEST(std::shared_ptr<UdpKivMessage> message);
    static std::string endpointToString(boost::asio::ip::udp::endpoint endpoint);

    static constexpr unsigned short kPort = 45654;
    static constexpr std::size_t kReceiveSize = 1501;
    static constexpr std::size_t kZeroedSize = 1500;
    static constexpr std::size_t kParseThreshold = 10;
    // Datagrams taken in one wake-up of the worker at most: what is already
    // waiting is read without blocking up to this many, then the receive
    // goes back to the loop so the tick and the other sockets get their turn.
    static constexpr int kDrainLimit = 32;

private:
    void receive_async();
    void take_datagram(std::size_t bytes);
    // The next receive: the datagram already waiting, if any (true, with
    // its outcome in `error` and `bytes`), otherwise the socket's next one
    // through the loop (false).
    bool receive_next(int taken, boost::system::error_code& error, std::size_t& bytes);
    // After a read that took nothing: true when the socket was empty (the
    // loop now waits for its next datagram), false for a failed receive.
    bool nothing_waiting(const boost::system::error_code& error);
    void wait_readable();
    // The next datagram of the batch, into the receive buffer; its size.
    std::size_t take_from_batch();
    void sendReply(const boost::asio::ip::udp::endpoint& to);
    // A reply went out while replies were failing: ends the failure when it
    // is over.
    void replySent(const boost::asio::ip::udp::endpoint& to);
    const std::string& hostAddressText();

    // Parts of the status reply kept between requests, so that a burst of
    // requests costs no lookup each: the OS description (it does not change
    // while the program runs) and the host's address, looked up again when
    // it is more than a second old. Touched by the worker only.
    std::string mOsDescription;
    std::string mReply;  // the reply being sent, its storage kept between requests
    std::string mHostAddressText;
    std::chrono::steady_clock::time_point mHostAddressTime{};

    // Failed replies, under the repeat rule by their reason; the requester
    // of the last one and when it failed.
    static constexpr std::chrono::minutes kReplyFailureQuiet{1};
    RepeatedWarning mReplyFailure;
    boost::asio::ip::address mReplyFailedTo;
    std::chrono::steady_clock::time_point mReplyFailedAt{};

    boost::asio::ip::udp::socket mSocket;
    SourceGuard mGuard;
    DatagramBuffer mDatagram = makeDatagramBuffer();  // what the receive fills
    std::array<char, kReceiveSize> mRecvBuffer{};
    std::size_t mReceived = 0;  // bytes of the datagram in hand
    // Datagrams read together and not yet handled: mBatchNext to mBatchCount.
    DatagramBatch mBatch{kReceiveSize};
    std::size_t mBatchCount = 0;
    std::size_t mBatchNext = 0;
    // A batch read of this wake-up brought a lone datagram: the rest are
    // read one by one. Cleared when the wake-up ends, so that the next one
    // looks again how many are waiting.
    bool mOneByOne = false;
};

}  // namespace kiv
