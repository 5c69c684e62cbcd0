// The service's messages to systemd, read as systemd reads them: datagrams on
// the unix socket named in NOTIFY_SOCKET, with WATCHDOG_USEC asking for pings.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <utility>

#include "shell/service_notify.h"
#include "support/kiv_server_probe.h"
#include "support/running_service.h"

namespace kiv::test {
namespace {

class ServiceNotify : public RunningService
{
protected:
    void SetUp() override
    {
        // The environment is set before the service's threads exist.
        char pattern[] = "/tmp/varn-notify.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        path = directory + "/notify";
        socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(socket, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        ASSERT_EQ(bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        setenv("NOTIFY_SOCKET", path.c_str(), 1);
        setenv("WATCHDOG_USEC", "3000000", 1);
        RunningService::SetUp();
    }

    void TearDown() override
    {
        RunningService::TearDown();
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        if (socket >= 0)
            close(socket);
        unlink(path.c_str());
        rmdir(directory.c_str());
    }

    // The next message, or "" when none comes within the timeout.
    std::string next(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        pollfd ready{socket, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(timeout.count())) != 1)
            return std::string();
        char buffer[256];
        ssize_t size = recv(socket, buffer, sizeof(buffer), 0);
        return size > 0 ? std::string(buffer, static_cast<std::size_t>(size)) : std::string("?");
    }

    // Messages already queued on the socket.
    int drain()
    {
        int count = 0;
        while (!next(std::chrono::milliseconds(0)).empty())
            ++count;
        return count;
    }

    int tickCount()
    {
        auto ticks = onWorker([this] { return KivServerProbe(*server).tickCount(); });
        return ticks.value_or(-1);
    }

    std::string directory;
    std::string path;
    int socket = -1;
};

TEST_F(ServiceNotify, ReadyFirstThenOneWatchdogPingPerTick)
{
    superviseService(*host);
    // The observer is in place once this handler runs: every later tick pings.
    const int ticksBefore = tickCount();
    ASSERT_GE(ticksBefore, 0);

    EXPECT_EQ(next(), "READY=1");
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(next(), "WATCHDOG=1") << "ping " << i;

    // On the worker, so that no tick comes between the count and the drain.
    auto counts = onWorker([this] {
        return std::make_pair(KivServerProbe(*server).tickCount(), drain());
    });
    ASSERT_TRUE(counts);
    EXPECT_EQ(3 + counts->second, counts->first - ticksBefore);
}

TEST_F(ServiceNotify, StalledWorkerSendsNoPings)
{
    superviseService(*host);
    ASSERT_EQ(next(), "READY=1");
    ASSERT_EQ(next(), "WATCHDOG=1");

    // A handler that holds the worker until released.
    std::promise<void> stalled;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    boost::asio::post(server->ioContext(), [&stalled, released] {
        stalled.set_value();
        released.wait();
    });
    ASSERT_EQ(stalled.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    drain();

    // Three ticks' worth of silence.
    EXPECT_EQ(next(std::chrono::milliseconds(3500)), "");

    release.set_value();
    EXPECT_EQ(next(), "WATCHDOG=1");
}

}  // namespace
}  // namespace kiv::test
