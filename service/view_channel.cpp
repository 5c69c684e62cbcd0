#include "service/view_channel.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <future>
#include <utility>

#include <boost/asio/post.hpp>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "base/ping_target.h"
#include "service/kiv_server.h"

namespace kiv {

namespace {

using Frame = std::shared_ptr<const std::string>;
using Clock = std::chrono::steady_clock;

// The backlog a newcomer gets stays well inside its write queue.
constexpr std::size_t kBacklogBytes = kMaxQueuedBytes / 2;
constexpr std::size_t kReadBytes = 4096;
constexpr std::chrono::seconds kAcceptRetry{1};
// A view shows a slot's missed ticks only as its indicator, red from 3 on:
// the count is told up to 3, so a lost or free slot, whose count rises at
// every tick, costs its viewers nothing more.
constexpr std::int32_t kToldMissedTicks = 3;
// The CPU text's small moves (less than kCpuStep points, the noise of an
// idle station) wait up to kCpuHold, unless something else is sent anyway.
constexpr int kCpuStep = 5;
constexpr std::chrono::seconds kCpuHold{30};

// Whether the CPU text moved by kCpuStep points or more (or is no number).
bool cpuMovedFar(const std::string& before, const std::string& now)
{
    char* end = nullptr;
    const long a = std::strtol(before.c_str(), &end, 10);
    if (before.empty() || *end != '\0')
        return true;
    const long b = std::strtol(now.c_str(), &end, 10);
    if (now.empty() || *end != '\0')
        return true;
    return (a > b ? a - b : b - a) >= kCpuStep;
}
// A connection that has not said hello by then gives its place back: the
// places are few, and a viewer says hello at once.
constexpr std::chrono::seconds kHelloWait{10};

Frame share(std::string frame)
{
    return std::make_shared<const std::string>(std::move(frame));
}

// Runs a handler's body; nothing it throws leaves it.
template <typename F>
void guarded(const char* where, F&& body)
{
    try {
        body();
    } catch (...) {
        try {
            reportException(where);
        } catch (...) {
        }
    }
}

}  // namespace

struct ViewChannel::Viewer : std::enable_shared_from_this<Viewer> {
    std::unique_ptr<view::ViewStream> stream;
    std::string peer;
    view::FrameReader reader;
    std::array<char, kReadBytes> readBuffer{};
    // Counted among the kMaxViewers (not a refused 17th).
    bool counted = false;
    // The versions agreed: it gets the state and the events.
    bool attached = false;
    bool closed = false;
    // Closed once what waits is written (a refusal).
    bool closeWhenWritten = false;
    // What this viewer was last sent: the next state is a delta from it.
    view::ViewState last;
    std::unique_ptr<boost::asio::steady_timer> helloTimer;
    std::deque<Frame> queue;
    std::size_t queuedBytes = 0;
    std::size_t frontWritten = 0;
    bool writing = false;
};

struct ViewChannel::Room : std::enable_shared_from_this<Room> {
    Room(KivServer& s, std::unique_ptr<view::ViewListener> l)
        : server(s), io(s.ioContext()), listener(std::move(l)), flushTimer(io), acceptTimer(io)
    {
    }

    KivServer& server;
    boost::asio::io_context& io;
    std::unique_ptr<view::ViewListener> listener;
    std::vector<std::shared_ptr<Viewer>> viewers;
    bool closed = false;

    // The latest event items, for newcomers.
    std::deque<Frame> recent;
    // Set while a wake for new event items is posted and not yet run.
    std::shared_ptr<std::atomic<bool>> wakePending = std::make_shared<std::atomic<bool>>(false);

    boost::asio::steady_timer flushTimer;
    bool flushPending = false;
    Clock::time_point lastFlush{};
    // What the viewers were last told (toldState), and when its CPU text
    // last changed.
    bool told = false;
    view::ViewState lastTold;
    Clock::time_point cpuToldAt{};
    boost::asio::steady_timer acceptTimer;

    RepeatedWarning tooManyWarning;
    RepeatedWarning slowWarning;
    RepeatedWarning malformedWarning;
    RepeatedWarning versionWarning;
    RepeatedWarning acceptWarning;
    RepeatedWarning pingTargetWarning;

