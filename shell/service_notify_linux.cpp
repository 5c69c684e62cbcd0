#include <cstdint>

#include <systemd/sd-daemon.h>

#include "shell/service_notify.h"

namespace kiv {

void notifyServiceReady()
{
    sd_notify(0, "READY=1");
}

void notifyServiceAlive()
{
    // The manager's request for pings is in the environment it started us
    // with; asked once, not by searching the environment every second.
    static const bool pingsWanted = [] {
        std::uint64_t interval = 0;
        return sd_watchdog_enabled(0, &interval) > 0;
    }();
    if (pingsWanted)
        sd_notify(0, "WATCHDOG=1");
}

}  // namespace kiv
