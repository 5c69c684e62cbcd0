// The real service under faults, in the namespaces the harness made (the
// program's side holds 10.1.2.5/24 and 192.168.7.20/24, the peer side
// 10.1.2.1/24 and 192.168.7.1/24): watchdog servers that answer with ICMP
// unreachable, configurations whose addresses do not parse, datagrams of
// every awkward size on every port, zero and non-UTF-8 bytes in every field,
// and a flood of a thousand distinct beacons. After each, the service must
// still answer a status request and still update its slots.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <sstream>

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"
#include "support/log_capture.h"
#include "support/running_service.h"
#include "support/udp_peer.h"
#include "support/wait.h"

namespace {

using kiv::KivServer;
using kiv::KivSrv;
using kiv::test::Datagram;
using kiv::test::FakeCpu;
using kiv::test::KivServerProbe;
using kiv::test::LogCapture;
using kiv::test::UdpPeer;
using kiv::test::waitFor;
using Where = UdpPeer::Where;

constexpr std::uint16_t kBeaconPort = 34543;
constexpr std::uint16_t kStatusPort = 45654;
constexpr const char* kGroup = "224.2.2.224";
constexpr const char* kCloud = "224.0.2.224";
constexpr std::size_t kSizes[] = {0, 10, 11, 1024, 1501, 65507};

std::string announcement(const std::string& name, const std::string& pingTarget = "10.9.9.9",
                         const std::string& health = "2")
{
    return "<beacon><name>" + name + "</name><location>hall " + name + "</location><pingTarget>" +
           pingTarget + "</pingTarget><pingTargetHealth>" + health + "</pingTargetHealth></beacon>";
}

// The first `size` bytes of `text` followed by filler.
std::string sized(const std::string& text, std::size_t size, char filler = 'x')
{
    std::string out = text.substr(0, size);
    out.resize(size, filler);
    return out;
}

std::string shell(const std::string& command)
{
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

// Runs `command` when the test ends, however it ends.
struct Undo {
    explicit Undo(std::string c) : command(std::move(c)) {}
    ~Undo() { std::system(command.c_str()); }
    Undo(const Undo&) = delete;
    Undo& operator=(const Undo&) = delete;
    std::string command;
};

// Destination-unreachable messages this namespace has received.
long icmpDestUnreachableIn()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string names, values, line;
    while (std::getline(snmp, line)) {
        if (line.rfind("Icmp: ", 0) != 0)
            continue;
        (names.empty() ? names : values) = line;
    }
    std::istringstream n(names), v(values);
    std::string name, value;
    while (n >> name && v >> value) {
        if (name == "InDestUnreachs")
            return std::stol(value);
    }
    return -1;
}

class Fault : public kiv::test::RunningService
{
protected:
    // Sends the configuration from a beacon on this host and waits until
    // the crossover has taken it.
    void configure(const std::string& message)
    {
        const int before = log.count("<==  KivServer::setCrossOver\n");
        auto beacon = localBeacon("10.0.0.12");
        ASSERT_TRUE(beacon->sendTo(message, kGroup, kBeaconPort));
        ASSERT_TRUE(waitFor([&] { return log.count("<==  KivServer::setCrossOver\n") > before; }));
    }

    bool answersStatus()
    {
        UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
        if (!requester.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort))
            return false;
        const std::optional<Datagram> reply = requester.receive();
        return reply && reply->data.rfind("<status><ipAddr>10.1.2.5</ipAddr>\n", 0) == 0;
    }

    // A beacon at `address` (bound to a slot or not yet) announces a new
    // ping target, and the slot shows it. The announcement goes again every
    // 100 ms: after a flood the channel's socket buffer may still be full
    // and drop it, until the worker has read what is waiting.
    bool slotUpdates(const std::string& address)
    {
        const std::string target = "10.20.30." + std::to_string(++mUpdates);
        auto beacon = localBeacon(address);
        const std::string text = announcement("still here", target);
        auto nextSend = std::chrono::steady_clock::now();
        return waitFor(
            [&] {
                if (std::chrono::steady_clock::now() >= nextSend) {
                    beacon->sendTo(text, kGroup, kBeaconPort);
                    nextSend += std::chrono::milliseconds(100);
                }
                return slots([&](kiv::BeaconSlots& b) {
                    for (const kiv::BeaconTracker& t : b) {
                        if (t.mIpAddressText == address && t.mPingTarget == target)
                            return true;
                    }
                    return false;
                });
            },
            std::chrono::seconds(30));
    }

