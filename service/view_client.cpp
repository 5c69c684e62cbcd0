#include "service/view_client.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "net/view_endpoint.h"

namespace kiv {

namespace {

const char* const kWaitingLine = "The VarnWin32 service is not running; waiting for it";

constexpr std::size_t kReadBufferBytes = 16 * 1024;

}  // namespace

// Everything below the lock line lives on the client's thread only; what
// the accessors see is copied in under `mutex`.
struct ViewClient::Impl {
    explicit Impl(std::string where) : address(std::move(where)), work(io.get_executor()), retryTimer(io) {}

    // ---- Shared with the accessors, under `mutex` ----
    mutable std::mutex mutex;
    std::condition_variable answered;
    ViewLink link = ViewLink::waiting;
    bool firstAnswer = false;
    std::string problem = kWaitingLine;
    view::ViewState shownState;
    std::vector<std::string> events;
    std::uint64_t generation = 0;
    std::function<void()> observer;

    // ---- The client's thread ----
    const std::string address;
    boost::asio::io_context io;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work;
    boost::asio::steady_timer retryTimer;
    std::unique_ptr<view::ViewStream> stream;
    std::uint64_t connection = 0;  // handlers of an earlier connection see another number
    view::FrameReader reader;
    std::array<char, kReadBufferBytes> readBuffer{};
    std::deque<std::string> writeQueue;
    bool writing = false;
    bool helloSeen = false;
    bool stateSeen = false;
    bool stopping = false;
    view::ViewState state;
    std::thread thread;

    void run()
    {
        try {
            io.run();
        } catch (...) {
            // Every handler catches its own failures; nothing is left to do
            // on this thread but end.
        }
    }

