// The real service on real sockets, in the namespaces the harness made: the
// program's side holds 10.1.2.5/24 and 192.168.7.20/24, the peer side plays
// the watchdog servers (10.1.2.1, 192.168.7.1) and remote beacons.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "base/text_helpers.h"
#include "metrics/os_description.h"
#include "net/udp_kiv_server.h"
#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "support/fake_host.h"
#include "support/log_capture.h"
#include "support/running_service.h"
#include "support/udp_peer.h"
#include "support/wait.h"

namespace {

using kiv::KivServer;
using kiv::KivSrv;
using kiv::test::Datagram;
using kiv::test::FakeCpu;
using kiv::test::LogCapture;
using kiv::test::UdpPeer;
using kiv::test::waitFor;
using Where = UdpPeer::Where;

constexpr std::uint16_t kBeaconPort = 34543;
constexpr std::uint16_t kStatusPort = 45654;
constexpr const char* kGroup = "224.2.2.224";
constexpr const char* kCloud = "224.0.2.224";
// Datagrams one wake-up of the worker takes at most, on either port.
constexpr int kWakeUpLimit = 32;

std::string announcement(const std::string& name, const std::string& pingTarget = "10.9.9.9",
                         int health = 2)
{
    return "<beacon><name>" + name + "</name><location>hall " + name + "</location><pingTarget>" +
           pingTarget + "</pingTarget><pingTargetHealth>" + std::to_string(health) +
           "</pingTargetHealth></beacon>";
}

std::string hostName()
{
    char buffer[256] = {};
    ::gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

// Bytes waiting in the receive queue of this namespace's UDP socket on
// `port`, as /proc/net/udp shows them; -1 when no socket has the port.
long bytesQueuedOnPort(std::uint16_t port)
{
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", static_cast<unsigned>(port));
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // the header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0)
            return std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
    }
    return -1;
}

using Network = kiv::test::RunningService;

TEST_F(Network, AnnouncementsBindAndUpdateSlots)
{
    auto beacon = localBeacon("10.0.0.9");
    ASSERT_TRUE(beacon->sendTo(announcement("pump 3", "10.0.0.1", 5), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.0.0.9"));
    slots([](kiv::BeaconSlots& b) {
        EXPECT_EQ(0x0A000009u, b[0].mIpAddress);
        EXPECT_EQ("pump 3", b[0].mName);
        EXPECT_EQ("hall pump 3", b[0].mLocation);
        EXPECT_EQ(0, b[0].mSlotIndex);
        EXPECT_EQ(0, b[0].mMessageCount);  // the binding message does not count
        EXPECT_EQ("", b[0].mPingTarget);
    });
    ASSERT_TRUE(beacon->sendTo(announcement("renamed", "10.0.0.1", 5), kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return slots([](kiv::BeaconSlots& b) { return b[0].mMessageCount == 1; }); }));
    slots([](kiv::BeaconSlots& b) {
        EXPECT_EQ("pump 3", b[0].mName);
        EXPECT_EQ("10.0.0.1", b[0].mPingTarget);
        EXPECT_EQ(5, b[0].mPingTargetHealth);
        EXPECT_EQ(0, b[0].mMissedTicks);
    });
}

TEST_F(Network, TenBytesAreDroppedElevenParsed)
{
    auto beacon = localBeacon("10.0.0.10");
    ASSERT_TRUE(beacon->sendTo("<name>abc>", kGroup, kBeaconPort));   // 10 bytes
    ASSERT_TRUE(beacon->sendTo("<name>abcd>", kGroup, kBeaconPort));  // 11 bytes
    ASSERT_TRUE(slotHolds(0, "10.0.0.10"));
    // Had the first one been parsed, it would have bound the slot and the
    // second would have counted as a message.
    slots([](kiv::BeaconSlots& b) {
        EXPECT_EQ(0, b[0].mMessageCount);
        EXPECT_EQ("abcd>", b[0].mName);
    });
}

TEST_F(Network, FourthBeaconAndCommandEchoTouchNoSlot)
{
    const char* addresses[] = {"10.0.0.9", "10.0.0.10", "10.0.0.11"};
    for (int i = 0; i < 3; ++i) {
        auto beacon = localBeacon(addresses[i]);
        ASSERT_TRUE(beacon->sendTo(announcement("b" + std::to_string(i)), kGroup, kBeaconPort));
        ASSERT_TRUE(slotHolds(i, addresses[i]));
    }
    auto fourth = localBeacon("10.0.0.12");
    ASSERT_TRUE(fourth->sendTo("<setPingTarget>10.0.0.9</setPingTarget>", kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return log.contains("cmd=[23]\n"); }));
    // A configuration from the fourth sender still reaches the crossover.
    ASSERT_TRUE(fourth->sendTo(announcement("b4") + "<beaconCfgAlarm/>", kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return log.contains("<==  KivServer::setCrossOver\n"); }));
    slots([&](kiv::BeaconSlots& b) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(addresses[i], b[i].mIpAddressText);
            EXPECT_EQ("b" + std::to_string(i), b[i].mName);
            EXPECT_EQ(0, b[i].mMessageCount);
        }
    });
}