    void expectStillServing(const std::string& beaconAddress)
    {
        EXPECT_TRUE(answersStatus());
        EXPECT_TRUE(slotUpdates(beaconAddress));
        EXPECT_FALSE(log.contains("*** EXCEPTION  KivServer::run\n"));
    }

private:
    int mUpdates = 0;
};

// A watchdog server that refuses the datagrams with an ICMP unreachable,
// next to one that takes them.
struct Refusal {
    const char* name;
    const char* refused;    // the refusing server's address
    const char* route;      // "": the peer has the address, nothing listens on the port;
                            // otherwise the peer routes it this way ("unreachable", "prohibit")
    const char* link;       // the program's link towards it, and the peer's
    const char* peerLink;
    const char* accepting;  // the server on the other network, which listens
};

const Refusal kRefusals[] = {
    {"PortUnreachable", "10.1.2.1", "", "varn-a", "varn-ap", "192.168.7.1"},
    {"HostUnreachable", "10.1.2.99", "unreachable", "varn-a", "varn-ap", "192.168.7.1"},
    // On the other network: the peer allows only a few refusals per source
    // address in a burst, and the case before used those of 10.1.2.5.
    {"Prohibited", "192.168.7.99", "prohibit", "varn-b", "varn-bp", "10.1.2.1"},
};

class UnreachableServer : public Fault, public ::testing::WithParamInterface<Refusal>
{
};

TEST_P(UnreachableServer, KeepAlivesAndAnswersGoOn)
{
    const Refusal& refusal = GetParam();
    const std::string peer = kiv::test::peerNamespace();
    const auto setting = [&](const std::string& name, const std::string& value) {
        return "ip netns exec " + peer + " sh -c 'echo " + value + " > /proc/sys/net/ipv4/" + name + "'";
    };
    // Every refusal is sent, however many came before.
    const std::string mask = shell("ip netns exec " + peer + " cat /proc/sys/net/ipv4/icmp_ratemask");
    ASSERT_TRUE(run(setting("icmp_ratemask", "0")));
    Undo undoRateMask(setting("icmp_ratemask", std::to_string(std::stol(mask))));
    std::unique_ptr<Undo> undoNeighbour, undoRoute, undoForwarding;
    if (*refusal.route != '\0') {
        // The peer takes the datagrams for the refused address as a router
        // would, and its route for that address refuses them.
        const std::string refused = refusal.refused;
        const std::string link = shell("ip -n " + peer + " -o link show " + refusal.peerLink);
        const std::string::size_type at = link.find("link/ether ");
        ASSERT_NE(std::string::npos, at) << link;
        const std::string mac = link.substr(at + 11, 17);
        ASSERT_TRUE(run("ip neigh replace " + refused + " lladdr " + mac + " dev " + refusal.link +
                        " nud permanent"));
        undoNeighbour = std::make_unique<Undo>("ip neigh del " + refused + " dev " + refusal.link);
        const std::string forwarding = std::string("conf/") + refusal.peerLink + "/forwarding";
        ASSERT_TRUE(run(setting(forwarding, "1")));
        undoForwarding = std::make_unique<Undo>(setting(forwarding, "0"));
        const std::string route = std::string(refusal.route) + " " + refused + "/32";
        ASSERT_TRUE(run("ip -n " + peer + " route add " + route));
        undoRoute = std::make_unique<Undo>("ip -n " + peer + " route del " + route);
    }
    UdpPeer accepting(refusal.accepting, 5000, Where::PeerNamespace);
    configure(std::string("<beaconCfgAlarm><srvIpAddr>") + refusal.refused + "</srvIpAddr><srvIpAddr>" +
              refusal.accepting + "</srvIpAddr><srvIpPort>5000</srvIpPort></beaconCfgAlarm>");
    ASSERT_EQ("10.1.2.5,  192.168.7.20", server->localIpInCommonText());
    const long refusalsBefore = icmpDestUnreachableIn();

    tick(60);  // the report of tick 1, keep-alives on ticks 30 and 60
    EXPECT_TRUE(waitFor([&] { return icmpDestUnreachableIn() > refusalsBefore; }))
        << "the refusal never came back";
    EXPECT_EQ(3, log.count(std::string("SEND TX DATA TO=[") + refusal.refused + ":5000]\n"));
    EXPECT_EQ(6, log.count("<==  UdpBoundSocket::sendData\n"));  // every send went out
    for (const char* kind : {"<wdStatus>", "<wdKA>", "<wdKA>"}) {
        const std::optional<Datagram> d = accepting.receive();
        ASSERT_TRUE(d) << kind;
        EXPECT_EQ(0u, d->data.find(kind));
    }
    for (const std::string& line : log.lines())
        EXPECT_EQ(std::string::npos, line.find("*** EXCEPTION")) << line;
    expectStillServing("10.0.0.9");
}

