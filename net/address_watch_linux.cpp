// Linux: a NETLINK_ROUTE socket subscribed to IPv4 address and link events,
// waited on by the worker's io_context like any other descriptor. The
// messages themselves are not parsed: any of them means "read the
// addresses again", and so does an overrun of the socket's buffer.
#include "net/address_watch.h"

#include <cerrno>
#include <cstring>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/posix/stream_descriptor.hpp>

#include "base/debug_log.h"

namespace kiv {

struct AddressWatch::Impl {
    Impl(boost::asio::io_context& ioService, std::function<void()> handler)
        : descriptor(ioService), onChange(std::move(handler))
    {
    }

    void open()
    {
        const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        if (fd < 0) {
            warningLog("AddressWatch: no netlink socket [%s]\n", std::strerror(errno));
            return;
        }
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_LINK;
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            warningLog("AddressWatch: netlink bind failed [%s]\n", std::strerror(errno));
            ::close(fd);
            return;
        }
        descriptor.assign(fd);
        wait();
    }

    void wait()
    {
        descriptor.async_wait(boost::asio::posix::stream_descriptor::wait_read,
                              [this](const boost::system::error_code& error) {
                                  if (error == boost::asio::error::operation_aborted)
                                      return;
                                  if (error) {
                                      warningLog("AddressWatch: wait failed [%s]\n",
                                                 error.message().c_str());
                                      return;
                                  }
                                  drain();
                                  onChange();
                                  wait();
                              });
    }

    // Reads everything that is waiting; the content does not matter.
    void drain()
    {
        for (;;) {
            const ssize_t n = ::recv(descriptor.native_handle(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0 || (n < 0 && (errno == EINTR || errno == ENOBUFS)))
                continue;
            return;
        }
    }

    boost::asio::posix::stream_descriptor descriptor;
    std::function<void()> onChange;
    char buffer[8192];
};

AddressWatch::AddressWatch(boost::asio::io_context& ioService, std::function<void()> onChange)
    : mImpl(std::make_unique<Impl>(ioService, std::move(onChange)))
{
    mImpl->open();
}

AddressWatch::~AddressWatch() = default;

bool AddressWatch::active() const
{
    return mImpl->descriptor.is_open();
}

}  // namespace kiv
