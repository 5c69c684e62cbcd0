// Tells the worker when the host's IPv4 addresses or links change: rtnetlink
// on Linux (address_watch_linux.cpp), IP Helper's change notification on
// Windows (address_watch_windows.cpp). The handler always runs on the given
// io_context's thread; several changes in a row may call it several times.
#pragma once

#include <functional>
#include <memory>

#include <boost/asio/io_context.hpp>

namespace kiv {

class AddressWatch
{
public:
    AddressWatch(boost::asio::io_context& ioService, std::function<void()> onChange);
    virtual ~AddressWatch();
    AddressWatch(const AddressWatch&) = delete;
    AddressWatch& operator=(const AddressWatch&) = delete;

    // False when the platform gave no change source; the slow poll of the
    // caller is then all there is.
    bool active() const;

    struct Impl;

private:
    std::unique_ptr<Impl> mImpl;
};

}  // namespace kiv
