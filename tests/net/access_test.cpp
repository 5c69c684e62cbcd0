// Who may steer the workstation, on real sockets in the two namespaces:
// configuration only from the allowed sources, status replies only to the
// allowed sources and within the reply bound, per source and in all.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "base/debug_log.h"
#include "base/service_options.h"
#include "net/source_guard.h"
#include "support/log_capture.h"
#include "support/running_service.h"
#include "support/udp_peer.h"
#include "support/wait.h"

namespace {

using kiv::test::Datagram;
using kiv::test::UdpPeer;
using kiv::test::waitFor;
using Where = UdpPeer::Where;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kBeaconPort = 34543;
constexpr std::uint16_t kStatusPort = 45654;
constexpr const char* kGroup = "224.2.2.224";
constexpr const char* kConfiguration = "<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>5000</srvIpPort>"
                                       "</beaconCfgAlarm>";
constexpr const char* kCrossOverDone = "<==  KivServer::setCrossOver\n";

kiv::Ipv4Network network(const std::string& text)
{
    return kiv::parseNetwork("test", text);
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class ConfigAccess : public kiv::test::RunningService
{
protected:
    ConfigAccess() { options.allowConfigFrom.add(network("10.0.0.11")); }
};

TEST_F(ConfigAccess, OnlyAnAllowedSourceMakesPairs)
{
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    auto stranger = localBeacon("10.0.0.12");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(stranger->sendTo(kConfiguration, kGroup, kBeaconPort));
    const std::string refused =
        "Beacon group: configuration from 10.0.0.12 ignored: not an allowed source (10.0.0.11/32)\n";
    ASSERT_TRUE(waitFor([&] { return log.contains(refused); }));
    tick();
    EXPECT_FALSE(island.receive(std::chrono::milliseconds(300)));
    EXPECT_EQ("", server->localIpInCommonText());
    EXPECT_EQ(0, log.count(kCrossOverDone));

    auto allowed = localBeacon("10.0.0.11");
    ASSERT_TRUE(allowed->sendTo(kConfiguration, kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return log.count(kCrossOverDone) == 1; }));
    tick();
    const std::optional<Datagram> report = island.receive();
    ASSERT_TRUE(report);
    EXPECT_EQ("10.1.2.5", report->fromAddress);
    // Three refusals from one source within the minute: one line.
    EXPECT_EQ(1, log.count(refused));
}

TEST_F(ConfigAccess, AlarmCommandOnlyFromAnAllowedSource)
{
    UdpPeer stranger("10.1.2.11", 0, Where::PeerNamespace);
    UdpPeer marker("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(stranger.sendTo("BEACON_CFG_ALARM x", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(marker.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(marker.receive());
    EXPECT_TRUE(log.contains("Command port: configuration from 10.1.2.11 ignored: not an allowed source "
                             "(10.0.0.11/32)\n"));
    EXPECT_FALSE(log.contains("UdpKivServer::handle_BEACON_CFG_ALARM"));

    UdpPeer allowed("10.0.0.11", 0);
    ASSERT_TRUE(allowed.sendTo("BEACON_CFG_ALARM x", "10.1.2.5", kStatusPort));
    EXPECT_TRUE(waitFor([&] { return log.contains("UdpKivServer::handle_BEACON_CFG_ALARM"); }));
}

class StatusAccess : public kiv::test::RunningService
{
protected:
    StatusAccess() { options.allowStatusFrom.add(network("10.1.2.1")); }
};

TEST_F(StatusAccess, OnlyAllowedSourcesAreAnswered)
{
    // Both on the island link, so the server takes them in this order.
    UdpPeer stranger("10.1.2.11", 0, Where::PeerNamespace);
    UdpPeer allowed("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(stranger.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(allowed.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    const std::optional<Datagram> reply = allowed.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(0u, reply->data.rfind("<status><ipAddr>10.1.2.5</ipAddr>\n", 0));
    EXPECT_EQ(0, stranger.drain(std::chrono::milliseconds(0)));
}

using StatusBound = kiv::test::RunningService;

TEST_F(StatusBound, OneSourceFloodingGetsNoMoreThanItsBound)
{
    constexpr int kRequests = 2000;
    const double rate = kiv::kDefaultStatusRate;
    UdpPeer flooder("10.1.2.11", 0, Where::PeerNamespace);
    int replies = 0;
    // 2,000 requests spread over one second, two a millisecond; the replies
    // are read as they come, so none is lost in the socket buffer.
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kRequests; i += 2) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 500));
        flooder.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort);
        flooder.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort);
        while (flooder.receive(std::chrono::milliseconds(0)))
            ++replies;
    }
    // Another source is answered at once, while the flooder is over its bound.
    UdpPeer other("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(other.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    EXPECT_TRUE(other.receive());
    replies += flooder.drain(std::chrono::milliseconds(200));
    const double seconds = secondsSince(start);
    EXPECT_GE(replies, static_cast<int>(2 * rate));  // the burst goes through
    EXPECT_LE(replies, static_cast<int>(2 * rate + rate * seconds) + 1) << "in " << seconds << " s";
}