    std::size_t counted() const
    {
        return static_cast<std::size_t>(
            std::count_if(viewers.begin(), viewers.end(), [](const auto& v) { return v->counted; }));
    }

    void warn(RepeatedWarning& rule, const std::string& reason, const std::string& line)
    {
        logRepeat(LogLevel::warning, !rule.failed(reason, RepeatedWarning::Clock::now()), "%s", line.c_str());
    }

    // ---- On the worker ----------------------------------------------------

    void start()
    {
        std::weak_ptr<Room> weak = weak_from_this();
        server.setStateObserver([weak] {
            if (auto room = weak.lock())
                room->stateChanged();
        });
        std::shared_ptr<std::atomic<bool>> pending = wakePending;
        boost::asio::io_context* context = &io;
        gEventText.setAppendObserver([weak, pending, context] {
            if (pending->exchange(true))
                return;
            boost::asio::post(*context, [weak, pending] {
                pending->store(false);
                if (auto room = weak.lock())
                    guarded("ViewChannel::handle_events", [&] { room->takeEvents(); });
            });
        });
        takeEvents();
        accept();
    }

    void accept()
    {
        if (closed || !listener)
            return;
        std::weak_ptr<Room> weak = weak_from_this();
        listener->asyncAccept([weak](const boost::system::error_code& error,
                                     std::unique_ptr<view::ViewStream> stream) {
            auto room = weak.lock();
            if (!room)
                return;
            guarded("ViewChannel::handle_accept", [&] { room->accepted(error, std::move(stream)); });
        });
    }

    void accepted(const boost::system::error_code& error, std::unique_ptr<view::ViewStream> stream)
    {
        if (closed || error == boost::asio::error::operation_aborted) {
            if (stream)
                stream->close();
            return;
        }
        if (error || !stream) {
            // Out of descriptors and the like: tried again a little later,
            // not at once in a loop.
            warn(acceptWarning, error.message(),
                 "View channel: accepting a viewer failed [" + error.message() + "]\n");
            acceptTimer.expires_after(kAcceptRetry);
            std::weak_ptr<Room> weak = weak_from_this();
            acceptTimer.async_wait([weak](const boost::system::error_code& e) {
                auto room = weak.lock();
                if (room && !e)
                    guarded("ViewChannel::handle_accept", [&] { room->accept(); });
            });
            return;
        }
        acceptWarning.ended();
        auto viewer = std::make_shared<Viewer>();
        viewer->peer = stream->peerName();
        viewer->stream = std::move(stream);
        viewers.push_back(viewer);
        if (counted() >= kMaxViewers) {
            warn(tooManyWarning, "too many",
                 formatString("View channel: %s refused: %zu viewers are attached already\n", viewer->peer.c_str(),
                              kMaxViewers));
            refuse(viewer, view::Refusal::tooManyViewers,
                   formatString("The VarnWin32 service serves at most %zu viewers at a time, and %zu are attached.",
                                kMaxViewers, kMaxViewers));
        } else {
            viewer->counted = true;
            awaitHello(viewer);
            read(viewer);
        }
        accept();
    }

    void awaitHello(const std::shared_ptr<Viewer>& viewer)
    {
        viewer->helloTimer = std::make_unique<boost::asio::steady_timer>(io, kHelloWait);
        std::weak_ptr<Room> weak = weak_from_this();
        std::weak_ptr<Viewer> weakViewer = viewer;
        viewer->helloTimer->async_wait([weak, weakViewer](const boost::system::error_code& error) {
            auto room = weak.lock();
            auto v = weakViewer.lock();
            if (error || !room || !v || v->attached || v->closed)
                return;
            guarded("ViewChannel::handle_hello_wait", [&] {
                room->warn(room->malformedWarning, "no hello",
                           "View channel: " + v->peer + " closed: it said no hello within " +
                               std::to_string(kHelloWait.count()) + " s\n");
                room->drop(v);
            });
        });
    }

