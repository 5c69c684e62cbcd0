// varn-beacon run as its own program against the service in this process:
// what the engineer sees on the workstation's dialog comes from these slots
// and pairs.
#include <cstdlib>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "support/fake_host.h"
#include "support/log_capture.h"
#include "support/wait.h"

namespace {

using kiv::test::waitFor;

int runBeaconTool(const std::string& arguments)
{
    return std::system((std::string(VARN_BEACON_TOOL) + " " + arguments).c_str());
}

class BeaconTool : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host = std::make_unique<kiv::KivSrv>();
        server = host->server();
        ASSERT_TRUE(waitFor([&] { return log.contains("==>  KivServer::run\n"); }));
    }
    void TearDown() override { host.reset(); }

    kiv::test::LogCapture log;
    kiv::test::FakeCpu cpu;
    std::unique_ptr<kiv::KivSrv> host;
    kiv::KivServer* server = nullptr;
};

TEST_F(BeaconTool, AnnouncementsBindSlotsAndRefreshThem)
{
    ASSERT_EQ(0, runBeaconTool("announce --from 10.0.0.9 --from 10.0.0.10 --name pump --location 'hall 2' "
                               "--ping-target 10.1.2.1 --health 3 --count 2 --rate 50 --quiet"));
    // The first announcement binds the slot, the second refreshes it.
    const auto refreshed = [&](int slot, const std::string& address, const std::string& name) {
        return server->withBeacons([&](kiv::BeaconSlots& beacons) {
            const kiv::BeaconTracker& b = beacons[static_cast<std::size_t>(slot)];
            return b.mIpAddressText == address && b.mName == name && b.mLocation == "hall 2" &&
                   b.mPingTarget == "10.1.2.1" && b.mPingTargetHealth == 3 && b.mMessageCount == 1;
        });
    };
    // Each round goes out in --from order, so the slots are taken in it.
    EXPECT_TRUE(waitFor([&] { return refreshed(0, "10.0.0.9", "pump-1"); }));
    EXPECT_TRUE(waitFor([&] { return refreshed(1, "10.0.0.10", "pump-2"); }));
    server->withBeacons([](kiv::BeaconSlots& beacons) { EXPECT_EQ(0u, beacons[2].mIpAddress); });
}

TEST_F(BeaconTool, ConfigurationPairsOnlyTheMatchingInterface)
{
    ASSERT_EQ(0, runBeaconTool("configure --from 10.0.0.11 --server 10.9.9.1 --server 10.1.2.1 --server-port 5000 "
                               "--cpu-percent 90 --alarm-seconds 10 --quiet"));
    ASSERT_TRUE(waitFor([&] { return log.contains("<==  KivServer::setCrossOver\n"); }));
    EXPECT_TRUE(log.contains("mRemotePort=[5000]  mAlarmPercent=[90]  mAlarmSeconds=[10]\n"));
    EXPECT_TRUE(log.contains("SETTING COMMON NETWORK [10.1.2.5] [10.1.2.1]\n"));
    EXPECT_EQ(1, log.count("FOUND A COMMON NETWORK [0] [1]\n"));  // 10.9.9.1 is on no network of ours
    EXPECT_EQ("10.1.2.5", server->localIpInCommonText());
}

}  // namespace
