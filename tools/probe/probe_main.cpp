// varn-probe: asks a workstation for its status, plays a watchdog server, and
// shows the state of the service on this station through its view channel.
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "base/text_helpers.h"
#include "tools/common/latency.h"
#include "tools/common/listener.h"
#include "tools/common/output.h"
#include "tools/common/tool_main.h"
#include "tools/common/udp.h"
#include "tools/common/wire_text.h"
#include "tools/probe/probe_options.h"
#include "tools/probe/probe_view.h"

namespace asio = boost::asio;
using asio::ip::udp;
using namespace kiv::tools;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReplyBufferSize = 4096;

std::uint64_t microseconds(Clock::duration duration)
{
    const auto count = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
    return count < 0 ? 0 : static_cast<std::uint64_t>(count);
}

// Status requests with up to K in flight. Each slot has its own socket,
// connected to the workstation: its replies and the host's refusals come to
// that socket only, so a reply belongs to the slot's one request. A slot
// whose request timed out gets a fresh socket, so a late reply cannot be
// taken for the answer to the next request.
class StatusProbe
{
public:
    StatusProbe(asio::io_context& io, const ProbeOptions& options)
        : mIo(io), mOptions(options), mTarget(endpointOf(options.target, options.port)), mPacer(io), mEnd(io),
          mSignals(io, SIGINT, SIGTERM)
    {
        for (int i = 0; i < options.inFlight; ++i) {
            mSlots.push_back(std::make_unique<Slot>(io));
            openSlot(*mSlots.back());
        }
    }

    // Returns the number of replies.
    std::uint64_t run()
    {
        mStart = Clock::now();
        mLastEvent = mStart;
        mSignals.async_wait([this](const boost::system::error_code& error, int) { onSignal(error); });
        if (mOptions.limit.seconds > 0) {
            mEnd.expires_after(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(mOptions.limit.seconds)));
            mEnd.async_wait([this](const boost::system::error_code& error) {
                if (!error)
                    stopSending();
            });
        }
        sendWhatIsDue();
        mIo.run();
        printSummary();
        return mLatency.count();
    }