    void read(const std::shared_ptr<Viewer>& viewer)
    {
        std::weak_ptr<Room> weak = weak_from_this();
        Viewer* v = viewer.get();
        v->stream->asyncReadSome(boost::asio::buffer(v->readBuffer),
                                 [weak, viewer](const boost::system::error_code& error, std::size_t bytes) {
                                     auto room = weak.lock();
                                     if (!room)
                                         return;
                                     guarded("ViewChannel::handle_read",
                                             [&] { room->received(viewer, error, bytes); });
                                 });
    }

    void received(const std::shared_ptr<Viewer>& viewer, const boost::system::error_code& error, std::size_t bytes)
    {
        if (viewer->closed || closed)
            return;
        if (error) {
            // The viewer went (end of stream) or its connection broke.
            drop(viewer);
            return;
        }
        viewer->reader.feed(viewer->readBuffer.data(), bytes);
        while (std::optional<view::Message> message = viewer->reader.next()) {
            if (!take(viewer, *message) || viewer->closed || viewer->closeWhenWritten)
                return;
        }
        if (viewer->reader.broken()) {
            malformed(viewer, "a frame of a length out of bounds");
            return;
        }
        read(viewer);
    }

    // One frame from a viewer; false when the viewer is being closed.
    bool take(const std::shared_ptr<Viewer>& viewer, const view::Message& message)
    {
        if (!viewer->attached) {
            const std::optional<std::uint16_t> version = view::decodeHello(message.body);
            if (!version) {
                malformed(viewer, "no hello first");
                return false;
            }
            if (*version != view::kVersion) {
                warn(versionWarning, std::to_string(*version),
                     formatString("View channel: %s refused: it speaks version %u, the service %u\n",
                                  viewer->peer.c_str(), static_cast<unsigned>(*version),
                                  static_cast<unsigned>(view::kVersion)));
                refuse(viewer, view::Refusal::version,
                       formatString("This view speaks version %u of the view channel; the VarnWin32 service "
                                    "speaks version %u. Install the same VarnWin32 version for both.",
                                    static_cast<unsigned>(*version), static_cast<unsigned>(view::kVersion)));
                return false;
            }
            attach(viewer);
            return true;
        }
        if (message.type == static_cast<std::uint8_t>(view::MessageType::setPingTarget)) {
            const std::optional<std::uint32_t> address = view::decodeSetPingTarget(message.body);
            if (!address) {
                malformed(viewer, "a malformed set ping target");
                return false;
            }
            // The dialogs send only a usable address; 0.0.0.0 or the
            // broadcast address would leave every beacon pinging nothing.
            if (!usablePingTarget(*address)) {
                warn(pingTargetWarning, "unusable",
                     formatString("View channel: %s asked for the ping target %s; not sent\n", viewer->peer.c_str(),
                                  *address == 0 ? "0.0.0.0" : "255.255.255.255"));
                return true;
            }
            server.postPingTarget(*address);
            return true;
        }
        if (message.type == static_cast<std::uint8_t>(view::MessageType::hello)) {
            malformed(viewer, "a second hello");
            return false;
        }
        malformed(viewer, formatString("a message of unknown type %u", static_cast<unsigned>(message.type)));
        return false;
    }

    void attach(const std::shared_ptr<Viewer>& viewer)
    {
        viewer->attached = true;
        if (viewer->helloTimer)
            viewer->helloTimer->cancel();
        infoLog("View channel: %s attached (%zu of %zu viewers)\n", viewer->peer.c_str(), counted(), kMaxViewers);
        send(viewer, share(view::encodeHello()));
        viewer->last = toldState();
        send(viewer, share(view::encodeState(viewer->last, nullptr)));
        // The latest items that fit the backlog, oldest first.
        std::size_t bytes = 0;
        auto first = recent.end();
        while (first != recent.begin() && bytes + (*std::prev(first))->size() <= kBacklogBytes) {
            --first;
            bytes += (*first)->size();
        }
        for (auto it = first; it != recent.end() && !viewer->closed; ++it)
            send(viewer, *it);
    }

    void malformed(const std::shared_ptr<Viewer>& viewer, const std::string& what)
    {
        warn(malformedWarning, what,
             "View channel: " + viewer->peer + " closed: it sent " + what + "\n");
        refuse(viewer, view::Refusal::malformed, "The VarnWin32 service could not read what this view sent.");
    }

