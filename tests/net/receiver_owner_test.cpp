// The group listeners without a watchdog server: what each hands to the
// owner it was made with. The worker loop does not run; datagrams go in
// through handleDatagram as the receive handlers pass them on. The
// listeners open their sockets, so this runs in a namespace of the harness.
#include <cstdint>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "base/event_text.h"
#include "base/service_options.h"
#include "net/multicast_receiver.h"
#include "net/multicast_receiver_cloud.h"
#include "net/receiver_owner.h"
#include "support/log_capture.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;

constexpr const char* kAnnouncement =
    "<beacon><name>pump 3</name><location>hall 2</location><pingTarget>10.0.0.1</pingTarget>"
    "<pingTargetHealth>2</pingTargetHealth></beacon>";
constexpr const char* kConfiguration =
    "<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>5000</srvIpPort></beaconCfgAlarm>";

// Writes down every hand-over, in order.
class RecordingOwner : public kiv::ReceiverOwner
{
public:
    void onBeaconMessage(std::uint32_t sender, const std::string& message) override
    {
        calls.push_back("beacon " + std::to_string(sender) + " " + message);
    }
    void onConfiguration(std::uint32_t /*sender*/, const std::string& message) override { calls.push_back("configuration " + message); }
    void onCloudServerAddress(const std::string& address) override
    {
        calls.push_back("cloud [" + address + "]");
    }
    std::vector<std::string> calls;
};

udp::endpoint from(const char* address)
{
    return udp::endpoint(asio::ip::make_address_v4(address), 34543);
}

class ListenerHandOver : public ::testing::Test
{
protected:
    void receive(MulticastReceiver& channel, const std::string& text, const char* sender)
    {
        channel.handleDatagram(text.data(), text.size(), from(sender));
    }

    kiv::test::LogCapture log;
    asio::io_context io;
    RecordingOwner owner;
};

TEST_F(ListenerHandOver, AnnouncementGoesToTheOwnerWithItsSenderInHostOrder)
{
    MulticastReceiver channel(io, kiv::kBeaconGroup, owner, kiv::ServiceOptions());
    receive(channel, kAnnouncement, "10.0.0.9");
    EXPECT_EQ(std::vector<std::string>{"beacon 167772169 " + std::string(kAnnouncement)}, owner.calls);
}

TEST_F(ListenerHandOver, PingTargetCommandGoesToNobody)
{
    MulticastReceiver channel(io, kiv::kBeaconGroup, owner, kiv::ServiceOptions());
    receive(channel, "<setPingTarget>10.0.0.1</setPingTarget>", "10.0.0.9");
    EXPECT_TRUE(owner.calls.empty());
}

TEST_F(ListenerHandOver, ConfigurationOnlyFromAnAllowedSourceAndAfterItsBeaconMessage)
{
    kiv::ServiceOptions options;
    options.allowConfigFrom.add(kiv::parseNetwork("test", "10.0.0.11"));
    MulticastReceiver channel(io, kiv::kBeaconGroup, owner, options);
    receive(channel, kConfiguration, "10.0.0.12");
    receive(channel, kConfiguration, "10.0.0.11");
    const std::vector<std::string> expected = {
        "beacon 167772172 " + std::string(kConfiguration),
        "beacon 167772171 " + std::string(kConfiguration),
        "configuration " + std::string(kConfiguration),
    };
    EXPECT_EQ(expected, owner.calls);
}

TEST_F(ListenerHandOver, CloudServerAddressUpToItsFirstZeroByte)
{
    MulticastReceiverCloud cloud(io, kiv::kCloudGroup, owner);
    const std::string datagram("<srvIpAddr>10.9.8.7\0junk</srvIpAddr>", 36);
    cloud.handleDatagram(datagram.data(), datagram.size());
    EXPECT_EQ(std::vector<std::string>{"cloud [10.9.8.7]"}, owner.calls);
    gEventText.take();  // its event line, for no later test to find
}

}  // namespace
