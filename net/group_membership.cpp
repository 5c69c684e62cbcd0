#include "net/group_membership.h"

#include <algorithm>

#include <boost/asio/ip/multicast.hpp>

#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "net/host_network.h"

namespace asio = boost::asio;

namespace kiv {

GroupMembership::GroupMembership(asio::ip::udp::socket& socket, const std::string& group,
                                 std::string owner)
    : mSocket(socket), mGroup(asio::ip::make_address_v4(group)), mOwner(std::move(owner))
{
}

void GroupMembership::update(const std::vector<std::uint32_t>& addresses, const std::vector<std::uint32_t>& quiet)
{
    if (!mSocket.is_open())
        return;
    // Without a route to the group (a plant LAN with neither a default nor a
    // multicast route) the join on the default interface cannot work and is
    // not tried; every interface with an address is joined on its own.
    if (!mDefaultJoined && hasRouteTo(mGroup.to_uint()))
        mDefaultJoined = join(0, true);

    for (auto it = mJoined.begin(); it != mJoined.end();) {
        bool listed = false;
        for (std::uint32_t address : addresses)
            listed = listed || address == *it;
        if (listed) {
            ++it;
            continue;
        }
        // The address is gone; its interface may be gone too, so the leave
        // may fail, which changes nothing.
        boost::system::error_code ignored;
        mSocket.set_option(asio::ip::multicast::leave_group(mGroup, asio::ip::address_v4(*it)), ignored);
        it = mJoined.erase(it);
    }
    // A join that failed on an address now gone is no longer tried.
    for (auto it = mFailedJoins.begin(); it != mFailedJoins.end();) {
        if (it->first != 0 && std::find(addresses.begin(), addresses.end(), it->first) == addresses.end())
            it = mFailedJoins.erase(it);
        else
            ++it;
    }
    for (std::uint32_t address : addresses) {
        const bool held = std::find(quiet.begin(), quiet.end(), address) != quiet.end();
        if (address != 0 && mJoined.count(address) == 0 && join(address, false, held))
            mJoined.insert(address);
    }
}

bool GroupMembership::join(std::uint32_t interfaceAddress, bool isDefault, bool quiet)
{
    boost::system::error_code error;
    mSocket.set_option(asio::ip::multicast::join_group(mGroup, asio::ip::address_v4(interfaceAddress)),
                       error);
    // Already a member there: the default interface and an address can
    // name the same interface, and a membership outlives its address.
    if (error == asio::error::address_in_use)
        error.clear();
    const std::string where = isDefault ? std::string("default") : getIpAddrString(interfaceAddress);
    // A join that keeps failing is tried at every refresh (every 30 s at
    // least) and logged by the repeat rule; its interface's entry goes with
    // the success.
    if (error) {
        const std::string reason = error.message();
        const bool held = !mFailedJoins[interfaceAddress].failed(reason, RepeatedWarning::Clock::now());
        logRepeat(LogLevel::warning, held, "%s join [%s] on [%s] failed [%s]\n", mOwner.c_str(),
                  mGroup.to_string().c_str(), where.c_str(), reason.c_str());
        return false;
    }
    const auto failing = mFailedJoins.find(interfaceAddress);
    const unsigned tries = failing == mFailedJoins.end() ? 0 : failing->second.ended();
    if (failing != mFailedJoins.end())
        mFailedJoins.erase(failing);
    if (tries > 0)
        infoLog("%s joined [%s] on [%s] after %u failed tries\n", mOwner.c_str(), mGroup.to_string().c_str(),
                where.c_str(), tries);
    else
        logRepeat(LogLevel::info, quiet && logLevel() != LogLevel::debug, "%s joined [%s] on [%s]\n",
                  mOwner.c_str(), mGroup.to_string().c_str(), where.c_str());
    return true;
}

}  // namespace kiv