    void refuse(const std::shared_ptr<Viewer>& viewer, view::Refusal reason, const std::string& text)
    {
        if (viewer->writing) {
            drop(viewer);  // a refusal cannot go between the bytes of a frame
            return;
        }
        viewer->queue.clear();
        viewer->queuedBytes = 0;
        viewer->closeWhenWritten = true;
        send(viewer, share(view::encodeRefusal(reason, text)));
    }

    // ---- Writing ----------------------------------------------------------

    void send(const std::shared_ptr<Viewer>& viewer, const Frame& frame)
    {
        if (viewer->closed)
            return;
        viewer->queue.push_back(frame);
        viewer->queuedBytes += frame->size();
        if (viewer->queuedBytes > kMaxQueuedBytes) {
            warn(slowWarning, "slow",
                 formatString("View channel: %s closed: it stopped reading (%zu bytes waited for it)\n",
                              viewer->peer.c_str(), viewer->queuedBytes));
            drop(viewer);
            return;
        }
        if (!viewer->writing)
            write(viewer);
    }

    void write(const std::shared_ptr<Viewer>& viewer)
    {
        // The handler holds the frame: its bytes stay while the write is out.
        Frame front = viewer->queue.front();
        viewer->writing = true;
        std::weak_ptr<Room> weak = weak_from_this();
        viewer->stream->asyncWriteSome(
            boost::asio::buffer(front->data() + viewer->frontWritten, front->size() - viewer->frontWritten),
            [weak, viewer, front](const boost::system::error_code& error, std::size_t bytes) {
                auto room = weak.lock();
                if (!room)
                    return;
                guarded("ViewChannel::handle_write", [&] { room->written(viewer, error, bytes); });
            });
    }

    void written(const std::shared_ptr<Viewer>& viewer, const boost::system::error_code& error, std::size_t bytes)
    {
        viewer->writing = false;
        if (viewer->closed || closed)
            return;
        if (error) {
            drop(viewer);
            return;
        }
        viewer->frontWritten += bytes;
        viewer->queuedBytes -= bytes;
        if (viewer->frontWritten == viewer->queue.front()->size()) {
            viewer->queue.pop_front();
            viewer->frontWritten = 0;
        }
        if (!viewer->queue.empty())
            write(viewer);
        else if (viewer->closeWhenWritten)
            drop(viewer);
    }

    // Closes a viewer and forgets it. Its handlers that are still out come
    // back with operation_aborted and find it closed.
    void drop(const std::shared_ptr<Viewer>& viewer)
    {
        if (viewer->closed)
            return;
        viewer->closed = true;
        if (viewer->helloTimer)
            viewer->helloTimer->cancel();
        viewer->stream->close();
        viewer->queue.clear();
        viewer->queuedBytes = 0;
        viewers.erase(std::remove(viewers.begin(), viewers.end(), viewer), viewers.end());
        if (viewer->attached && !closed)
            infoLog("View channel: %s left (%zu of %zu viewers)\n", viewer->peer.c_str(), counted(), kMaxViewers);
    }

    // ---- What the viewers are told ----------------------------------------

    bool anyAttached() const
    {
        return std::any_of(viewers.begin(), viewers.end(), [](const auto& v) { return v->attached; });
    }

    void stateChanged()
    {
        if (closed || flushPending || !anyAttached())
            return;
        // Due already (the usual case: a tick a second): at once, without a
        // round through the timer.
        if (Clock::now() >= lastFlush + kFlushInterval) {
            guarded("ViewChannel::handle_flush", [&] { flush(); });
            return;
        }
        flushPending = true;
        flushTimer.expires_at(lastFlush + kFlushInterval);
        std::weak_ptr<Room> weak = weak_from_this();
        flushTimer.async_wait([weak](const boost::system::error_code& error) {
            auto room = weak.lock();
            if (!room)
                return;
            room->flushPending = false;
            if (!error)
                guarded("ViewChannel::handle_flush", [&] { room->flush(); });
        });
    }