TEST_F(Network, CommandAndConfigurationInOneDatagramIsACommand)
{
    auto beacon = localBeacon("10.0.0.9");
    ASSERT_TRUE(beacon->sendTo("<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr>"
                               "<setPingTarget>10.0.0.9</setPingTarget>",
                               kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return log.contains("cmd=[70]\n"); }));
    EXPECT_FALSE(log.contains("==>  KivServer::setCrossOver\n"));
}

class WatchdogPeers : public Network
{
protected:
    void SetUp() override
    {
        Network::SetUp();
        if (IsSkipped())
            return;
        island = std::make_unique<UdpPeer>("10.1.2.1", 5000, Where::PeerNamespace);
        plant = std::make_unique<UdpPeer>("192.168.7.1", 5000, Where::PeerNamespace);
        auto beacon = localBeacon("10.0.0.11");
        ASSERT_TRUE(beacon->sendTo("<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr>"
                                   "<srvIpAddr>192.168.7.1</srvIpAddr><srvIpPort>5000</srvIpPort>"
                                   "<cpuPercent>50</cpuPercent><alarmSeconds>2</alarmSeconds>"
                                   "</beaconCfgAlarm>",
                                   kGroup, kBeaconPort));
        ASSERT_TRUE(waitFor([&] { return log.contains("<==  KivServer::setCrossOver\n"); }));
        ASSERT_EQ("10.1.2.5,  192.168.7.20", server->localIpInCommonText());
    }
    std::string interfaces() const
    {
        return "<localIpInterfaces><ipAddr>10.1.2.5</ipAddr><ipAddr>192.168.7.20</ipAddr>"
               "</localIpInterfaces>";
    }
    std::unique_ptr<UdpPeer> island;
    std::unique_ptr<UdpPeer> plant;
};

TEST_F(WatchdogPeers, ReportRightAfterTheCrossoverFromEachInterface)
{
    tick();
    const std::string os = buildOsDescription();
    for (auto* peer : {island.get(), plant.get()}) {
        const std::optional<Datagram> report = peer->receive();
        ASSERT_TRUE(report);
        const std::string local = peer == island.get() ? "10.1.2.5" : "192.168.7.20";
        EXPECT_EQ(local, report->fromAddress);
        EXPECT_EQ(kBeaconPort, report->fromPort);
        // The first tick reports before it samples the CPU: still 0.
        EXPECT_EQ("<wdStatus>\n" + interfaces() + "<ipAddr>" + local + "</ipAddr>\n"
                  "<ipPort>34543</ipPort>\n<cpuUsage>0</cpuUsage>\n<osDesc>" + os + "</osDesc>\n"
                  "<hostName>" + hostName() + "</hostName>\n<wdVer>1.0</wdVer>\n</wdStatus>\n",
                  report->data);
    }
}