INSTANTIATE_TEST_SUITE_P(Refusals, UnreachableServer, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& refusal) {
                             return std::string(refusal.param.name);
                         });

TEST_F(Fault, ServerAddressesThatDoNotParseMakeNoPairs)
{
    const std::string addresses[] = {
        "999.1.2.3",
        "abc",
        "",
        std::string(300, '1'),
        // inet_addr reads it as 10.1.2.1 (the last part octal); the address
        // parser refuses it.
        "10.1.2." + std::string(292, '0') + "1",
    };
    for (const std::string& address : addresses) {
        configure("<beaconCfgAlarm><srvIpAddr>" + address + "</srvIpAddr><srvIpPort>5000</srvIpPort>"
                  "</beaconCfgAlarm>");
        EXPECT_EQ(0, onWorker([this] { return KivServerProbe(*server).numLinks(); }).value_or(-1))
            << "[" << address << "]";
        EXPECT_EQ("", server->localIpInCommonText()) << "[" << address << "]";
    }
    EXPECT_EQ(1, log.count("*** SKIPPED server entry [10.1.2." + std::string(292, '0') +
                           "1]: not a dotted address\n"));  // the padded one
    EXPECT_FALSE(log.contains("*** EXCEPTION"));

    // The crossover still works, and its report goes out.
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    configure("<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>5000</srvIpPort></beaconCfgAlarm>");
    EXPECT_EQ("10.1.2.5", server->localIpInCommonText());
    tick();
    const std::optional<Datagram> report = island.receive();
    ASSERT_TRUE(report);
    EXPECT_EQ(0u, report->data.find("<wdStatus>"));
    expectStillServing("10.0.0.9");
}

TEST_F(Fault, AnAlarmDelayAtTheBottomOfIntIsRefused)
{
    // No delay at all: the one in force stays, and the station goes on.
    UdpPeer island("10.1.2.1", 5000, Where::PeerNamespace);
    configure("<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>5000</srvIpPort>"
              "<cpuPercent>50</cpuPercent><alarmSeconds>-2147483648</alarmSeconds></beaconCfgAlarm>");
    EXPECT_TRUE(waitFor([&] {
        return log.contains("*** REFUSED alarmSeconds [-2147483648]: not a whole number from 0 to 86400, "
                            "[5] stays in force\n");
    }));
    EXPECT_EQ(5, onWorker([this] { return KivServerProbe(*server).alarmSeconds(); }).value_or(-1));
    expectStillServing("10.0.0.9");
}