private:
    struct Slot {
        explicit Slot(asio::io_context& io) : socket(io), timer(io) {}
        udp::socket socket;
        asio::steady_timer timer;
        bool busy = false;
        long long sequence = 0;
        Clock::time_point sentAt;
        std::array<char, kReplyBufferSize> buffer{};
    };

    void openSlot(Slot& slot)
    {
        openBound(slot.socket, mOptions.bindAddress, 0, false);
        boost::system::error_code error;
        slot.socket.connect(mTarget, error);
        if (error)
            throw RunError("cannot address " + endpointText(mTarget) + ": " + errorText(error));
    }

    bool moreToSend() const
    {
        return !mSendingStopped && (mOptions.limit.count == 0 || mSent < mOptions.limit.count);
    }

    void sendWhatIsDue()
    {
        while (moreToSend()) {
            Slot* free = nullptr;
            for (auto& slot : mSlots) {
                if (!slot->busy) {
                    free = slot.get();
                    break;
                }
            }
            if (free == nullptr)
                return;  // a completion calls again
            if (mOptions.rate > 0) {
                const auto due = mStart + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(static_cast<double>(mSent) / mOptions.rate));
                if (Clock::now() < due) {
                    if (!mPacerArmed) {
                        mPacerArmed = true;
                        mPacer.expires_at(due);
                        mPacer.async_wait([this](const boost::system::error_code& error) {
                            mPacerArmed = false;
                            if (!error)
                                sendWhatIsDue();
                        });
                    }
                    return;
                }
            }
            send(*free);
        }
        finishIfIdle();
    }

    void send(Slot& slot)
    {
        slot.busy = true;
        slot.sequence = ++mSent;
        slot.sentAt = Clock::now();
        boost::system::error_code error;
        slot.socket.send(asio::buffer(kStatusRequest, std::char_traits<char>::length(kStatusRequest)), 0, error);
        if (error == asio::error::connection_refused) {
            // The host's refusal of an earlier request, reported on this send.
            ++mRefused;
            printRefused(slot.sequence);
            slot.busy = false;
            return;
        }
        if (error)
            throw RunError("cannot send to " + endpointText(mTarget) + ": " + errorText(error));
        const long long sequence = slot.sequence;
        slot.socket.async_receive(asio::buffer(slot.buffer), [this, &slot, sequence](const boost::system::error_code& e, std::size_t bytes) {
            onReceive(slot, sequence, e, bytes);
        });
        slot.timer.expires_after(std::chrono::milliseconds(mOptions.timeoutMs));
        slot.timer.async_wait([this, &slot, sequence](const boost::system::error_code& e) {
            if (!e && slot.busy && slot.sequence == sequence)
                timedOut(slot);
        });
    }

    void onReceive(Slot& slot, long long sequence, const boost::system::error_code& error, std::size_t bytes)
    {
        if (error == asio::error::operation_aborted || !slot.busy || slot.sequence != sequence)
            return;
        if (error == asio::error::connection_refused) {
            refused(slot);
            return;
        }
        if (error)
            throw RunError("cannot receive from " + endpointText(mTarget) + ": " + errorText(error));
        const auto now = Clock::now();
        const std::uint64_t rtt = microseconds(now - slot.sentAt);
        mLatency.add(rtt);
        if (!mOptions.quiet) {
            const std::string text(slot.buffer.data(), bytes);
            const StatusReply reply = readStatusReply(text);
            Fields fields = {{"seq", std::to_string(sequence)},
                             {"from", endpointText(mTarget)},
                             {"rtt_us", std::to_string(rtt)},
                             {"bytes", std::to_string(bytes)}};
            if (reply.valid)
                fields.insert(fields.end(), {{"ipAddr", reply.ipAddr},
                                             {"ipPort", reply.ipPort},
                                             {"cpuPercent", reply.cpuPercent},
                                             {"os", reply.os}});
            else
                fields.emplace_back("status", "unreadable");
            if (mOptions.showText)
                fields.emplace_back("text", text);
            printLine("reply" + fieldsText(fields));
        }
        complete(slot, now);
    }

    void printRefused(long long sequence)
    {
        if (!mOptions.quiet)
            printLine("refused" + fieldsText({{"seq", std::to_string(sequence)},
                                              {"to", endpointText(mTarget)},
                                              {"why", "nothing listens on that port"}}));
    }

    void refused(Slot& slot)
    {
        ++mRefused;
        printRefused(slot.sequence);
        complete(slot, Clock::now());
    }

    void timedOut(Slot& slot)
    {
        ++mLost;
        if (!mOptions.quiet)
            printLine("lost" + fieldsText({{"seq", std::to_string(slot.sequence)},
                                           {"to", endpointText(mTarget)},
                                           {"timeout_ms", std::to_string(mOptions.timeoutMs)}}));
        boost::system::error_code ignored;
        slot.socket.close(ignored);
        openSlot(slot);
        complete(slot, Clock::now());
    }

    void complete(Slot& slot, Clock::time_point now)
    {
        slot.busy = false;
        slot.timer.cancel();
        mLastEvent = now;
        sendWhatIsDue();
    }

    void stopSending()
    {
        mSendingStopped = true;
        finishIfIdle();
    }

    void onSignal(const boost::system::error_code& error)
    {
        if (error)
            return;
        if (mSendingStopped) {
            finish();  // a second Ctrl+C: stop waiting for replies
            return;
        }
        stopSending();
        if (!mFinished)  // still awaiting replies: a second signal stops that
            mSignals.async_wait([this](const boost::system::error_code& e, int) { onSignal(e); });
    }

    void finishIfIdle()
    {
        if (moreToSend())
            return;
        for (const auto& slot : mSlots) {
            if (slot->busy)
                return;
        }
        finish();
    }

    void finish()
    {
        if (mFinished)
            return;
        mFinished = true;
        mSendingStopped = true;
        boost::system::error_code ignored;
        mPacer.cancel();
        mEnd.cancel();
        mSignals.cancel(ignored);
        for (auto& slot : mSlots) {
            if (slot->busy)
                ++mLost;  // abandoned
            slot->busy = false;
            slot->timer.cancel();
            slot->socket.close(ignored);
        }
    }

    void printSummary()
    {
        const Clock::duration elapsed = mLastEvent - mStart;
        const double seconds = std::chrono::duration<double>(elapsed).count();
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? static_cast<double>(mLatency.count()) / seconds : 0.0);
        printLine("summary" + fieldsText({{"target", endpointText(mTarget)},
                                          {"sent", std::to_string(mSent)},
                                          {"replies", std::to_string(mLatency.count())},
                                          {"lost", std::to_string(mLost)},
                                          {"refused", std::to_string(mRefused)},
                                          {"duration_s", secondsText(elapsed)},
                                          {"rate", rate},
                                          {"p50_us", std::to_string(mLatency.percentile(50))},
                                          {"p99_us", std::to_string(mLatency.percentile(99))},
                                          {"min_us", std::to_string(mLatency.min())},
                                          {"max_us", std::to_string(mLatency.max())}}));
    }

    asio::io_context& mIo;
    const ProbeOptions& mOptions;
    const Endpoint mTarget;
    std::vector<std::unique_ptr<Slot>> mSlots;
    asio::steady_timer mPacer;
    asio::steady_timer mEnd;
    asio::signal_set mSignals;
    bool mPacerArmed = false;
    bool mSendingStopped = false;
    bool mFinished = false;
    Clock::time_point mStart;
    Clock::time_point mLastEvent;
    long long mSent = 0;
    long long mLost = 0;
    long long mRefused = 0;
    LatencyHistogram mLatency;
};

