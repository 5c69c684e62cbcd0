// The viewer's end of the view channel, shared by both dialogs and
// varn-probe: connects to the service, keeps the latest state and the event
// items not taken yet, and asks the service to set the ping target. Runs its
// own thread with its own io_context; every accessor is safe from any thread
// (a lock held only to copy in or out).
//
// While the service is not there (not running, stopping, restarting) the
// client tries again every kRetryInterval, so a view is back within 2 s of
// the service's return.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/view_wire.h"

namespace kiv {

constexpr std::chrono::milliseconds kViewRetryInterval{500};

enum class ViewLink {
    waiting,       // no service to talk to (yet, or any more): trying again
    connected,     // versions agreed; the state is the service's
    accessDenied,  // this user may not view the service: given up
    refused,       // the service refused this viewer (version, too many): given up
};

class ViewClient
{
public:
    explicit ViewClient(std::string address);
    ~ViewClient();
    ViewClient(const ViewClient&) = delete;
    ViewClient& operator=(const ViewClient&) = delete;

    // Starts the thread and the first connection attempt.
    void start();
    // Waits until the link has left its first `waiting` (connected, denied,
    // refused) or `timeout` has passed; returns the link then.
    ViewLink waitForFirstAnswer(std::chrono::milliseconds timeout);

    ViewLink link() const;
    // Why the link is not connected, as one line for the operator; empty
    // while connected.
    std::string problem() const;
    // The latest state the service sent (a default state before the first).
    view::ViewState state() const;
    // The event items that arrived since the last take, in arrival order.
    std::vector<std::string> takeEvents();
    // Counts up each time anything arrives or the link changes.
    std::uint64_t generation() const;

    // Sends "set ping target" to the service; dropped while not connected.
    void setPingTarget(std::uint32_t address);

    // Called on the client's thread after anything arrived or the link
    // changed (varn-probe prints events as they come). Set before start().
    void setObserver(std::function<void()> observer);

    struct Impl;

private:
    std::unique_ptr<Impl> mImpl;
};

}  // namespace kiv