    // The server's state as the viewers are told it: missed ticks up to
    // kToldMissedTicks, the CPU text's small moves held back a while. An idle
    // station tells its viewers (almost) nothing.
    view::ViewState toldState()
    {
        view::ViewState now = server.viewState();
        for (view::SlotState& slot : now.slots)
            slot.missedTicks = std::min(slot.missedTicks, kToldMissedTicks);
        const Clock::time_point at = Clock::now();
        if (told && now.cpuText != lastTold.cpuText) {
            view::ViewState held = now;
            held.cpuText = lastTold.cpuText;
            const bool goesAnyway = held != lastTold;
            if (goesAnyway || cpuMovedFar(lastTold.cpuText, now.cpuText) || at - cpuToldAt >= kCpuHold)
                cpuToldAt = at;
            else
                now = std::move(held);
        } else if (!told) {
            cpuToldAt = at;
        }
        told = true;
        lastTold = now;
        return now;
    }

    void flush()
    {
        if (closed)
            return;
        lastFlush = Clock::now();
        const view::ViewState now = toldState();
        // Viewers that were sent the same state share one frame.
        std::vector<std::pair<view::ViewState, Frame>> made;
        const std::vector<std::shared_ptr<Viewer>> all = viewers;
        for (const std::shared_ptr<Viewer>& viewer : all) {
            if (!viewer->attached || viewer->closed || viewer->last == now)
                continue;
            auto same = std::find_if(made.begin(), made.end(), [&](const auto& m) { return m.first == viewer->last; });
            if (same == made.end()) {
                made.emplace_back(viewer->last, share(view::encodeState(now, &viewer->last)));
                same = std::prev(made.end());
            }
            viewer->last = now;
            send(viewer, same->second);
        }
    }

    // The service's new event items: kept for newcomers and sent to every
    // attached viewer, in arrival order.
    void takeEvents()
    {
        if (closed)
            return;
        const std::vector<std::string> items = splitEventText(gEventText.take());
        if (items.empty())
            return;
        std::vector<Frame> frames;
        frames.reserve(items.size());
        for (const std::string& item : items) {
            frames.push_back(share(view::encodeEvent(item)));
            recent.push_back(frames.back());
            if (recent.size() > view::kRecentEvents)
                recent.pop_front();
        }
        const std::vector<std::shared_ptr<Viewer>> all = viewers;
        for (const std::shared_ptr<Viewer>& viewer : all) {
            for (const Frame& frame : frames) {
                if (!viewer->attached || viewer->closed)
                    break;
                send(viewer, frame);
            }
        }
    }

    void closeNow()
    {
        if (closed)
            return;
        closed = true;
        server.setStateObserver(nullptr);
        gEventText.setAppendObserver(nullptr);
        flushTimer.cancel();
        acceptTimer.cancel();
        if (listener) {
            listener->close();
            listener.reset();
        }
        const std::vector<std::shared_ptr<Viewer>> all = viewers;
        for (const std::shared_ptr<Viewer>& viewer : all)
            drop(viewer);
        viewers.clear();
        recent.clear();
    }
};

ViewChannel::ViewChannel(KivServer& server, std::unique_ptr<view::ViewListener> listener)
    : mRoom(std::make_shared<Room>(server, std::move(listener)))
{
    std::weak_ptr<Room> weak = mRoom;
    boost::asio::post(mRoom->io, [weak] {
        if (auto room = weak.lock())
            guarded("ViewChannel::start", [&] { room->start(); });
    });
}

ViewChannel::~ViewChannel()
{
    close();
}

void ViewChannel::close()
{
    if (!mRoom)
        return;
    std::shared_ptr<Room> room = std::move(mRoom);
    if (room->io.stopped()) {
        // No worker to do it: nothing else runs the room's handlers now.
        room->closeNow();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> closedOnWorker = done->get_future();
    boost::asio::post(room->io, [room, done] {
        guarded("ViewChannel::close", [&] { room->closeNow(); });
        done->set_value();
    });
    closedOnWorker.wait();
}

std::size_t ViewChannel::viewerCount() const
{
    return mRoom ? mRoom->counted() : 0;
}

}  // namespace kiv
