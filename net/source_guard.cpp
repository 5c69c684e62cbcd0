#include "net/source_guard.h"

#include <atomic>
#include <utility>

#include "base/debug_log.h"

namespace kiv {
namespace {

std::atomic<std::chrono::steady_clock::rep> gCountPeriod{
    std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::minutes(1)).count()};

}  // namespace

void setServiceCountPeriod(std::chrono::steady_clock::duration period)
{
    gCountPeriod.store(period.count());
}

std::chrono::steady_clock::duration serviceCountPeriod()
{
    return std::chrono::steady_clock::duration(gCountPeriod.load());
}

SourceGuard::SourceGuard(boost::asio::io_context& ioService, const ServiceOptions& options, std::string where,
                         std::chrono::steady_clock::duration countPeriod)
    : mConfigFrom(options.allowConfigFrom),
      mStatusFrom(options.allowStatusFrom),
      mBound(options.statusRate),
      mWhere(std::move(where)),
      mCountPeriod(countPeriod),
      mCountTimer(ioService)
{
    mCountTimer.expires_after(mCountPeriod);
    startCountTimer();
}

bool SourceGuard::configAllowed(const boost::asio::ip::udp::endpoint& sender)
{
    const std::uint32_t source = sourceOf(sender);
    if (mConfigFrom.allows(source))
        return true;
    ++mConfigIgnored;
    if (mNotes.shouldLog(source, nowNs()))
        warningLog("%s: configuration from %s ignored: not an allowed source (%s)\n", mWhere.c_str(),
                   sender.address().to_string().c_str(), mConfigFrom.text().c_str());
    return false;
}

void SourceGuard::startCountTimer()
{
    mCountTimer.async_wait([this](const boost::system::error_code& error) {
        if (error == boost::asio::error::operation_aborted)
            return;
        logCounts();
        // From the previous expiry: one line per period, without drift.
        mCountTimer.expires_at(mCountTimer.expiry() + mCountPeriod);
        startCountTimer();
    });
}

void SourceGuard::logCounts()
{
    if (mConfigIgnored == 0 && mStatusRefused == 0 && mStatusDropped == 0)
        return;
    infoLog("%s, last minute: %llu configurations ignored, %llu status requests refused, "
            "%llu status requests dropped over the reply bound\n",
            mWhere.c_str(), static_cast<unsigned long long>(mConfigIgnored),
            static_cast<unsigned long long>(mStatusRefused), static_cast<unsigned long long>(mStatusDropped));
    mConfigIgnored = 0;
    mStatusRefused = 0;
    mStatusDropped = 0;
}

}  // namespace kiv
