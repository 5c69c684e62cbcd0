// What the listeners check before they act on a datagram: whether its source
// may send configuration, whether it may have a status reply now (allowed
// and within the reply bound). Refusals are counted; the counts go to the
// log once a minute when any is non-zero.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "base/reply_bound.h"
#include "base/service_options.h"

namespace kiv {

// The period of the count lines of the listeners the service makes: a
// minute; the tests of the running service shorten it.
void setServiceCountPeriod(std::chrono::steady_clock::duration period);
std::chrono::steady_clock::duration serviceCountPeriod();

class SourceGuard
{
public:
    // `where` names the listener in the log lines ("Beacon group", "Command
    // port"). The count timer runs on `ioService`.
    SourceGuard(boost::asio::io_context& ioService, const ServiceOptions& options, std::string where,
                std::chrono::steady_clock::duration countPeriod = serviceCountPeriod());
    SourceGuard(const SourceGuard&) = delete;
    SourceGuard& operator=(const SourceGuard&) = delete;

    // True when a configuration from `sender` may be taken; otherwise it is
    // counted, with a log line at most once a minute per source.
    bool configAllowed(const boost::asio::ip::udp::endpoint& sender);
    // True when a status request from `sender` is to be answered now;
    // otherwise it is counted (refused: not an allowed source; dropped: over
    // the bound) and nothing is logged.
    bool statusAllowed(const boost::asio::ip::udp::endpoint& sender)
    {
        const std::uint32_t source = sourceOf(sender);
        if (!mStatusFrom.allows(source)) {
            ++mStatusRefused;
            return false;
        }
        if (!mBound.bounded() || mBound.admit(source, nowNs()))
            return true;
        ++mStatusDropped;
        return false;
    }

private:
    static std::uint32_t sourceOf(const boost::asio::ip::udp::endpoint& sender)
    {
        return sender.address().is_v4() ? sender.address().to_v4().to_uint() : 0;
    }
    static std::int64_t nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void startCountTimer();
    void logCounts();

    SourceAllowList mConfigFrom;
    SourceAllowList mStatusFrom;
    ReplyBound mBound;
    RefusalNotes mNotes;
    std::string mWhere;
    std::uint64_t mConfigIgnored = 0;
    std::uint64_t mStatusRefused = 0;
    std::uint64_t mStatusDropped = 0;
    std::chrono::steady_clock::duration mCountPeriod;
    boost::asio::steady_timer mCountTimer;
};

}  // namespace kiv
