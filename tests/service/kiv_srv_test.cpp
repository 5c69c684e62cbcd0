// The service host: start and stop, a worker already gone, the command port
// taken, and dialog-thread reads racing the worker.

#include "service/kiv_srv.h"

#include <future>

#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>
#include <boost/system/system_error.hpp>
#include <gtest/gtest.h>

#include "base/event_text.h"
#include "service/kiv_server.h"
#include "shell/startup_failure.h"
#include "support/fake_host.h"
#include "support/log_capture.h"
#include "support/wait.h"

namespace {

using kiv::KivSrv;
using kiv::test::FakeCpu;
using kiv::test::LogCapture;
using kiv::test::waitFor;

// Deletes the host on another thread and reports whether that returned in time.
bool deletesPromptly(std::unique_ptr<KivSrv> host)
{
    auto done = std::async(std::launch::async, [h = std::move(host)]() mutable { h.reset(); });
    return done.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

TEST(ServiceHost, StartsAndStopsCleanly)
{
    LogCapture log;
    FakeCpu cpu;
    gEventText.take();
    auto host = std::make_unique<KivSrv>();
    gServiceHost = host.get();
    EXPECT_EQ("\r BEFORE new kiv::KivServer()\r\n\r AFTER new kiv::KivServer()\r\n",
              KivSrv::takeEventText());
    EXPECT_EQ("", KivSrv::takeEventText());
    EXPECT_EQ("0", KivSrv::getCpuText());
    EXPECT_TRUE(waitFor([&] { return log.contains("==>  KivServer::run\n"); }));
    EXPECT_TRUE(log.contains("All Started"));
    EXPECT_TRUE(log.contains("KivSrv::KivSrv\n"));

    kiv::KivServer* server = host->server();
    ASSERT_NE(nullptr, server);
    gServiceHost = nullptr;
    ASSERT_TRUE(deletesPromptly(std::move(host)));
    EXPECT_EQ(nullptr, kiv::KivServer::instance());
    const std::vector<std::string> lines = log.lines();
    const auto at = [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    };
    EXPECT_LT(at("KivSrv::~KivSrv\n"), at("KivServer::stop\n"));
    EXPECT_LT(at("KivServer::stop\n"), at("KivServer::handle_stop\n"));
    EXPECT_LT(at("KivServer::handle_stop\n"), at("KivServer::run HAS EXITED CORRECTLY\n"));
    EXPECT_LT(at("<==  KivServer::run\n"), at("KivServer::~KivServer\n"));
    EXPECT_EQ(3, log.count("BeaconTracker::~BeaconTracker\n"));
    EXPECT_TRUE(log.contains("<> CpuUsage::~CpuUsage\n"));
}

TEST(ServiceHost, ShutDownDoesNotWaitForAWorkerThatIsGone)
{
    LogCapture log;
    FakeCpu cpu;
    auto host = std::make_unique<KivSrv>();
    boost::asio::post(host->server()->ioContext(), [] { throw std::runtime_error("handler failed"); });
    ASSERT_TRUE(waitFor([&] { return log.contains("*** EXCEPTION  KivServer::run [handler failed]\n"); }));
    EXPECT_FALSE(host->server()->runExited());
    EXPECT_TRUE(deletesPromptly(std::move(host)));
    EXPECT_FALSE(log.contains("KivServer::run HAS EXITED CORRECTLY\n"));
}

TEST(ServiceHost, CommandPortTakenFailsWithAClearMessage)
{
    LogCapture log;
    boost::asio::io_context io;
    boost::asio::ip::udp::socket holder(
        io, boost::asio::ip::udp::endpoint(boost::asio::ip::address_v4::any(), kiv::kCommandPort));
    try {
        KivSrv host;
        FAIL() << "the service started although its port was taken";
    } catch (const boost::system::system_error& error) {
        const std::string text = kiv::describeStartupFailure(error);
        EXPECT_NE(std::string::npos, text.find("UDP port 45654 is already in use")) << text;
    }
    EXPECT_EQ(nullptr, kiv::KivServer::instance());
}

TEST(ServiceHost, GuiReadsWhileTheWorkerWrites)
{
    // ThreadSanitizer watches this one: the accessors and the slot reads of
    // the dialog against crossover, ticks and slot updates on the worker.
    LogCapture log;
    FakeCpu cpu({10, 20, 30});
    kiv::test::FakeHostNetwork hostNetwork({"10.1.2.5"});
    auto host = std::make_unique<KivSrv>();
    gServiceHost = host.get();
    kiv::KivServer* server = host->server();
    std::atomic<int> done{0};
    constexpr int kRounds = 300;
    for (int i = 0; i < kRounds; ++i) {
        boost::asio::post(server->ioContext(), [server, i, &done] {
            kiv::KivServer::setCrossOver("<beaconCfgAlarm><srvIpAddr>10.1.2." + std::to_string(1 + i % 3) +
                                         "</srvIpAddr><srvIpPort>5000</srvIpPort></beaconCfgAlarm>");
            server->withBeacons([i](kiv::BeaconSlots& b) {
                b[i % 3].mPingTarget = "10.0.0." + std::to_string(i);
                b[i % 3].mName = "beacon " + std::to_string(i);
            });
            server->onPeriodic();
            done.fetch_add(1);
        });
    }
    std::size_t seen = 0;
    while (done.load() < kRounds) {
        seen += KivSrv::getHostNameText().size() + KivSrv::getLocalIpInCommonText().size() +
                KivSrv::getCpuText().size() + KivSrv::takeEventText().size();
        for (int slot = 0; slot < 3; ++slot) {
            server->getPingHealth(slot);
            seen += server->withBeacons([slot](kiv::BeaconSlots& b) { return b[slot].mName; }).size();
        }
    }
    EXPECT_GT(seen, 0u);
    EXPECT_EQ("plant-ws7", KivSrv::getHostNameText());
    gServiceHost = nullptr;
    EXPECT_TRUE(deletesPromptly(std::move(host)));
}

}  // namespace