TEST_F(WatchdogPeers, KeepAliveOnTheThirtiethTick)
{
    tick(29);
    island->drain(std::chrono::milliseconds(100));  // the report of tick 1
    plant->drain(std::chrono::milliseconds(100));
    tick();
    const std::optional<Datagram> keepAlive = island->receive();
    ASSERT_TRUE(keepAlive);
    EXPECT_EQ("10.1.2.5", keepAlive->fromAddress);
    EXPECT_EQ(kBeaconPort, keepAlive->fromPort);
    EXPECT_EQ("<wdKA>\n<ipAddr>10.1.2.5</ipAddr>\n<cpuUsage>7</cpuUsage>\n<osDesc>" +
                  buildOsDescription() + "</osDesc>\n<hostName>" + hostName() +
                  "</hostName>\n<wdVer>1.0</wdVer>\n</wdKA>\n",
              keepAlive->data);
    const std::optional<Datagram> other = plant->receive();
    ASSERT_TRUE(other);
    EXPECT_EQ("192.168.7.20", other->fromAddress);
}

TEST_F(WatchdogPeers, CpuAlarmReachesBothServers)
{
    cpu.push(10);  // below 50: the new two-sample count takes effect
    cpu.push(80);
    cpu.push(80);
    tick(4);
    for (auto* peer : {island.get(), plant.get()}) {
        std::optional<Datagram> d = peer->receive();
        ASSERT_TRUE(d);
        ASSERT_EQ(0u, d->data.find("<wdStatus>"));  // tick 1's report
        d = peer->receive();
        ASSERT_TRUE(d);
        EXPECT_EQ("<CPU_ALARM>\n" + interfaces() + "<ipPort>\n34543</ipPort>\n<cpuUsage>\n80</cpuUsage>\n"
                  "<osDesc>\n" + buildOsDescription() + "</osDesc>\n<hostName>\n" + hostName() +
                  "</hostName>\n<wdVer>1.0</wdVer>\n</CPU_ALARM>\n",
                  d->data);
        EXPECT_EQ(kBeaconPort, d->fromPort);
    }
}

TEST_F(WatchdogPeers, AVanishedAddressTakesItsPairAlongUntilItReturns)
{
    tick();
    island->drain(std::chrono::milliseconds(100));
    plant->drain(std::chrono::milliseconds(100));
    ASSERT_EQ(0, std::system("ip addr del 192.168.7.20/24 dev varn-b"));
    ASSERT_TRUE(waitFor([&] { return server->localIpInCommonText() == "10.1.2.5"; }));
    tick(30);  // keep-alives: only the island pair is left
    const std::optional<Datagram> keepAlive = island->receive();
    ASSERT_TRUE(keepAlive);
    EXPECT_EQ(0u, keepAlive->data.find("<wdKA>"));
    EXPECT_FALSE(plant->receive(std::chrono::milliseconds(300)));
    EXPECT_FALSE(log.contains("*** EXCEPTION"));

    // Back again: its pair is new and reports at the next tick.
    ASSERT_EQ(0, std::system("ip addr add 192.168.7.20/24 dev varn-b"));
    ASSERT_TRUE(waitFor([&] { return server->localIpInCommonText() == "10.1.2.5,  192.168.7.20"; }));
    tick();
    const std::optional<Datagram> report = plant->receive();
    ASSERT_TRUE(report);
    EXPECT_EQ("192.168.7.20", report->fromAddress);
    EXPECT_EQ(0u, report->data.find("<wdStatus>"));
    EXPECT_FALSE(island->receive(std::chrono::milliseconds(300)));  // its pair owes nothing
}

