// Tells a supervising service manager (systemd) how the service is doing:
// ready once it has started, alive at every tick of the worker. Where no
// manager supervises the process (no NOTIFY_SOCKET) nothing is sent; on
// Windows nothing ever is.
#pragma once

namespace kiv {

class KivSrv;

// "READY=1": the sockets are open and the worker runs.
void notifyServiceReady();

// "WATCHDOG=1", only when the manager asked for pings (WATCHDOG_USEC).
void notifyServiceAlive();

// Reports the started service ready, then pings from the worker's
// one-second tick, so that a stalled worker stops the pings.
void superviseService(KivSrv& host);

}  // namespace kiv