TEST_F(Fault, EverySizeToTheBeaconGroup)
{
    auto beacon = localBeacon("10.0.0.9");
    ASSERT_TRUE(beacon->sendTo(announcement("pump"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.0.0.9"));
    const std::string text = announcement("pump", "10.0.0.77", "3");
    for (std::size_t size : kSizes)
        ASSERT_TRUE(beacon->sendTo(sized(text, size), kGroup, kBeaconPort)) << size;
    ASSERT_TRUE(beacon->sendTo(announcement("pump", "10.0.0.88"), kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return slots([](kiv::BeaconSlots& b) { return b[0].mPingTarget == "10.0.0.88"; }); }));
    // Those over 10 bytes count, the long ones cut to the 1024-byte buffer.
    slots([](kiv::BeaconSlots& b) {
        EXPECT_EQ(5, b[0].mMessageCount);
        EXPECT_EQ("pump", b[0].mName);
        EXPECT_EQ(0u, b[1].mIpAddress);
    });
    expectStillServing("10.0.0.9");
}

TEST_F(Fault, EverySizeToTheCloudGroup)
{
    UdpPeer cloud("10.0.0.10", 0);
    cloud.setMulticastInterface("10.1.2.5");
    KivSrv::takeEventText();
    for (std::size_t size : kSizes)
        ASSERT_TRUE(cloud.sendTo(sized("<srvIpAddr>10.0.0.2</srvIpAddr>", size, 'c'), kCloud, kBeaconPort)) << size;
    ASSERT_TRUE(cloud.sendTo("<srvIpAddr>10.0.0.1</srvIpAddr>", kCloud, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return server->cloudSrvIpAddrText() == "10.0.0.1"; }));
    // Every datagram became an event line, the empty one too; none was
    // longer than the buffer.
    const std::string events = KivSrv::takeEventText();
    std::size_t lines = 0;
    for (std::size_t at = events.find("\r MulticastRX= "); at != std::string::npos;
         at = events.find("\r MulticastRX= ", at + 1))
        ++lines;
    EXPECT_EQ(7u, lines);
    EXPECT_NE(std::string::npos, events.find("\r MulticastRX= \r"));
    // 1024, 1501 and 65507 bytes all show as their first 1024.
    const std::string full = "\r MulticastRX= " + sized("<srvIpAddr>10.0.0.2</srvIpAddr>", 1024, 'c') + "\r";
    std::size_t fulls = 0;
    for (std::size_t at = events.find(full); at != std::string::npos; at = events.find(full, at + 1))
        ++fulls;
    EXPECT_EQ(3u, fulls);
    expectStillServing("10.0.0.9");
}

TEST_F(Fault, EverySizeToTheCommandPort)
{
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    UdpPeer marker("10.1.2.1", 0, Where::PeerNamespace);
    for (std::size_t size : kSizes)
        ASSERT_TRUE(requester.sendTo(sized("STATUS_REQUEST ", size, 's'), "10.1.2.5", kStatusPort)) << size;
    // Datagrams are handled in order: once the marker is answered, every
    // answer to the sizes before it has been sent.
    ASSERT_TRUE(marker.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(marker.receive());
    // The word fits in 1024, 1501 and (cut) 65507 bytes.
    EXPECT_EQ(3, requester.drain(std::chrono::milliseconds(0)));
    EXPECT_TRUE(log.contains("SIP RX DATA  bytes_transferred=[0] data=[]\n"));
    expectStillServing("10.0.0.9");
}

TEST_F(Fault, EverySizeToTheBoundSocket)
{
    UdpPeer sender("10.1.2.1", 0, Where::PeerNamespace);
    for (std::size_t size : kSizes)
        ASSERT_TRUE(sender.sendTo(sized("", size, 'b'), "10.1.2.5", kBeaconPort)) << size;
    EXPECT_TRUE(waitFor([&] { return log.count("UdpBoundSocket::parseKivMessage   NOT WIRED UP !!!!\n") == 4; }));
    expectStillServing("10.0.0.9");
}

TEST_F(Fault, ZeroAndNonUtf8BytesInEveryField)
{
    using namespace std::string_literals;
    const std::string name = "pu\0mp \xff\xfe"s;
    const std::string location = "\xc0\x80hall\0 7"s;  // an overlong zero, then a real one
    const std::string target = "10.0.0.\xed\xa0\x80\0"s;  // an encoded surrogate
    auto beacon = localBeacon("10.0.0.9");
    ASSERT_TRUE(beacon->sendTo("<beacon><name>" + name + "</name><location>" + location + "</location>",
                               kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.0.0.9"));
    ASSERT_TRUE(beacon->sendTo("<pingTarget>" + target + "</pingTarget><pingTargetHealth>\x80" "2"
                               "</pingTargetHealth>",
                               kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return slots([](kiv::BeaconSlots& b) { return b[0].mMessageCount == 1; }); }));
    slots([&](kiv::BeaconSlots& b) {
        // Values are taken byte for byte, zero bytes included.
        EXPECT_EQ(name, b[0].mName);
        EXPECT_EQ(location, b[0].mLocation);
        EXPECT_EQ(target, b[0].mPingTarget);
        EXPECT_EQ(0, b[0].mPingTargetHealth);  // not a number
    });

    // A command echo with such an address touches no slot.
    auto other = localBeacon("10.0.0.10");
    ASSERT_TRUE(other->sendTo("<setPingTarget>\0\xff\x01</setPingTarget>"s, kGroup, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return log.contains("cmd=[18]\n"); }));

    // Server addresses with a zero or a stray byte behind them match nothing.
    configure("<beaconCfgAlarm><srvIpAddr>10.1.2.1\0</srvIpAddr><srvIpAddr>192.168.7.1\xff</srvIpAddr>"
              "<srvIpPort>5000\0\xff</srvIpPort><cpuPercent>\xff</cpuPercent></beaconCfgAlarm>"s);
    EXPECT_EQ(0, onWorker([this] { return KivServerProbe(*server).numLinks(); }).value_or(-1));

    // The cloud group keeps and shows the text up to the zero byte.
    UdpPeer cloud("10.0.0.11", 0);
    cloud.setMulticastInterface("10.1.2.5");
    KivSrv::takeEventText();
    ASSERT_TRUE(cloud.sendTo("<srvIpAddr>10.0\0.0.1\xff</srvIpAddr>"s, kCloud, kBeaconPort));
    ASSERT_TRUE(waitFor([&] { return server->cloudSrvIpAddrText() == "10.0"; }));
    EXPECT_EQ("\r MulticastRX= <srvIpAddr>10.0\r", KivSrv::takeEventText());

    // The command port reads its text up to the zero byte.
    UdpPeer requester("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(requester.sendTo("\xff\xfeSTATUS_REQUEST \0\xff"s, "10.1.2.5", kStatusPort));
    EXPECT_TRUE(requester.receive());
    ASSERT_TRUE(requester.sendTo("\xff\xfeSTATUS_REQUEST\0 "s, "10.1.2.5", kStatusPort));
    UdpPeer marker("10.1.2.1", 0, Where::PeerNamespace);
    ASSERT_TRUE(marker.sendTo("STATUS_REQUEST ", "10.1.2.5", kStatusPort));
    ASSERT_TRUE(marker.receive());
    EXPECT_FALSE(requester.receive(std::chrono::milliseconds(0)));  // the blank lay behind the zero

    expectStillServing("10.0.0.9");
}

TEST_F(Fault, FloodOfAThousandDistinctBeacons)
{
    constexpr int kBeacons = 1000;
    const auto address = [](int i) {
        return "10.3." + std::to_string((i + 1) / 250) + "." + std::to_string((i + 1) % 250 + 1);
    };
    std::string add, del;
    for (int i = 0; i < kBeacons; ++i) {
        add += "addr add " + address(i) + "/32 dev lo\n";
        del += "addr del " + address(i) + "/32 dev lo\n";
    }
    const auto batch = [](const std::string& commands) {
        FILE* pipe = ::popen("ip -batch -", "w");
        if (pipe == nullptr)
            return false;
        std::fwrite(commands.data(), 1, commands.size(), pipe);
        return ::pclose(pipe) == 0;
    };
    ASSERT_TRUE(batch(add));
    struct RemoveAddresses {
        std::function<void()> f;
        ~RemoveAddresses() { f(); }
    } removeAddresses{[&] { batch(del); }};

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int sent = 0;
    for (int i = 0; i < kBeacons && std::chrono::steady_clock::now() < deadline; ++i) {
        auto beacon = localBeacon(address(i));
        sent += beacon->sendTo(announcement("flood " + std::to_string(i)), kGroup, kBeaconPort);
    }
    EXPECT_EQ(kBeacons, sent);
    // Once the first beacon's later datagram is seen, all before it were.
    ASSERT_TRUE(slotUpdates(address(0)));
    slots([&](kiv::BeaconSlots& b) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(address(i), b[i].mIpAddressText);
            EXPECT_EQ("flood " + std::to_string(i), b[i].mName);
        }
    });
    EXPECT_TRUE(answersStatus());
    EXPECT_TRUE(slotUpdates(address(2)));
}

}  // namespace
