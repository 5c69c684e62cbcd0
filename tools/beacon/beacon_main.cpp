// varn-beacon: plays the plant network's beacons for commissioning, and
// listens to the beacon group as a beacon does.
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
#include "net/host_network.h"
#include "service/kiv_server.h"
#include "tools/beacon/beacon_options.h"
#include "tools/common/listener.h"
#include "tools/common/output.h"
#include "tools/common/tool_main.h"
#include "tools/common/udp.h"

namespace asio = boost::asio;
using asio::ip::udp;
using namespace kiv::tools;

namespace {

using Clock = std::chrono::steady_clock;

Endpoint groupEndpoint()
{
    return endpointOf(getIpAddrInt(kiv::kBeaconGroup), kiv::kWatchdogPort);
}

std::unique_ptr<udp::socket> senderSocket(asio::io_context& io, const BeaconOptions& options, std::uint32_t from)
{
    auto socket = std::make_unique<udp::socket>(io);
    openBound(*socket, from, 0, false);
    setMulticastSending(*socket, options.interfaceAddress, options.hasInterface, options.ttl);
    return socket;
}

// One line for a datagram sent: what the workstation will read from it.
void printSent(const BeaconOptions& options, long long sequence, const udp::socket& socket, const std::string& text)
{
    if (options.quiet)
        return;
    const GroupMessage message = readGroupMessage(text);
    boost::system::error_code ignored;
    printLine(std::string("sent ") + groupKindName(message.kind) +
              fieldsText({{"seq", std::to_string(sequence)},
                          {"from", endpointText(socket.local_endpoint(ignored))},
                          {"to", endpointText(groupEndpoint())},
                          {"bytes", std::to_string(text.size())}}) +
              fieldsText(message.fields));
}

void printSendSummary(std::size_t senders, long long sent, Clock::duration elapsed)
{
    printLine("summary" + fieldsText({{"senders", std::to_string(senders)},
                                      {"sent", std::to_string(sent)},
                                      {"duration_s", secondsText(elapsed)}}));
}

// Rounds of announcements, one from each beacon, `1 / rate` apart.
class Announcing
{
public:
    Announcing(asio::io_context& io, const BeaconOptions& options)
        : mIo(io), mOptions(options), mTimer(io), mSignals(io, SIGINT, SIGTERM),
          mPeriod(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / options.rate)))
    {
        if (options.from.empty())
            mSockets.push_back(senderSocket(io, options, 0));
        for (std::uint32_t address : options.from)
            mSockets.push_back(senderSocket(io, options, address));
    }

    void run()
    {
        mStart = Clock::now();
        mSignals.async_wait([this](const boost::system::error_code& error, int) {
            if (!error)
                finish();
        });
        sendRound();
        mIo.run();
        printSendSummary(mSockets.size(), mSent, Clock::now() - mStart);
    }

private:
    void sendRound()
    {
        ++mRounds;
        for (std::size_t i = 0; i < mSockets.size(); ++i) {
            const std::string text = announcementText(mOptions.announcements[i]);
            sendText(*mSockets[i], text, groupEndpoint());
            ++mSent;
            printSent(mOptions, mRounds, *mSockets[i], text);
        }
        const Clock::time_point next = mStart + mPeriod * mRounds;
        const bool countDone = mOptions.limit.count > 0 && mRounds >= mOptions.limit.count;
        const bool timeDone = mOptions.limit.seconds > 0 &&
                              next - mStart >= std::chrono::duration<double>(mOptions.limit.seconds);
        if (countDone || timeDone) {
            finish();
            return;
        }
        mTimer.expires_at(next);
        mTimer.async_wait([this](const boost::system::error_code& error) {
            if (!error)
                sendRound();
        });
    }

    void finish()
    {
        boost::system::error_code ignored;
        mTimer.cancel();
        mSignals.cancel(ignored);
    }

    asio::io_context& mIo;
    const BeaconOptions& mOptions;
    asio::steady_timer mTimer;
    asio::signal_set mSignals;
    Clock::duration mPeriod;
    std::vector<std::unique_ptr<udp::socket>> mSockets;
    Clock::time_point mStart;
    long long mRounds = 0;
    long long mSent = 0;
};

int announce(const BeaconOptions& options)
{
    asio::io_context io;
    Announcing announcing(io, options);
    announcing.run();
    return 0;
}

int sendCopies(const BeaconOptions& options, const std::string& text)
{
    asio::io_context io;
    const auto start = Clock::now();
    const auto socket = senderSocket(io, options, options.from.empty() ? 0 : options.from.front());
    for (int copy = 1; copy <= options.copies; ++copy) {
        sendText(*socket, text, groupEndpoint());
        printSent(options, copy, *socket, text);
    }
    printSendSummary(1, options.copies, Clock::now() - start);
    return 0;
}

int listen(const BeaconOptions& options)
{
    asio::io_context io;
    udp::socket socket(io);
    // Shared, so that it runs beside a workstation on the same host.
    openBound(socket, 0, kiv::kWatchdogPort, true);
    joinGroup(socket, getIpAddrInt(kiv::kBeaconGroup), options.interfaceAddress);

    long long counts[4] = {0, 0, 0, 0};
    IntervalTracker intervals;
    const auto start = Clock::now();
    if (!options.quiet)
        printLine("listening" + fieldsText({{"group", endpointText(groupEndpoint())},
                                            {"interface", options.hasInterface ? getIpAddrString(options.interfaceAddress)
                                                                               : std::string("any")}}));
    const bool complete = listenUntil(io, socket, options.limit, [&](const Arrival& arrival) {
        // The workstation reads the first 1024 bytes of a datagram.
        const GroupMessage message = readGroupMessage(arrival.data.substr(0, kBeaconDatagramLimit));
        ++counts[static_cast<int>(message.kind)];
        const char* kind = groupKindName(message.kind);
        printLine(clockTime(arrival.wallClock) + " " + kind +
                  fieldsText({{"from", endpointText(arrival.from)}, {"bytes", std::to_string(arrival.data.size())}}) +
                  fieldsText(message.fields) +
                  fieldsText({{"since_last", intervals.since(kind, arrival.from, arrival.steady)}}));
    });
    printLine("summary" + fieldsText({{"commands", std::to_string(counts[static_cast<int>(GroupKind::Command)])},
                                      {"configurations", std::to_string(counts[static_cast<int>(GroupKind::Configuration)])},
                                      {"announcements", std::to_string(counts[static_cast<int>(GroupKind::Announcement)])},
                                      {"short", std::to_string(counts[static_cast<int>(GroupKind::Short)])},
                                      {"duration_s", secondsText(Clock::now() - start)}}));
    if (!complete) {
        std::fprintf(stderr, "varn-beacon: heard fewer than %lld datagrams\n", options.limit.count);
        return kExitFailure;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return runTool("varn-beacon", [&] {
        const BeaconOptions options = parseBeaconOptions(commandLineTokens(argc, argv));
        if (options.help || options.version) {
            std::fputs(options.help ? beaconHelp().c_str() : versionLine("varn-beacon").c_str(), stdout);
            return 0;
        }
        switch (options.command) {
        case BeaconCommand::Announce:
            return announce(options);
        case BeaconCommand::Configure:
            return sendCopies(options, configurationText(options.configuration));
        case BeaconCommand::PingTarget:
            return sendCopies(options, pingTargetCommandText(options.pingTarget));
        case BeaconCommand::Listen:
            break;
        }
        return listen(options);
    });
}