TEST_F(Network, EachPairLeavesFromItsOwnLocalAddress)
{
    // Two servers on the island network give two pairs that share the local
    // address 10.1.2.5; the second must not leave through the socket of the
    // second local address (192.168.7.20).
    UdpPeer first("10.1.2.1", 5000, Where::PeerNamespace);
    UdpPeer second("10.1.2.11", 5000, Where::PeerNamespace);
    auto beacon = localBeacon("10.0.0.11");
    ASSERT_TRUE(beacon->sendTo("<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr>"
                               "<srvIpAddr>10.1.2.11</srvIpAddr><srvIpPort>5000</srvIpPort>"
                               "</beaconCfgAlarm>",
                               kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return log.contains("<==  KivServer::setCrossOver\n"); }));
    tick();
    for (UdpPeer* peer : {&first, &second}) {
        const std::optional<Datagram> report = peer->receive();
        ASSERT_TRUE(report);
        EXPECT_EQ("10.1.2.5", report->fromAddress);
        EXPECT_EQ(kBeaconPort, report->fromPort);
        EXPECT_NE(std::string::npos, report->data.find("</localIpInterfaces><ipAddr>10.1.2.5</ipAddr>\n"));
    }
}

TEST_F(Network, AListedTwiceServerBehindFiveOthersGetsOneReport)
{
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    UdpPeer plant("192.168.7.1", 5000, Where::PeerNamespace);
    std::string servers;
    for (const char* other : {"10.9.0.1", "10.9.0.2", "10.9.0.3", "10.9.0.4", "10.9.0.5"})
        servers += std::string("<srvIpAddr>") + other + "</srvIpAddr>";
    servers += "<srvIpAddr>10.1.2.1</srvIpAddr><srvIpAddr>192.168.7.1</srvIpAddr><srvIpAddr>10.1.2.1</srvIpAddr>";
    auto beacon = localBeacon("10.0.0.11");
    ASSERT_TRUE(beacon->sendTo("<beaconCfgAlarm>" + servers + "<srvIpPort>5000</srvIpPort></beaconCfgAlarm>",
                               kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return log.contains("<==  KivServer::setCrossOver\n"); }));
    tick();
    for (UdpPeer* peer : {&island, &plant}) {
        ASSERT_TRUE(peer->receive());
        EXPECT_FALSE(peer->receive(std::chrono::milliseconds(300)));  // not twice
    }
}

class StatusPort : public Network
{
protected:
    std::string expectedReply() const
    {
        return "<status><ipAddr>10.1.2.5</ipAddr>\n<ipPort>45654</ipPort>\n<cpuPercent>7</cpuPercent>\n"
               "<os>" + buildOsDescription() + "</os>\n</status>";
    }
};

TEST_F(StatusPort, AnswersToTheRequestersPort)
{
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    const std::optional<Datagram> reply = requester.receive();
    ASSERT_TRUE(reply);
    EXPECT_EQ(expectedReply(), reply->data);
    EXPECT_EQ("10.1.2.5", reply->fromAddress);
    EXPECT_EQ(kStatusPort, reply->fromPort);
    EXPECT_TRUE(waitFor([&] { return log.contains("remote_endpoint_=[10.1.2.1:" + std::to_string(requester.port()) + "]\n"); }));
}

