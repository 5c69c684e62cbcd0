// Where the view channel meets the operating system: a Unix stream socket on
// Linux (view_endpoint_linux.cpp: the one systemd hands over, or one made at
// a path), a local named pipe on Windows (view_endpoint_windows.cpp). Who may
// connect is decided by the endpoint itself (the socket's mode and group,
// the pipe's DACL), not by the code above it.
//
// Every asynchronous operation completes on the io_context it was made with;
// none of them blocks that thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

namespace kiv::view {

// /run/varnwin32/view on Linux, \\.\pipe\VarnWin32\view on Windows.
std::string defaultAddress();

// One connection, from either end.
class ViewStream
{
public:
    using Handler = std::function<void(const boost::system::error_code& error, std::size_t bytes)>;

    virtual ~ViewStream() = default;
    // One of each may be outstanding at a time.
    virtual void asyncReadSome(boost::asio::mutable_buffer buffer, Handler handler) = 0;
    virtual void asyncWriteSome(boost::asio::const_buffer buffer, Handler handler) = 0;
    // Cancels what is outstanding (its handlers get operation_aborted) and
    // closes; safe to call more than once.
    virtual void close() = 0;
    // Who is at the other end, for the log: "uid 1000" on Linux, the user's
    // name on Windows; "unknown" when the system would not say.
    virtual std::string peerName() const = 0;
};

class ViewListener
{
public:
    using AcceptHandler =
        std::function<void(const boost::system::error_code& error, std::unique_ptr<ViewStream> stream)>;

    virtual ~ViewListener() = default;
    // One outstanding at a time.
    virtual void asyncAccept(AcceptHandler handler) = 0;
    virtual void close() = 0;
    // Where it listens, for the log.
    virtual std::string address() const = 0;
};

// The listener of the service. Linux: with `address` empty, the socket the
// service manager passed (LISTEN_FDS); null when there is none. Otherwise a
// socket made at `address` (a stale socket file there is replaced), or the
// pipe of that name on Windows. Throws boost::system::system_error when it
// cannot be made.
std::unique_ptr<ViewListener> openViewListener(boost::asio::io_context& io, const std::string& address);

// Connects a viewer, synchronously (a local endpoint answers at once or not
// at all). On failure returns null with `error` set: no_such_file_or_directory
// or connection_refused while the service is not there, permission_denied
// (access_denied) when this user may not view it.
std::unique_ptr<ViewStream> connectView(boost::asio::io_context& io, const std::string& address,
                                        boost::system::error_code& error);

// Whether a watchdog service is installed on this station, so that the dialog
// becomes its view instead of opening the ports itself. Linux: `address` is a
// socket. Windows: the service "VarnWin32" is registered with the service
// manager (when `address` is the default pipe; any other pipe name, given
// with --view-socket, counts as installed, there yet or not).
bool serviceInstalled(const std::string& address);

// The message a viewer shows when connectView said permission_denied: who may
// view and how to become one.
std::string accessDeniedAdvice();

}  // namespace kiv::view
