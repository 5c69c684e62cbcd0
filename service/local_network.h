// The workstation's local network as the service sees it: its IPv4
// addresses with the bound socket of each, the memberships of the group
// listeners, and the host name. It reads them again whenever the platform
// reports a change (and every 30 s in any case), opens and closes sockets to
// match, joins the groups where they are not joined yet, and tells its owner
// when the addresses or the host name have changed. Worker thread only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/steady_timer.hpp>

namespace kiv {

class AddressWatch;
struct BindFailures;
class GroupMembership;
class UdpBoundSocket;

class LocalNetwork
{
public:
    // `onChanged` runs on the worker after a refresh that found other
    // addresses or another host name than the one before.
    LocalNetwork(boost::asio::io_context& ioService, unsigned short port,
                 std::vector<GroupMembership*> memberships, std::function<void()> onChanged);
    virtual ~LocalNetwork();
    LocalNetwork(const LocalNetwork&) = delete;
    LocalNetwork& operator=(const LocalNetwork&) = delete;

    // Reads addresses and host name now and brings sockets and memberships
    // up to date. The first call opens everything and tells nobody.
    void refresh();

    // The socket bound to this local address; null when there is none.
    UdpBoundSocket* socketFor(const boost::asio::ip::address& local) const;

    const std::vector<std::uint32_t>& addresses() const { return mAddresses; }
    const std::string& hostName() const { return mHostName; }
    // True when the changes of the last refresh were all of addresses that
    // keep coming and going: what they cause is not told line by line.
    bool changeHeld() const { return mChangeHeld; }

    // Changes reported close together are taken in one refresh after this.
    static constexpr std::chrono::milliseconds kSettleDelay{250};
    // A refresh at least this often, also where no change is reported.
    static constexpr std::chrono::seconds kSafetyPoll{30};
    // An address that changes again within this keeps coming and going: its
    // changes are told by one line a minute at most, and once it has been
    // steady this long, by one line with their count.
    static constexpr std::chrono::seconds kSteadyAfter{60};

    // Polls every `period` from now on (the tests' shorter poll).
    void setSafetyPoll(std::chrono::milliseconds period)
    {
        mPollPeriod = period;
        armSafetyPoll();
    }

private:
    void onPlatformChange();
    void armSafetyPoll();
    // Notes a change of `address` (now `present` or not); true when its
    // lines are to be held back.
    bool changed(std::uint32_t address, bool present, std::chrono::steady_clock::time_point now);
    void endSteadyFlaps(std::chrono::steady_clock::time_point now);

    // The recent changes of an address, while it has any.
    struct Changes {
        std::chrono::steady_clock::time_point last;
        std::chrono::steady_clock::time_point told;  // the last summary line
        unsigned held = 0;                           // since it began to flap
        unsigned sinceTold = 0;                      // since the last summary line
        bool present = false;
    };
    static constexpr std::size_t kChangesKept = 64;

    boost::asio::io_context& mIoService;
    unsigned short mPort;
    std::vector<GroupMembership*> mMemberships;
    std::function<void()> mOnChanged;
    std::vector<std::uint32_t> mAddresses;
    std::string mHostName;
    bool mRead = false;
    std::map<std::uint32_t, std::unique_ptr<UdpBoundSocket>> mSockets;
    // The failures of the addresses whose sockets have not bound yet, kept
    // across the sockets made for them in turn.
    std::map<std::uint32_t, std::shared_ptr<BindFailures>> mBindFailures;
    std::map<std::uint32_t, Changes> mChanges;
    bool mChangeHeld = false;
    boost::asio::steady_timer mSettleTimer;
    bool mSettlePending = false;
    boost::asio::steady_timer mPollTimer;
    std::chrono::milliseconds mPollPeriod = kSafetyPoll;
    std::unique_ptr<AddressWatch> mWatch;  // last: its events find the rest in place
};

}  // namespace kiv