TEST_F(StatusPort, OnlyTheWordWithItsBlankIsAnswered)
{
    struct Case {
        std::string request;
        bool answered;
    };
    const std::string noise(2000, 'x');
    const Case cases[] = {
        {"STATUS_REQUEST", false},                              // 14 bytes, no blank
        {"BEACON_CFG_ALARM STATUS_REQUEST ", false},            // the alarm word wins
        {"xx STATUS_REQUEST yy", true},                         // anywhere in the text
        {std::string("\0STATUS_REQUEST ", 16), false},          // text empty at the zero
        {std::string("STATUS_REQUEST \0tail", 20), true},      // text up to the zero
        {"STATUS_REQUEST " + noise, true},                      // 2015 bytes, cut to 1501
        {std::string(1490, 'y') + "STATUS_REQUEST ", false},    // the word lies past byte 1501
        {"short", false},
        {"", false},
    };
    for (const Case& c : cases) {
        UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
        UdpPeer marker("10.1.2.1", 0, Where::PeerNamespace);
        ASSERT_TRUE(requester.sendTo(c.request, "10.1.2.5", kStatusPort));
        ASSERT_TRUE(marker.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
        // Datagrams are handled one after the other: once the marker is
        // answered, the request before it has had its answer, if any.
        ASSERT_TRUE(marker.receive()) << c.request.size();
        const std::optional<Datagram> reply = requester.receive(std::chrono::milliseconds(c.answered ? 5000 : 50));
        EXPECT_EQ(c.answered, reply.has_value()) << "request of " << c.request.size() << " bytes";
        if (reply) {
            EXPECT_EQ(expectedReply(), reply->data);
        }
    }
}

TEST_F(StatusPort, LongDatagramThenShortOneReadsCorrectly)
{
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(requester.sendTo(std::string(1501, 'z'), "10.1.2.5", kStatusPort));
    ASSERT_TRUE(requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(requester.receive());
    EXPECT_TRUE(log.contains("SIP RX DATA  bytes_transferred=[1501] data=[" + std::string(1501, 'z') + "]\n"));
    EXPECT_TRUE(log.contains("SIP RX DATA  bytes_transferred=[15] data=[STATUS_REQUEST ]\n"));
}

// Requests that are all waiting when the worker wakes, without the reply
// bound (as the benchmark runs it).
class StatusBurst : public StatusPort
{
protected:
    StatusBurst() { options.statusRate = 0; }

    static std::string request(int i) { return "STATUS_REQUEST " + std::to_string(i); }
};

TEST_F(StatusBurst, WaitingRequestsAreAnsweredInOrderWithTheLogOfOneReceiveEach)
{
    constexpr int kBurst = 20;  // within one wake-up's limit
    static_assert(kBurst < kiv::UdpKivServer::kDrainLimit);
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    const std::string from = "10.1.2.1:" + std::to_string(requester.port());
    std::promise<void> release = holdWorker();
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(requester.sendTo(request(i), "10.1.2.5", kStatusPort));
    release.set_value();
    for (int i = 0; i < kBurst; ++i) {
        const std::optional<Datagram> reply = requester.receive();
        ASSERT_TRUE(reply) << "reply " << i;
        EXPECT_EQ(expectedReply(), reply->data);
    }

    // Each request leaves the same lines, in the order the requests came,
    // as when every datagram had a receive of its own.
    std::vector<std::string> expected;
    for (int i = 0; i < kBurst; ++i) {
        const std::string text = request(i);
        const std::vector<std::string> one = {
            "==>  UdpKivServer::handle_receive\n",
            "RX DATA FROM=[" + from + "]\n",
            "SIP RX DATA  bytes_transferred=[" + std::to_string(text.size()) + "] data=[" + text + "]\n",
            "UdpKivServer::parseKivMessage\n",
            "RX DATA FROM=[" + from + "]\n",
            "STATUS_REQUEST",
            "UdpKivServer::decodeKivMessage",
            "UdpKivServer::handle_STATUS_REQUEST",
            "remote_endpoint_=[" + from + "]\n",
            "UdpKivMessage::~UdpKivMessage\n",
            "<> UdpKivServer::start_receive\n",
            "<==  UdpKivServer::handle_receive\n",
        };
        expected.insert(expected.end(), one.begin(), one.end());
    }
    std::vector<std::string> lines;
    ASSERT_TRUE(waitFor([&] {
        lines = log.lines();
        return log.contains("<==  UdpKivServer::handle_receive\n") &&
               std::count(lines.begin(), lines.end(), "<==  UdpKivServer::handle_receive\n") >= kBurst;
    }));
    const auto first = std::find(lines.begin(), lines.end(), expected[2]);
    ASSERT_NE(lines.end(), first);
    ASSERT_GE(std::distance(lines.begin(), first), 2);
    const std::vector<std::string> seen(first - 2, std::min(lines.end(), first - 2 + static_cast<long>(expected.size())));
    EXPECT_EQ(expected, seen);
}

TEST_F(StatusBurst, ALongBurstLetsOtherWorkInBetween)
{
    constexpr int kBurst = 3 * kiv::UdpKivServer::kDrainLimit;
    // When the first reply has gone, other work is queued on the worker (as
    // the tick's timer would be); it must not wait for the whole burst.
    struct Seen {
        std::atomic<int> replied{0};
        std::atomic<int> repliedBeforeOther{-1};
        std::atomic<bool> queued{false};
    };
    auto seen = std::make_shared<Seen>();
    boost::asio::io_context& worker = server->ioContext();
    kiv::setDebugLogWriter([seen, &worker](const std::string& line) {
        if (line.rfind("remote_endpoint_=", 0) != 0)
            return;
        ++seen->replied;
        if (!seen->queued.exchange(true))
            boost::asio::post(worker, [seen] { seen->repliedBeforeOther = seen->replied.load(); });
    });
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    std::promise<void> release = holdWorker();
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(requester.sendTo(request(i), "10.1.2.5", kStatusPort));
    release.set_value();
    EXPECT_EQ(kBurst, requester.drain(std::chrono::milliseconds(500)));
    ASSERT_TRUE(waitFor([&] { return seen->repliedBeforeOther.load() >= 0; }));
    // No more than one wake-up's worth before it.
    EXPECT_LE(seen->repliedBeforeOther.load(), kWakeUpLimit);
}

TEST_F(StatusBurst, RequestsComingOneByOneAfterALoneOneAreAnsweredAlike)
{
    // Two waiting requests: the wake-up reads the first, a batch read finds
    // the second alone. While that one is answered, two more come: the
    // reads that take them one by one must hand them on as any other.
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    const std::vector<std::string> texts = {request(0), request(1), request(2) + std::string(40, 'x'), request(3)};
    struct Seen {
        std::mutex mutex;
        std::vector<std::string> received;
        int replies = 0;
    };
    auto seen = std::make_shared<Seen>();
    kiv::setDebugLogWriter([seen, &requester, &texts](const std::string& line) {
        bool sendMore = false;
        {
            std::lock_guard<std::mutex> lock(seen->mutex);
            if (line.rfind("SIP RX DATA", 0) == 0)
                seen->received.push_back(line);
            if (line.rfind("remote_endpoint_=", 0) == 0)
                sendMore = ++seen->replies == 2;
        }
        if (sendMore) {
            requester.sendTo(texts[2], "10.1.2.5", kStatusPort);
            requester.sendTo(texts[3], "10.1.2.5", kStatusPort);
        }
    });
    std::promise<void> release = holdWorker();
    ASSERT_TRUE(requester.sendTo(texts[0], "10.1.2.5", kStatusPort));
    ASSERT_TRUE(requester.sendTo(texts[1], "10.1.2.5", kStatusPort));
    release.set_value();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::optional<Datagram> reply = requester.receive();
        ASSERT_TRUE(reply) << "reply " << i;
        EXPECT_EQ(expectedReply(), reply->data);
    }
    std::vector<std::string> expected;
    for (const std::string& text : texts)
        expected.push_back("SIP RX DATA  bytes_transferred=[" + std::to_string(text.size()) + "] data=[" + text + "]\n");
    std::lock_guard<std::mutex> lock(seen->mutex);
    EXPECT_EQ(expected, seen->received);
}

TEST(CommandPortReads, ReadingOneByOneLeavesOneWaitPending)
{
    // The command port on an io_context of the test's own, run here one
    // handler at a time.
    LogCapture log;
    boost::asio::io_context io;
    kiv::ServiceOptions options;
    options.statusRate = 0;
    kiv::UdpKivServer commandPort(io, options);
    UdpPeer requester("10.0.0.9", 0);
    // Two requests waiting at the wake-up: the first is read alone, the
    // batch read after it finds the second alone, and the reads go on one
    // by one until one finds nothing.
    long queued = 0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
        ASSERT_TRUE(waitFor([&] { return bytesQueuedOnPort(kStatusPort) > queued; }));
        queued = bytesQueuedOnPort(kStatusPort);
    }
    ASSERT_EQ(1u, io.run_one());
    ASSERT_TRUE(requester.receive());
    ASSERT_TRUE(requester.receive());
    // The next request wakes the one wait left pending; no other handler
    // is woken with it.
    ASSERT_TRUE(requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_EQ(1u, io.run_one());
    EXPECT_TRUE(requester.receive());
    EXPECT_EQ(0u, io.poll());
}

TEST_F(Network, WaitingAnnouncementsAreAllCountedAtMostOneWakeUpsWorthAtATime)
{
    constexpr int kBurst = 2 * MulticastReceiver::kDrainLimit + 5;
    // The command ahead of the burst is the first datagram of the wake-up:
    // work queued on the worker then must wait for that wake-up only.
    auto countBeforeOther = std::make_shared<std::atomic<int>>(-1);
    auto queued = std::make_shared<std::atomic<bool>>(false);
    kiv::setDebugLogWriter([this, countBeforeOther, queued](const std::string& line) {
        if (line.rfind("cmd=[", 0) != 0 || queued->exchange(true))
            return;
        boost::asio::post(server->ioContext(), [this, countBeforeOther] {
            *countBeforeOther = slots([](kiv::BeaconSlots& b) { return b[0].mMessageCount; });
        });
    });
    auto beacon = localBeacon("10.0.0.9");
    std::promise<void> release = holdWorker();
    ASSERT_TRUE(beacon->sendTo("<setPingTarget>10.0.0.1</setPingTarget>", kGroup, kBeaconPort));
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(beacon->sendTo(announcement("burst"), kGroup, kBeaconPort));
    release.set_value();
    EXPECT_TRUE(waitFor([&] {
        return slots([](kiv::BeaconSlots& b) { return b[0].mMessageCount == kBurst - 1; });
    })) << slots([](kiv::BeaconSlots& b) { return b[0].mMessageCount; });
    ASSERT_TRUE(waitFor([&] { return countBeforeOther->load() >= 0; }));
    EXPECT_LT(countBeforeOther->load(), kWakeUpLimit);
}

TEST_F(Network, CloudDatagramsBecomeEventLines)
{
    UdpPeer cloud("10.0.0.9", 0);
    cloud.setMulticastInterface("10.1.2.5");
    KivSrv::takeEventText();
    ASSERT_TRUE(cloud.sendTo("<srvIpAddr>10.0.0.1</srvIpAddr>", kCloud, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return server->cloudSrvIpAddrText() == "10.0.0.1"; }));
    ASSERT_TRUE(cloud.sendTo(std::string("hello\0world", 11), kCloud, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return server->cloudSrvIpAddrText().empty(); }));
    EXPECT_EQ("\r MulticastRX= <srvIpAddr>10.0.0.1</srvIpAddr>\r\r MulticastRX= hello\r",
              KivSrv::takeEventText());
    EXPECT_EQ(std::string("<srvIpAddr>10.0.0.1</srvIpAddr>\nhello\0world\n", 44), log.console());
    // The beacon channel does not hear the cloud group.
    slots([](kiv::BeaconSlots& b) { EXPECT_EQ(0u, b[0].mIpAddress); });
}