class ForgedSources : public kiv::test::RunningService
{
protected:
    static constexpr unsigned kRate = 10;  // 200 a second in all
    ForgedSources() { options.statusRate = kRate; }
};

TEST_F(ForgedSources, TwentySourcesGetNoMoreThanTheBoundInAll)
{
    // Each source's own burst (20) adds up to twice the bound in all (200).
    std::vector<std::unique_ptr<UdpPeer>> sources;
    for (int i = 100; i < 120; ++i)
        sources.push_back(std::make_unique<UdpPeer>("10.1.2." + std::to_string(i), 0, Where::PeerNamespace));
    int replies = 0;
    auto collect = [&] {
        for (auto& source : sources) {
            while (source->receive(std::chrono::milliseconds(0)))
                ++replies;
        }
    };
    const Clock::time_point start = Clock::now();
    Clock::time_point lastReply = start;
    for (int round = 0; round < 500 && secondsSince(start) < 0.3; ++round) {
        for (auto& source : sources)
            source->sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort);
        const int before = replies;
        collect();
        if (replies != before)
            lastReply = Clock::now();
    }
    // The rest of the replies, until none has come for 200 ms.
    for (Clock::time_point quietSince = Clock::now(); Clock::now() - quietSince < std::chrono::milliseconds(200);) {
        const int before = replies;
        collect();
        if (replies != before) {
            lastReply = Clock::now();
            quietSince = lastReply;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double seconds = std::chrono::duration<double>(lastReply - start).count();
    const double all = kRate * kiv::kStatusRateSources;
    EXPECT_GE(replies, static_cast<int>(all) / 2);
    EXPECT_LE(replies, static_cast<int>(all + all * seconds) + 1) << "in " << seconds << " s";
}

// The service at the default log level, its count lines every 300 ms
// instead of every minute.
class QuietStatusLog : public kiv::test::RunningService
{
protected:
    void beforeStart() override
    {
        kiv::setLogLevel(kiv::kDefaultLogLevel);
        kiv::setServiceCountPeriod(std::chrono::milliseconds(300));
    }
    void TearDown() override
    {
        RunningService::TearDown();
        kiv::setServiceCountPeriod(std::chrono::minutes(1));
        kiv::setLogLevel(kiv::LogLevel::debug);
    }
};

TEST_F(QuietStatusLog, TwoThousandRequestsWriteNothingButTheCountLine)
{
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(requester.receive());
    log.clear();  // the start-up lines
    int replies = 0;
    for (int i = 0; i < 2000; ++i) {
        requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort);
        while (requester.receive(std::chrono::milliseconds(0)))
            ++replies;
    }
    const std::string prefix = "Command port, last minute: 0 configurations ignored, 0 status requests refused, ";
    auto dropped = [&] {
        long long sum = 0;
        for (const std::string& line : log.lines()) {
            if (line.rfind(prefix, 0) == 0)
                sum += std::atoll(line.c_str() + prefix.size());
        }
        return sum;
    };
    // Until the count lines and the replies account for every request (or
    // long enough for the requests the socket could not hold).
    waitFor(
        [&] {
            while (requester.receive(std::chrono::milliseconds(0)))
                ++replies;
            return dropped() + replies >= 2000;
        },
        std::chrono::seconds(3));
    EXPECT_GT(dropped(), 0);
    EXPECT_LE(replies, 200);
    for (const std::string& line : log.lines())
        EXPECT_EQ(0u, line.rfind(prefix, 0)) << line;
}

