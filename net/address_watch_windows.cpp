// Windows: IP Helper calls back on a thread of its own whenever a unicast
// IPv4 address is added, removed or changes state; the callback only posts
// the handler to the worker's io_context. Cancelling the notification waits
// for a callback that is running, so none outlives this object.
#include "net/address_watch.h"

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <boost/asio/post.hpp>

#include "base/debug_log.h"

namespace kiv {

struct AddressWatch::Impl {
    Impl(boost::asio::io_context& ioService, std::function<void()> handler)
        : io(ioService), onChange(std::move(handler))
    {
    }

    static VOID NETIOAPI_API_ onAddressChange(PVOID context, PMIB_UNICASTIPADDRESS_ROW,
                                              MIB_NOTIFICATION_TYPE)
    {
        auto* self = static_cast<Impl*>(context);
        boost::asio::post(self->io, [self] { self->onChange(); });
    }

    boost::asio::io_context& io;
    std::function<void()> onChange;
    HANDLE handle = nullptr;
};

AddressWatch::AddressWatch(boost::asio::io_context& ioService, std::function<void()> onChange)
    : mImpl(std::make_unique<Impl>(ioService, std::move(onChange)))
{
    const DWORD result =
        ::NotifyUnicastIpAddressChange(AF_INET, &Impl::onAddressChange, mImpl.get(), FALSE, &mImpl->handle);
    if (result != NO_ERROR) {
        mImpl->handle = nullptr;
        warningLog("AddressWatch: NotifyUnicastIpAddressChange failed [%lu]\n",
                   static_cast<unsigned long>(result));
    }
}

AddressWatch::~AddressWatch()
{
    if (mImpl->handle != nullptr)
        ::CancelMibChangeNotify2(mImpl->handle);
}

bool AddressWatch::active() const
{
    return mImpl->handle != nullptr;
}

}  // namespace kiv
