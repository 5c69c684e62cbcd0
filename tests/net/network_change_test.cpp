// The service while the workstation's network changes under it: addresses
// that come after the start, are replaced, and a worker that stalls. In the
// harness's two namespaces; each case puts the network back as it found it.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "base/event_text.h"

#include "service/kiv_server.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"
#include "support/running_service.h"

namespace {

using kiv::test::Datagram;
using kiv::test::KivServerProbe;
using kiv::test::UdpPeer;
using kiv::test::waitFor;
using Where = UdpPeer::Where;

constexpr std::uint16_t kBeaconPort = 34543;
constexpr std::uint16_t kStatusPort = 45654;
constexpr const char* kGroup = "224.2.2.224";
const std::string kConfiguration =
    "<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpAddr>192.168.7.1</srvIpAddr>"
    "<srvIpPort>5000</srvIpPort></beaconCfgAlarm>";

void ip(const std::string& arguments)
{
    ASSERT_EQ(0, std::system(("ip " + arguments).c_str())) << arguments;
}

class NetworkChange : public kiv::test::RunningService
{
protected:
    void TearDown() override
    {
        RunningService::TearDown();
        kiv::setLogLevel(kiv::LogLevel::debug);
        // Back to the harness's network, whatever the case left.
        (void)std::system("ip addr flush dev varn-a; ip addr flush dev varn-b;"
                          "ip addr add 10.1.2.5/24 dev varn-a; ip addr add 192.168.7.20/24 dev varn-b;"
                          "ip route replace 224.0.0.0/4 dev varn-a");
    }

    bool logged(const std::string& start)
    {
        return waitFor([&] {
            const std::vector<std::string> lines = log.lines();
            return std::any_of(lines.begin(), lines.end(),
                               [&](const std::string& line) { return line.rfind(start, 0) == 0; });
        });
    }

    // A beacon on the peer side, on the link of `address`.
    std::unique_ptr<UdpPeer> remoteBeacon(const std::string& address)
    {
        auto beacon = std::make_unique<UdpPeer>(address, 0, Where::PeerNamespace);
        beacon->setMulticastInterface(address);
        return beacon;
    }

    void configure(UdpPeer& beacon)
    {
        log.clear();
        ASSERT_TRUE(beacon.sendTo(kConfiguration, kGroup, kBeaconPort));
        ASSERT_TRUE(waitFor([&] { return log.contains("<==  KivServer::setCrossOver\n"); }));
    }

    // Waits for a datagram of this kind ("<wdKA>", "<wdStatus>") from `from`,
    // passing over the others.
    bool receives(UdpPeer& peer, const std::string& kind, const std::string& from)
    {
        for (int i = 0; i < 10; ++i) {
            const std::optional<Datagram> d = peer.receive();
            if (!d)
                return false;
            if (d->data.rfind(kind, 0) == 0 && d->fromAddress == from)
                return true;
        }
        return false;
    }

    void refreshLocalNetwork()
    {
        ASSERT_TRUE(onWorker([this] {
            KivServerProbe(*server).refreshLocalNetwork();
            return true;
        }));
    }

