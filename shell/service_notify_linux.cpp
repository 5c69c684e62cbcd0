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
    std::uint64_t interval = 0;
    if (sd_watchdog_enabled(0, &interval) > 0)
        sd_notify(0, "WATCHDOG=1");
}

}  // namespace kiv