// Replies to a requester with no route back fail again and again: one line
// while others are still answered, one more with the count when it is
// answered again.
TEST_F(QuietStatusLog, FailedRepliesAreALineWhenTheyStartAndOneWhenTheyEnd)
{
    struct Route {
        Route() { EXPECT_EQ(0, std::system("ip route add unreachable 10.1.2.100/32")); }
        ~Route() { std::system("ip route del unreachable 10.1.2.100/32 2>/dev/null"); }
    };
    auto route = std::make_unique<Route>();
    UdpPeer lost("10.1.2.100", 0, Where::PeerNamespace);
    UdpPeer other("10.1.2.1", 0, Where::PeerNamespace);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(lost.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(other.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(other.receive());  // behind the five failed ones
    route.reset();
    ASSERT_TRUE(lost.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(lost.receive());
    const std::string ended = "UdpKivServer::handle_STATUS_REQUEST replies sent again after [5] failed\n";
    ASSERT_TRUE(waitFor([&] { return log.contains(ended); }));
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                  return line.rfind("*** EXCEPTION  UdpKivServer::handle_STATUS_REQUEST [send_to: ", 0) == 0;
              }));
}

TEST(SourceGuardCounts, LoggedEachPeriodWhenNotZero)
{
    kiv::test::LogCapture log;
    boost::asio::io_context io;
    kiv::ServiceOptions options;
    options.allowStatusFrom.add(network("10.1.2.1"));
    options.allowConfigFrom.add(network("10.1.2.1"));
    options.statusRate = 1;
    kiv::SourceGuard guard(io, options, "Command port", std::chrono::milliseconds(20));
    const boost::asio::ip::udp::endpoint allowed(boost::asio::ip::make_address_v4("10.1.2.1"), 1);
    const boost::asio::ip::udp::endpoint other(boost::asio::ip::make_address_v4("10.1.2.11"), 1);
    EXPECT_FALSE(guard.statusAllowed(other));
    EXPECT_FALSE(guard.configAllowed(other));
    EXPECT_TRUE(guard.configAllowed(allowed));
    EXPECT_TRUE(guard.statusAllowed(allowed));
    EXPECT_TRUE(guard.statusAllowed(allowed));   // the burst of two
    EXPECT_FALSE(guard.statusAllowed(allowed));  // over the bound
    const std::string counts = "Command port, last minute: 1 configurations ignored, 1 status requests "
                               "refused, 1 status requests dropped over the reply bound\n";
    ASSERT_TRUE(waitFor([&] {
        io.run_for(std::chrono::milliseconds(5));
        return log.count(counts) == 1;
    }));
    // Further periods with every count at zero add no line.
    io.run_for(std::chrono::milliseconds(60));
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
                  return line.rfind("Command port, last minute:", 0) == 0;
              }));
}

TEST(SourceGuardCounts, APeriodWithOnlyDroppedRequestsHasItsLine)
{
    kiv::test::LogCapture log;
    boost::asio::io_context io;
    kiv::ServiceOptions options;
    options.statusRate = 1;
    kiv::SourceGuard guard(io, options, "Command port", std::chrono::milliseconds(20));
    const boost::asio::ip::udp::endpoint source(boost::asio::ip::make_address_v4("10.1.2.1"), 1);
    int dropped = 0;
    for (int i = 0; i < 5; ++i)
        dropped += !guard.statusAllowed(source);
    ASSERT_GT(dropped, 0);
    const std::string counts = "Command port, last minute: 0 configurations ignored, 0 status requests "
                               "refused, " + std::to_string(dropped) +
                               " status requests dropped over the reply bound\n";
    EXPECT_TRUE(waitFor([&] {
        io.run_for(std::chrono::milliseconds(5));
        return log.contains(counts);
    }));
}

}  // namespace
