#include "service/local_network.h"

#include <algorithm>

#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "net/address_watch.h"
#include "net/group_membership.h"
#include "net/host_network.h"
#include "net/udp_bound_socket.h"

namespace asio = boost::asio;

namespace kiv {

LocalNetwork::LocalNetwork(asio::io_context& ioService, unsigned short port,
                           std::vector<GroupMembership*> memberships, std::function<void()> onChanged)
    : mIoService(ioService),
      mPort(port),
      mMemberships(std::move(memberships)),
      mOnChanged(std::move(onChanged)),
      mSettleTimer(ioService),
      mPollTimer(ioService),
      mWatch(std::make_unique<AddressWatch>(ioService, [this] { onPlatformChange(); }))
{
    armSafetyPoll();
}

LocalNetwork::~LocalNetwork() = default;

void LocalNetwork::refresh()
{
    std::string hostName;
    int error = 0;
    if (!localHostName(hostName, error))
        hostName = mHostName;  // keep the last one known

    std::vector<std::uint32_t> addresses;
    if (!localIpv4Addresses(addresses)) {
        warningLog("LocalNetwork: the address lookup failed; keeping [%zu] addresses\n", mAddresses.size());
        addresses = mAddresses;
    }

    const bool first = !mRead;
    const bool addressesChanged = first || addresses != mAddresses;
    const bool nameChanged = hostName != mHostName;
    mRead = true;
    const auto now = std::chrono::steady_clock::now();
    endSteadyFlaps(now);
    std::vector<std::uint32_t> quiet;  // the addresses whose change is held
    bool told = nameChanged;
    bool anyHeld = false;

    if (addressesChanged) {
        for (auto it = mSockets.begin(); it != mSockets.end();) {
            if (std::find(addresses.begin(), addresses.end(), it->first) == addresses.end()) {
                const bool held = changed(it->first, false, now);
                told = told || !held;
                anyHeld = anyHeld || held;
                logRepeat(LogLevel::info, held, "LocalNetwork: address [%s] is gone\n",
                          getIpAddrString(it->first).c_str());
                mBindFailures.erase(it->first);
                it = mSockets.erase(it);
            } else {
                ++it;
            }
        }
        mAddresses = addresses;
    }
    // A new address gets its socket. One whose bind failed (its address
    // listed before it was usable, or in a race with its arrival) is made
    // again at every refresh until it binds; meanwhile its pairs send nothing.
    for (std::uint32_t address : mAddresses) {
        std::unique_ptr<UdpBoundSocket>& socket = mSockets[address];
        if (socket && socket->bound())
            continue;
        if (!socket && !first) {
            const bool held = changed(address, true, now);
            told = told || !held;
            anyHeld = anyHeld || held;
            if (held)
                quiet.push_back(address);
            logRepeat(LogLevel::info, held, "LocalNetwork: new address [%s]\n", getIpAddrString(address).c_str());
        }
        std::shared_ptr<BindFailures>& failures = mBindFailures[address];
        if (!failures)
            failures = std::make_shared<BindFailures>();
        socket = std::make_unique<UdpBoundSocket>(
            mIoService, asio::ip::udp::endpoint(asio::ip::address_v4(address), mPort), failures);
        if (socket->bound())
            mBindFailures.erase(address);
    }
    // Also unchanged addresses: a join that failed for want of a route may
    // work now.
    for (GroupMembership* membership : mMemberships)
        membership->update(mAddresses, quiet);
    mChangeHeld = anyHeld && !told;

    if (nameChanged && !first)
        infoLog("LocalNetwork: host name is now [%s]\n", hostName.c_str());
    mHostName = hostName;
    if (!first && (addressesChanged || nameChanged) && mOnChanged)
        mOnChanged();
}

bool LocalNetwork::changed(std::uint32_t address, bool present, std::chrono::steady_clock::time_point now)
{
    auto it = mChanges.find(address);
    if (it == mChanges.end()) {
        if (mChanges.size() < kChangesKept)
            mChanges[address] = Changes{now, now, 0, 1, present};
        return false;  // a change after a steady while is told
    }
    Changes& c = it->second;
    c.last = now;
    c.present = present;
    ++c.sinceTold;
    // At debug every line is written as before, and none of these.
    if (logLevel() == LogLevel::debug)
        return false;
    ++c.held;
    if (c.held == 1 || now - c.told >= kSteadyAfter) {
        infoLog("Address [%s] keeps coming and going: %u changes in the last minute\n",
                getIpAddrString(address).c_str(), c.sinceTold);
        c.told = now;
        c.sinceTold = 0;
    }
    return true;
}

void LocalNetwork::endSteadyFlaps(std::chrono::steady_clock::time_point now)
{
    for (auto it = mChanges.begin(); it != mChanges.end();) {
        const Changes& c = it->second;
        if (now - c.last < kSteadyAfter) {
            ++it;
            continue;
        }
        if (c.held > 0 && logLevel() != LogLevel::debug)
            infoLog("Address [%s] steady again after %u held changes: %s\n", getIpAddrString(it->first).c_str(),
                    c.held, c.present ? "present" : "gone");
        it = mChanges.erase(it);
    }
}

UdpBoundSocket* LocalNetwork::socketFor(const asio::ip::address& local) const
{
    if (!local.is_v4())
        return nullptr;
    const auto it = mSockets.find(local.to_v4().to_uint());
    return it == mSockets.end() ? nullptr : it->second.get();
}

void LocalNetwork::onPlatformChange()
{
    if (mSettlePending)
        return;
    mSettlePending = true;
    mSettleTimer.expires_after(kSettleDelay);
    mSettleTimer.async_wait([this](const boost::system::error_code& error) {
        mSettlePending = false;
        if (error != asio::error::operation_aborted)
            refresh();
    });
}

void LocalNetwork::armSafetyPoll()
{
    mPollTimer.expires_after(mPollPeriod);
    mPollTimer.async_wait([this](const boost::system::error_code& error) {
        if (error == asio::error::operation_aborted)
            return;
        refresh();
        armSafetyPoll();
    });
}

}  // namespace kiv