    // Sets the link and what goes with it, then tells the observer.
    void setLink(ViewLink now, const std::string& why, bool resetState)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            link = now;
            problem = why;
            if (resetState)
                shownState = view::ViewState();
            if (now != ViewLink::waiting)
                firstAnswer = true;
            ++generation;
        }
        answered.notify_all();
        notify();
    }

    void notify()
    {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(mutex);
            call = observer;
        }
        if (call) {
            try {
                call();
            } catch (...) {
                // An observer's failure is its own; the link goes on.
            }
        }
    }

    void connect()
    {
        if (stopping)
            return;
        boost::system::error_code error;
        std::unique_ptr<view::ViewStream> made = view::connectView(io, address, error);
        if (!made) {
            if (error == boost::system::errc::permission_denied ||
                error == boost::asio::error::access_denied) {
                setLink(ViewLink::accessDenied, view::accessDeniedAdvice(), true);
                return;
            }
            waitAndRetry();
            return;
        }
        stream = std::move(made);
        ++connection;
        reader = view::FrameReader();
        writeQueue.clear();
        writing = false;
        helloSeen = false;
        stateSeen = false;
        state = view::ViewState();
        write(view::encodeHello(view::kVersion));
        read();
    }

    void closeStream()
    {
        ++connection;
        if (stream) {
            stream->close();
            stream.reset();
        }
        writeQueue.clear();
        writing = false;
    }

    // The service is not there (any more): a default state, the waiting
    // line, and another try after the interval.
    void waitAndRetry()
    {
        closeStream();
        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            changed = link != ViewLink::waiting || shownState != view::ViewState() || problem != kWaitingLine;
        }
        if (changed)
            setLink(ViewLink::waiting, kWaitingLine, true);
        if (stopping)
            return;
        retryTimer.expires_after(kViewRetryInterval);
        retryTimer.async_wait([this](const boost::system::error_code& error) {
            if (!error)
                connect();
        });
    }

    // Given up for good: the service refused this viewer, or will not let
    // this user view it.
    void giveUp(ViewLink why, const std::string& text)
    {
        closeStream();
        setLink(why, text, true);
    }

    void read()
    {
        const std::uint64_t current = connection;
        stream->asyncReadSome(boost::asio::buffer(readBuffer),
                              [this, current](const boost::system::error_code& error, std::size_t bytes) {
                                  if (current != connection || stopping)
                                      return;
                                  if (error) {
                                      waitAndRetry();
                                      return;
                                  }
                                  onBytes(bytes);
                              });
    }

    void onBytes(std::size_t bytes)
    {
        reader.feed(readBuffer.data(), bytes);
        const std::uint64_t current = connection;
        bool arrived = false;
        while (std::optional<view::Message> message = reader.next()) {
            if (!take(*message))
                return;  // the connection has ended
            if (current != connection)
                return;
            arrived = true;
        }
        if (reader.broken()) {
            waitAndRetry();
            return;
        }
        if (arrived) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++generation;
            }
            notify();
        }
        read();
    }

    // Takes one message; false when the connection ended over it.
    bool take(const view::Message& message)
    {
        const auto type = static_cast<view::MessageType>(message.type);
        if (type == view::MessageType::refusal) {
            const std::optional<view::RefusalMessage> refusal = view::decodeRefusal(message.body);
            if (!refusal) {
                waitAndRetry();
                return false;
            }
            giveUp(ViewLink::refused, refusal->text);
            return false;
        }
        if (!helloSeen) {
            const std::optional<std::uint16_t> version =
                type == view::MessageType::hello ? view::decodeHello(message.body) : std::nullopt;
            if (!version) {
                waitAndRetry();
                return false;
            }
            if (*version != view::kVersion) {
                giveUp(ViewLink::refused, "The VarnWin32 service speaks view version " + std::to_string(*version) +
                                              "; this viewer speaks version " + std::to_string(view::kVersion));
                return false;
            }
            helloSeen = true;
            return true;
        }
        if (type == view::MessageType::state) {
            if (!view::applyState(message.body, state)) {
                waitAndRetry();
                return false;
            }
            bool nowConnected = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                shownState = state;
                if (!stateSeen) {
                    stateSeen = true;
                    nowConnected = true;
                    link = ViewLink::connected;
                    problem.clear();
                    firstAnswer = true;
                }
            }
            if (nowConnected)
                answered.notify_all();
            return true;
        }
        if (type == view::MessageType::event) {
            std::optional<std::string> item = view::decodeEvent(message.body);
            if (!item) {
                waitAndRetry();
                return false;
            }
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(std::move(*item));
            return true;
        }
        waitAndRetry();  // nothing else comes from a service
        return false;
    }

    void write(std::string frame)
    {
        writeQueue.push_back(std::move(frame));
        if (!writing)
            writeNext();
    }

    void writeNext()
    {
        if (writeQueue.empty() || !stream) {
            writing = false;
            return;
        }
        writing = true;
        const std::uint64_t current = connection;
        const std::string& front = writeQueue.front();
        stream->asyncWriteSome(boost::asio::buffer(front),
                               [this, current](const boost::system::error_code& error, std::size_t bytes) {
                                   if (current != connection || stopping)
                                       return;
                                   if (error) {
                                       waitAndRetry();
                                       return;
                                   }
                                   std::string& done = writeQueue.front();
                                   if (bytes < done.size()) {
                                       done.erase(0, bytes);
                                   } else {
                                       writeQueue.pop_front();
                                   }
                                   writeNext();
                               });
    }

    void sendPingTarget(std::uint32_t target)
    {
        bool connected = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            connected = link == ViewLink::connected;
        }
        if (connected && stream)
            write(view::encodeSetPingTarget(target));
    }

    void shutdown()
    {
        stopping = true;
        retryTimer.cancel();
        closeStream();
        work.reset();
    }
};

ViewClient::ViewClient(std::string address) : mImpl(std::make_unique<Impl>(std::move(address))) {}

ViewClient::~ViewClient()
{
    Impl& impl = *mImpl;
    if (impl.thread.joinable()) {
        boost::asio::post(impl.io, [&impl] { impl.shutdown(); });
        impl.thread.join();
    }
}

void ViewClient::start()
{
    Impl& impl = *mImpl;
    if (impl.thread.joinable())
        return;
    boost::asio::post(impl.io, [&impl] { impl.connect(); });
    impl.thread = std::thread([&impl] { impl.run(); });
}

ViewLink ViewClient::waitForFirstAnswer(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mImpl->mutex);
    mImpl->answered.wait_for(lock, timeout, [this] { return mImpl->firstAnswer; });
    return mImpl->link;
}

ViewLink ViewClient::link() const
{
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    return mImpl->link;
}

std::string ViewClient::problem() const
{
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    return mImpl->problem;
}

view::ViewState ViewClient::state() const
{
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    return mImpl->shownState;
}

std::vector<std::string> ViewClient::takeEvents()
{
    std::vector<std::string> taken;
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    taken.swap(mImpl->events);
    return taken;
}

std::uint64_t ViewClient::generation() const
{
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    return mImpl->generation;
}

void ViewClient::setPingTarget(std::uint32_t address)
{
    Impl& impl = *mImpl;
    boost::asio::post(impl.io, [&impl, address] { impl.sendPingTarget(address); });
}

void ViewClient::setObserver(std::function<void()> observer)
{
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    mImpl->observer = std::move(observer);
}

}  // namespace kiv
