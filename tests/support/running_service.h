// The real service on real sockets in the harness's peers namespaces, for
// the network suites: the program's side holds 10.1.2.5/24 and
// 192.168.7.20/24, the peer side plays the watchdog servers and remote
// beacons. A fixture that needs command-line options sets `options` in its
// constructor; the service starts with them.
#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <boost/asio/post.hpp>
#include <gtest/gtest.h>

#include "base/service_options.h"
#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "support/fake_host.h"
#include "support/log_capture.h"
#include "support/udp_peer.h"
#include "support/wait.h"

namespace kiv::test {

class RunningService : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (peerNamespace().empty())
            GTEST_SKIP() << "needs the harness's peers mode";
        setServiceOptions(options);
        beforeStart();
        host = std::make_unique<KivSrv>();
        server = host->server();
    }
    void TearDown() override
    {
        host.reset();
        setServiceOptions(ServiceOptions());
    }

    // What the network looks like when the service starts (a suite that
    // changes it puts it back in its own TearDown).
    virtual void beforeStart() {}

    // A beacon on this host (its address on loopback) sending to the group.
    std::unique_ptr<UdpPeer> localBeacon(const std::string& address)
    {
        auto beacon = std::make_unique<UdpPeer>(address, 0);
        beacon->setMulticastInterface("10.1.2.5");
        return beacon;
    }

    // Runs `f` on the worker thread, as a handler, and returns its result;
    // nullopt when the worker did not get to it within ten seconds.
    template <typename F>
    std::optional<decltype(std::declval<F>()())> onWorker(F f)
    {
        using Result = decltype(f());
        auto promise = std::make_shared<std::promise<Result>>();
        std::future<Result> result = promise->get_future();
        boost::asio::post(server->ioContext(), [promise, f] { promise->set_value(f()); });
        if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
            return std::nullopt;
        return result.get();
    }

    // Holds the worker in a handler until the returned promise is set (or
    // dropped), so that datagrams sent meanwhile are all waiting when it
    // next wakes.
    std::promise<void> holdWorker()
    {
        std::promise<void> release;
        auto held = std::make_shared<std::shared_future<void>>(release.get_future().share());
        auto entered = std::make_shared<std::promise<void>>();
        std::future<void> inside = entered->get_future();
        boost::asio::post(server->ioContext(), [held, entered] {
            entered->set_value();
            held->wait();
        });
        inside.wait();
        return release;
    }

    // Runs a tick's work on the worker, as the timer would, and waits for it.
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(onWorker([this] {
                server->onPeriodic();
                return true;
            }));
    }

    template <typename F>
    auto slots(F f)
    {
        return server->withBeacons(f);
    }

    // Waits until the slot holds the beacon with this address.
    bool slotHolds(int slot, const std::string& address)
    {
        return waitFor([&] {
            return slots([&](BeaconSlots& b) { return b[slot].mIpAddressText == address; });
        });
    }

    ServiceOptions options;
    LogCapture log;
    FakeCpu cpu{{7}};
    std::unique_ptr<KivSrv> host;
    KivServer* server = nullptr;
};

}  // namespace kiv::test