int status(const ProbeOptions& options)
{
    asio::io_context io;
    auto probe = std::make_unique<StatusProbe>(io, options);
    if (probe->run() == 0) {
        std::fprintf(stderr, "varn-probe: no reply from %s\n", endpointText(endpointOf(options.target, options.port)).c_str());
        return kExitFailure;
    }
    return 0;
}

int listen(const ProbeOptions& options)
{
    asio::io_context io;
    udp::socket socket(io);
    openBound(socket, options.bindAddress, options.port, false);

    long long counts[4] = {0, 0, 0, 0};
    IntervalTracker intervals;
    const auto start = Clock::now();
    if (!options.quiet)
        printLine("listening" + fieldsText({{"on", endpointText(endpointOf(options.bindAddress, options.port))}}));
    const bool complete = listenUntil(io, socket, options.limit, [&](const Arrival& arrival) {
        const WatchdogMessage message = readWatchdogMessage(arrival.data);
        ++counts[static_cast<int>(message.kind)];
        if (options.quiet)
            return;
        const char* kind = watchdogKindName(message.kind);
        Fields fields = {{"from", endpointText(arrival.from)}, {"bytes", std::to_string(arrival.data.size())}};
        if (message.kind != WatchdogKind::Other) {
            if (message.kind != WatchdogKind::Alarm)
                fields.emplace_back("ipAddr", message.ipAddr);
            if (message.kind != WatchdogKind::KeepAlive)
                fields.emplace_back("interfaces", [&] {
                    std::string list;
                    for (const std::string& address : message.interfaces)
                        list += (list.empty() ? "" : ",") + address;
                    return list;
                }());
            fields.emplace_back("cpu", message.cpuUsage);
            fields.emplace_back("host", message.hostName);
        }
        fields.emplace_back("since_last", intervals.since(kind, arrival.from, arrival.steady));
        if (options.showText)
            fields.emplace_back("text", arrival.data);
        printLine(clockTime(arrival.wallClock) + " " + kind + fieldsText(fields));
    });
    printLine("summary" + fieldsText({{"keep_alives", std::to_string(counts[static_cast<int>(WatchdogKind::KeepAlive)])},
                                      {"reports", std::to_string(counts[static_cast<int>(WatchdogKind::Report)])},
                                      {"alarms", std::to_string(counts[static_cast<int>(WatchdogKind::Alarm)])},
                                      {"other", std::to_string(counts[static_cast<int>(WatchdogKind::Other)])},
                                      {"duration_s", secondsText(Clock::now() - start)}}));
    if (!complete) {
        std::fprintf(stderr, "varn-probe: heard fewer than %lld datagrams\n", options.limit.count);
        return kExitFailure;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return runTool("varn-probe", [&] {
        const ProbeOptions options = parseProbeOptions(commandLineTokens(argc, argv));
        if (options.help || options.version) {
            std::fputs(options.help ? probeHelp().c_str() : versionLine("varn-probe").c_str(), stdout);
            return 0;
        }
        if (options.command == ProbeCommand::View)
            return view(options);
        return options.command == ProbeCommand::Status ? status(options) : listen(options);
    });
}
