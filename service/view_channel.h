// The view channel: serves the watchdog server's state to the dialogs and
// terminal views attached to the service, on the server's worker thread.
//
// A room: each viewer gets the whole state and the latest events when it
// joins, then only what changed (at most every kFlushInterval) and every new
// event item, in arrival order. Each viewer has its own write queue with one
// write outstanding, so a viewer that stops reading costs only itself, and
// is closed once kMaxQueuedBytes wait for it. From a viewer only "set ping
// target" is taken.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/steady_timer.hpp>

#include "base/repeated_warning.h"
#include "net/view_endpoint.h"
#include "net/view_wire.h"

namespace kiv {

class KivServer;

constexpr std::size_t kMaxViewers = 16;
constexpr std::size_t kMaxQueuedBytes = 256 * 1024;
constexpr std::chrono::milliseconds kFlushInterval{250};

class ViewChannel
{
public:
    // Serves `server`'s state through `listener`. Call from any thread
    // before the worker runs the first of the channel's handlers; the
    // channel starts accepting on the worker.
    ViewChannel(KivServer& server, std::unique_ptr<view::ViewListener> listener);
    ~ViewChannel();
    ViewChannel(const ViewChannel&) = delete;
    ViewChannel& operator=(const ViewChannel&) = delete;

    // Closes the listener and every viewer, on the worker, and waits for it
    // (the worker must still be running). The destructor does the same.
    void close();

    // How many viewers are attached now; on the worker only (tests ask
    // through a posted handler).
    std::size_t viewerCount() const;

    struct Viewer;
    struct Room;

private:
    std::shared_ptr<Room> mRoom;
};

}  // namespace kiv
