// Idle viewers for the view channel's idle cost: N connections to the
// service's view socket, each a ViewClient of its own (the client the
// dialogs and varn-probe use), that only take what arrives.
//
//   view_viewers --view-socket PATH --viewers N [--max-seconds S]
//
// Prints "ready viewers=N" once every viewer is connected (exits 1 when one
// is not within 10 s), then, on SIGTERM/SIGINT or after --max-seconds
// (default 900), one line: how many are still connected, and how many
// arrivals (messages read in one go, or a change of the link) they saw in
// how many seconds since ready.
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "service/view_client.h"

int main(int argc, char** argv)
{
    std::string socket;
    long viewers = 1;
    long maxSeconds = 900;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--view-socket")
            socket = bench::optionValue(arg, i, argc, argv);
        else if (arg == "--viewers")
            viewers = bench::parseLong(arg, bench::optionValue(arg, i, argc, argv));
        else if (arg == "--max-seconds")
            maxSeconds = bench::parseLong(arg, bench::optionValue(arg, i, argc, argv));
        else
            bench::fail("usage: view_viewers --view-socket PATH --viewers N [--max-seconds S]");
    }
    if (socket.empty() || viewers < 1 || viewers > 64 || maxSeconds < 1)
        bench::fail("view_viewers: --view-socket is needed, --viewers 1 to 64, --max-seconds at least 1");

    // The clients' threads inherit the mask: the stop signals come only to
    // the sigtimedwait below.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    std::vector<std::unique_ptr<kiv::ViewClient>> clients;
    for (long i = 0; i < viewers; ++i) {
        clients.push_back(std::make_unique<kiv::ViewClient>(socket));
        clients.back()->start();
    }
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const kiv::ViewLink link = clients[i]->waitForFirstAnswer(std::chrono::seconds(10));
        if (link != kiv::ViewLink::connected)
            bench::fail("view_viewers: viewer " + std::to_string(i + 1) + " is not connected: " +
                        clients[i]->problem());
    }
    std::uint64_t atStart = 0;
    for (const auto& client : clients)
        atStart += client->generation();
    const auto readyAt = std::chrono::steady_clock::now();
    std::printf("ready viewers=%ld\n", viewers);
    std::fflush(stdout);

    timespec timeout{};
    timeout.tv_sec = maxSeconds;
    sigtimedwait(&stops, nullptr, &timeout);

    long connected = 0;
    std::uint64_t arrivals = 0;
    for (const auto& client : clients) {
        if (client->link() == kiv::ViewLink::connected)
            ++connected;
        arrivals += client->generation();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - readyAt).count();
    std::printf("viewers viewers=%ld connected=%ld arrivals=%llu seconds=%.1f\n", viewers, connected,
                static_cast<unsigned long long>(arrivals - atStart), seconds);
    std::fflush(stdout);
    clients.clear();
    return 0;
}
