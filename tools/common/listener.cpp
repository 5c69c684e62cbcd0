#include "tools/common/listener.h"

#include <array>
#include <csignal>
#include <memory>

#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "tools/common/output.h"

namespace asio = boost::asio;

namespace kiv::tools {
namespace {

constexpr std::size_t kLargestDatagram = 65536;

class Listening
{
public:
    Listening(asio::io_context& io, asio::ip::udp::socket& socket, const RunLimit& limit,
              const std::function<void(const Arrival&)>& onDatagram)
        : mIo(io), mSocket(socket), mLimit(limit), mOnDatagram(onDatagram), mTimer(io), mSignals(io, SIGINT, SIGTERM)
    {
    }

    bool run()
    {
        mSignals.async_wait([this](const boost::system::error_code& error, int) {
            if (!error)
                stop();
        });
        if (mLimit.seconds > 0) {
            mTimer.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(mLimit.seconds)));
            mTimer.async_wait([this](const boost::system::error_code& error) {
                if (!error)
                    stop();
            });
        }
        receive();
        mIo.run();
        return mLimit.count == 0 || mReceived >= mLimit.count;
    }

private:
    void receive()
    {
        mSocket.async_receive_from(asio::buffer(mBuffer), mFrom, [this](const boost::system::error_code& error, std::size_t bytes) {
            if (error == asio::error::operation_aborted || mStopped)
                return;
            if (!error) {
                Arrival arrival{std::string(mBuffer.data(), bytes), mFrom, std::chrono::system_clock::now(),
                                std::chrono::steady_clock::now()};
                mOnDatagram(arrival);
                ++mReceived;
                if (mLimit.count > 0 && mReceived >= mLimit.count) {
                    stop();
                    return;
                }
            }
            // An error here is an ICMP report of an earlier send or the
            // like; listening goes on.
            receive();
        });
    }

    void stop()
    {
        mStopped = true;
        boost::system::error_code ignored;
        mTimer.cancel();
        mSignals.cancel(ignored);
        mSocket.cancel(ignored);
    }

    asio::io_context& mIo;
    asio::ip::udp::socket& mSocket;
    RunLimit mLimit;
    const std::function<void(const Arrival&)>& mOnDatagram;
    asio::steady_timer mTimer;
    asio::signal_set mSignals;
    std::array<char, kLargestDatagram> mBuffer{};
    Endpoint mFrom;
    long long mReceived = 0;
    bool mStopped = false;
};

}  // namespace

bool listenUntil(asio::io_context& io, asio::ip::udp::socket& socket, const RunLimit& limit,
                 const std::function<void(const Arrival&)>& onDatagram)
{
    auto listening = std::make_unique<Listening>(io, socket, limit, onDatagram);
    return listening->run();
}

std::string IntervalTracker::since(const std::string& kind, const Endpoint& from, std::chrono::steady_clock::time_point now)
{
    const auto key = std::make_pair(kind, from.address().to_string());
    const auto found = mLast.find(key);
    std::string text = found == mLast.end() ? "-" : secondsText(now - found->second);
    mLast[key] = now;
    return text;
}

}  // namespace kiv::tools