class PingTarget : public Network
{
};

TEST_F(PingTarget, GoesToTheGroupThriceAndToEachBoundBeacon)
{
    UdpPeer group("0.0.0.0", kBeaconPort, Where::PeerNamespace, /*reuse=*/true);
    group.joinGroup(kGroup, "10.1.2.1");
    UdpPeer beaconA("10.1.2.11", kBeaconPort, Where::PeerNamespace, true);
    UdpPeer beaconB("10.1.2.12", kBeaconPort, Where::PeerNamespace, true);
    beaconA.setMulticastInterface("10.1.2.11");
    beaconB.setMulticastInterface("10.1.2.12");
    ASSERT_TRUE(beaconA.sendTo(announcement("a"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.1.2.11"));
    ASSERT_TRUE(beaconB.sendTo(announcement("b"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(1, "10.1.2.12"));
    group.drain(std::chrono::milliseconds(100));  // the announcements themselves

    server->postPingTarget(getIpAddrInt("10.1.2.3"));
    const std::string command = "<setPingTarget>10.1.2.3</setPingTarget>";
    for (int i = 0; i < 3; ++i) {
        const std::optional<Datagram> d = group.receive();
        ASSERT_TRUE(d) << i;
        EXPECT_EQ(command, d->data);
        EXPECT_EQ(kBeaconPort, d->fromPort);
    }
    for (UdpPeer* beacon : {&beaconA, &beaconB}) {
        const std::optional<Datagram> d = beacon->receive();
        ASSERT_TRUE(d);
        EXPECT_EQ(command, d->data);
        EXPECT_EQ(kBeaconPort, d->fromPort);
    }
    EXPECT_FALSE(group.receive(std::chrono::milliseconds(100)));
    ASSERT_TRUE(waitFor([&] { return log.count("<==  ***ERROR ((sendData.length <= 0) || (remAddr.length <= 0))  MulticastReceiver::sendData\n") == 1; }));
    // Our own group copy came back too and was taken for a command.
    EXPECT_TRUE(waitFor([&] { return log.count("cmd=[23]\n") == 3; }));
}

TEST_F(PingTarget, RefusedAndUnreachableBeaconsDoNotStopTheChannel)
{
    UdpPeer gone("10.1.2.13", 0, Where::PeerNamespace);  // nothing listens on its 34543
    gone.setMulticastInterface("10.1.2.13");
    ASSERT_TRUE(gone.sendTo(announcement("gone"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.1.2.13"));
    auto local = localBeacon("10.0.0.12");
    ASSERT_TRUE(local->sendTo(announcement("local"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(1, "10.0.0.12"));
    ASSERT_EQ(0, std::system("ip addr del 10.0.0.12/32 dev lo"));  // no route to it now

    server->postPingTarget(getIpAddrInt("10.1.2.3"));
    // The reason ends the line.
    ASSERT_TRUE(waitFor([&] {
        return log.contains("*** EXCEPTION  MulticastReceiver::sendData [send_to: Network is unreachable]\n");
    }));
    server->postPingTarget(getIpAddrInt("10.1.2.4"));
    ASSERT_EQ(0, std::system("ip addr add 10.0.0.12/32 dev lo"));

    // The channel still hears its beacons and the status port still answers.
    ASSERT_TRUE(gone.sendTo(announcement("gone", "10.0.0.5", 3), kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return slots([](kiv::BeaconSlots& b) { return b[0].mMessageCount >= 1; }); }));
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    EXPECT_TRUE(requester.receive());
}

TEST_F(Network, FloodsOnEveryPortLeaveTheServiceAnswering)
{
    kiv::setDebugLogWriter([](const std::string&) {});
    kiv::setConsoleWriter([](const char*, std::size_t) {});
    constexpr int kFlood = 100000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    UdpPeer flooder("10.0.0.10", 0);
    flooder.setMulticastInterface("10.1.2.5");
    const std::string beaconText = announcement("flood");
    const std::string cloudText(1000, 'c');
    int sent = 0;
    for (int i = 0; i < kFlood && std::chrono::steady_clock::now() < deadline; ++i) {
        sent += flooder.sendTo(beaconText, kGroup, kBeaconPort);
        sent += flooder.sendTo(cloudText, kCloud, kBeaconPort);
        sent += flooder.sendTo("not a command at all", "10.1.2.5", kStatusPort);
        sent += flooder.sendTo("junk for the bound socket", "10.1.2.5", kBeaconPort);
    }
    EXPECT_GT(sent, 0);
    // The event text stays bounded however much the cloud group sends.
    EXPECT_LE(KivSrv::takeEventText().size(), kiv::EventText::kDefaultCapacity + 100);

    auto beacon = localBeacon("10.0.0.9");
    ASSERT_TRUE(waitFor([&] {
        beacon->sendTo(announcement("after"), kGroup, kBeaconPort);
        return slots([](kiv::BeaconSlots& b) {
            for (auto& s : b) {
                if (s.mIpAddressText == "10.0.0.9" && s.mMessageCount > 0)
                    return true;
            }
            return false;
        });
    }, std::chrono::seconds(30)));
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(waitFor([&] {
        requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort);
        return requester.receive(std::chrono::milliseconds(200)).has_value();
    }, std::chrono::seconds(30)));
}

}  // namespace