    void tickToKeepAlive()
    {
        ASSERT_TRUE(onWorker([this] {
            KivServerProbe(*server).setTickCount(29);
            return true;
        }));
        tick();
    }
};

class NetworkUpLate : public NetworkChange
{
protected:
    void beforeStart() override
    {
        // The multicast route goes with the link's last address.
        ip("addr flush dev varn-a");
        ip("addr flush dev varn-b");
    }
};

TEST_F(NetworkUpLate, TheServiceJoinsBindsAndPairsOnceItComes)
{
    // Without a route to the group no join on the default interface is
    // tried, so none fails every 30 s.
    ASSERT_TRUE(logged("All Started"));
    for (const std::string& line : log.lines())
        EXPECT_EQ(std::string::npos, line.find("on [default]")) << line;
    ip("addr add 10.1.2.5/24 dev varn-a");
    ip("addr add 192.168.7.20/24 dev varn-b");
    ip("route add 224.0.0.0/4 dev varn-a");
    ASSERT_TRUE(logged("MulticastReceiver joined [224.2.2.224] on [10.1.2.5]"));

    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    UdpPeer plant("192.168.7.1", 5000, Where::PeerNamespace);
    auto beacon = remoteBeacon("10.1.2.11");
    ASSERT_TRUE(beacon->sendTo("<name>pump</name><location>hall</location>", kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.1.2.11"));
    configure(*beacon);
    ASSERT_EQ("10.1.2.5,  192.168.7.20", server->localIpInCommonText());
    tick();
    EXPECT_TRUE(receives(island, "<wdStatus>", "10.1.2.5"));
    EXPECT_TRUE(receives(plant, "<wdStatus>", "192.168.7.20"));
    tickToKeepAlive();
    EXPECT_TRUE(receives(island, "<wdKA>", "10.1.2.5"));
    EXPECT_TRUE(receives(plant, "<wdKA>", "192.168.7.20"));
}

class IslandAddressLate : public NetworkChange
{
protected:
    void beforeStart() override { ip("addr del 10.1.2.5/24 dev varn-a"); }
};

TEST_F(IslandAddressLate, KeepAlivesFollowTheAddressWithoutANewConfiguration)
{
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    // The configuration comes over the plant link, the one network there is.
    auto beacon = remoteBeacon("192.168.7.1");
    configure(*beacon);
    ASSERT_EQ("192.168.7.20", server->localIpInCommonText());

    ip("addr add 10.1.2.6/24 dev varn-a");
    ASSERT_TRUE(waitFor([&] { return server->localIpInCommonText() == "10.1.2.6,  192.168.7.20"; }));
    tick();
    EXPECT_TRUE(receives(island, "<wdStatus>", "10.1.2.6"));

    // The lease changes: another address, the same configuration.
    ip("addr del 10.1.2.6/24 dev varn-a");
    ip("addr add 10.1.2.7/24 dev varn-a");
    ASSERT_TRUE(waitFor([&] { return server->localIpInCommonText() == "10.1.2.7,  192.168.7.20"; }));
    tickToKeepAlive();
    EXPECT_TRUE(receives(island, "<wdKA>", "10.1.2.7"));
    EXPECT_FALSE(log.contains("*** NOT SENT: no socket on [10.1.2.7]\n"));
}

// The host's address list is the fake's, so that the list and the interface
// can disagree the way they do while an address comes or goes.
class ListedAddresses : public NetworkChange
{
protected:
    std::unique_ptr<kiv::test::FakeHostNetwork> listed;

    bool socketBound(const std::string& address)
    {
        return waitFor([&] {
            return onWorker([&] { return KivServerProbe(*server).socketBound(address); }).value_or(false);
        });
    }
    // The reports of the next tick, by the address and port they came from.
    std::set<std::string> reportsOfATick(UdpPeer& peer, int expected)
    {
        tick();
        std::set<std::string> from;
        for (int i = 0; i < expected; ++i) {
            const std::optional<Datagram> d = peer.receive();
            if (d && d->data.rfind("<wdStatus>", 0) == 0)
                from.insert(d->fromAddress + ":" + std::to_string(d->fromPort));
        }
        return from;
    }
};

class AddressListedBeforeItIsThere : public ListedAddresses
{
protected:
    void beforeStart() override
    {
        listed = std::make_unique<kiv::test::FakeHostNetwork>(
            std::vector<std::string>{"10.1.2.5", "10.1.2.6", "192.168.7.20"});
    }
};

TEST_F(AddressListedBeforeItIsThere, ItsSocketBindsWhenItComesAndItsReportFollows)
{
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    configure(*remoteBeacon("10.1.2.11"));
    ASSERT_EQ("10.1.2.5,  10.1.2.6,  192.168.7.20", server->localIpInCommonText());
    // Nothing leaves from another address in the pair's name.
    EXPECT_EQ(std::set<std::string>{"10.1.2.5:34543"}, reportsOfATick(island, 1));
    EXPECT_TRUE(logged("*** NOT SENT: socket on [10.1.2.6] not bound [bind: "));

    ip("addr add 10.1.2.6/24 dev varn-a");
    ASSERT_TRUE(socketBound("10.1.2.6"));
    EXPECT_EQ(std::set<std::string>{"10.1.2.6:34543"}, reportsOfATick(island, 1));
}

TEST_F(AddressListedBeforeItIsThere, ItsFailedBindIsToldOnceAcrossTheRetriesAndItsEndWithTheCount)
{
    configure(*remoteBeacon("10.1.2.11"));
    kiv::setLogLevel(kiv::kDefaultLogLevel);
    for (int i = 0; i < 3; ++i) {
        refreshLocalNetwork();  // a socket made anew for the address
        tick();
        if (i == 0) {  // told once at this level
            ASSERT_TRUE(log.contains("*** NOT SENT: socket on [10.1.2.6] not bound [bind: Cannot assign requested address]\n"));
            log.clear();
            gEventText.take();
        }
    }
    for (const std::string& line : log.lines())
        EXPECT_EQ(std::string::npos, line.find("10.1.2.6")) << line;
    EXPECT_EQ(std::string::npos, gEventText.take().find("UdpBoundSocket::UdpBoundSocket"));
    ip("addr add 10.1.2.6/24 dev varn-a");
    EXPECT_TRUE(logged("UdpBoundSocket::UdpBoundSocket  bound on [10.1.2.6:34543] after 4 failed tries"));
}

// Where no change is ever reported (Wine), the poll alone finds each change.
TEST_F(AddressListedBeforeItIsThere, TheSafetyPollKeepsFindingChanges)
{
    ASSERT_TRUE(onWorker([this] {
        KivServerProbe(*server).setSafetyPoll(std::chrono::milliseconds(300));
        return true;
    }));
    for (const std::size_t count : {2u, 3u}) {
        listed->setAddresses(count == 2 ? std::vector<std::string>{"10.1.2.5", "192.168.7.20"}
                                        : std::vector<std::string>{"10.1.2.5", "10.1.2.6", "192.168.7.20"});
        EXPECT_TRUE(waitFor([&] { return onWorker([this] { return KivServerProbe(*server).localAddressCount(); }) == count; },
                            std::chrono::seconds(5)));
    }
}

class AddressFoundBeforeItsSocket : public ListedAddresses
{
protected:
    void beforeStart() override
    {
        ip("addr add 10.1.2.6/24 dev varn-a");
        listed = std::make_unique<kiv::test::FakeHostNetwork>(std::vector<std::string>{"10.1.2.5", "192.168.7.20"});
    }
};

TEST_F(AddressFoundBeforeItsSocket, TheNewPairReportsOnceTheSocketIsThere)
{
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    // A lookup now finds the address; the service has not read it yet.
    listed->setAddresses({"10.1.2.5", "10.1.2.6", "192.168.7.20"});
    configure(*remoteBeacon("10.1.2.11"));
    EXPECT_EQ(std::set<std::string>{"10.1.2.5:34543"}, reportsOfATick(island, 1));

    refreshLocalNetwork();
    ASSERT_EQ("10.1.2.5,  10.1.2.6,  192.168.7.20", server->localIpInCommonText());
    EXPECT_EQ(std::set<std::string>{"10.1.2.6:34543"}, reportsOfATick(island, 1));
}

TEST_F(AddressFoundBeforeItsSocket, TwoPairChangesInOneTickReportEveryNewPair)
{
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    configure(*remoteBeacon("10.1.2.11"));
    listed->setAddresses({"10.1.2.5", "10.1.2.6", "192.168.7.20"});
    refreshLocalNetwork();
    EXPECT_EQ((std::set<std::string>{"10.1.2.5:34543", "10.1.2.6:34543"}), reportsOfATick(island, 2));
}

class MulticastRouteLate : public NetworkChange
{
protected:
    void beforeStart() override { ip("route del 224.0.0.0/4 dev varn-a"); }
};

TEST_F(MulticastRouteLate, TheDefaultJoinIsTriedOnceARouteComesThoughTheAddressesAreTheSame)
{
    // Without a route to the group the default interface is not tried.
    ASSERT_TRUE(logged("MulticastReceiver joined [224.2.2.224] on [10.1.2.5]"));
    EXPECT_FALSE(log.contains("MulticastReceiver join [224.2.2.224] on [default] failed"));
    ip("route add 224.0.0.0/4 dev varn-a");
    // The addresses the service holds stay as they were: one on loopback,
    // which it leaves out, makes it read them again before its next poll.
    ip("addr add 10.0.0.99/32 dev lo");
    ip("addr del 10.0.0.99/32 dev lo");
    EXPECT_TRUE(logged("MulticastReceiver joined [224.2.2.224] on [default]"));
}

TEST_F(NetworkChange, TheDefaultInterfaceIsJoinedOnce)
{
    ASSERT_TRUE(logged("MulticastReceiver joined [224.2.2.224] on [default]"));
    log.clear();
    ASSERT_TRUE(onWorker([this] {
        KivServerProbe(*server).refreshLocalNetwork();
        return true;
    }));
    EXPECT_FALSE(log.contains("MulticastReceiver joined [224.2.2.224] on [default]\n"));
}

TEST_F(NetworkChange, TheSocketOfAnAddressThatWentAwayIsClosed)
{
    // Counted on the worker, where no lookup holds a descriptor for a moment.
    const auto openDescriptors = [this] {
        return onWorker([] {
            const std::filesystem::directory_iterator fds("/proc/self/fd");
            return std::distance(begin(fds), end(fds));
        });
    };
    const auto addressesHeld = [this] {
        return onWorker([this] { return KivServerProbe(*server).localAddressCount(); });
    };
    const auto before = openDescriptors();
    ASSERT_TRUE(before);
    ip("addr add 10.1.2.6/24 dev varn-a");
    ASSERT_TRUE(waitFor([&] { return addressesHeld() == 3u; }));
    EXPECT_EQ(*before + 1, openDescriptors());  // its socket
    ip("addr del 10.1.2.6/24 dev varn-a");
    ASSERT_TRUE(waitFor([&] { return addressesHeld() == 2u; }));
    EXPECT_EQ(before, openDescriptors());
}

TEST_F(NetworkChange, AnAddressThatKeepsComingAndGoingIsToldOnceAndThenSummed)
{
    configure(*remoteBeacon("10.1.2.11"));
    kiv::setLogLevel(kiv::kDefaultLogLevel);
    ip("addr add 10.1.2.6/24 dev varn-a");
    refreshLocalNetwork();
    ASSERT_TRUE(log.contains("LocalNetwork: new address [10.1.2.6]\n"));
    log.clear();
    for (int i = 0; i < 4; ++i) {
        ip("addr del 10.1.2.6/24 dev varn-a");
        refreshLocalNetwork();
        ip("addr add 10.1.2.6/24 dev varn-a");
        refreshLocalNetwork();
    }
    const std::vector<std::string> lines = log.lines();
    EXPECT_GE(2u, lines.size()) << ::testing::PrintToString(lines);
}

TEST_F(NetworkChange, AStatusReplyAfterAnAddressChangeCarriesTheNewAddress)
{
    UdpPeer requester("192.168.7.1", 0, Where::PeerNamespace);
    const auto answersWith = [&](const std::string& address) {
        if (!requester.sendTo("STATUS_REQUEST ", "192.168.7.20", kStatusPort))
            return false;
        const std::optional<Datagram> reply = requester.receive(std::chrono::milliseconds(500));
        return reply && reply->data.find("<ipAddr>" + address + "</ipAddr>") != std::string::npos;
    };
    ASSERT_TRUE(answersWith("10.1.2.5"));
    ip("addr del 10.1.2.5/24 dev varn-a");
    ip("addr add 10.1.2.6/24 dev varn-a");
    // The address in the reply is read again at most a second after the last.
    EXPECT_TRUE(waitFor([&] { return answersWith("10.1.2.6"); }));
}

using Stall = NetworkChange;

TEST_F(Stall, OneKeepAlivePerPairAfterAStallOfTwoPeriods)
{
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    UdpPeer plant("192.168.7.1", 5000, Where::PeerNamespace);
    configure(*remoteBeacon("10.1.2.11"));
    // The timer's own ticks, not the test's, must run into the stall.
    ASSERT_TRUE(waitFor([&] { return onWorker([this] { return KivServerProbe(*server).tickCount(); }).value_or(0) >= 1; },
                        std::chrono::seconds(15)));
    ASSERT_TRUE(receives(island, "<wdStatus>", "10.1.2.5"));
    ASSERT_TRUE(receives(plant, "<wdStatus>", "192.168.7.20"));
    // The worker stops for 33 s from tick 28: ticks 30 and 60 fall due in
    // the gap, as in a process stopped or a machine suspended for as long.
    boost::asio::post(server->ioContext(), [this] {
        KivServerProbe(*server).setTickCount(28);
        std::this_thread::sleep_for(std::chrono::seconds(33));
    });
    for (UdpPeer* peer : {&island, &plant}) {
        std::optional<Datagram> keepAlive = peer->receive(std::chrono::seconds(45));
        ASSERT_TRUE(keepAlive);
        EXPECT_EQ(0u, keepAlive->data.find("<wdKA>"));
    }
    // Nothing more is owed: the next keep-alive is a whole period away.
    EXPECT_FALSE(island.receive(std::chrono::seconds(3)));
    EXPECT_FALSE(plant.receive(std::chrono::milliseconds(100)));
    EXPECT_TRUE(logged("KivServer::onTick  ["));
}

}  // namespace
