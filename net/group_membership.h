// The memberships of one multicast listener: its group joined on the default
// interface and on the interface of every local address, kept up to date as
// addresses come and go.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/udp.hpp>

#include "base/repeated_warning.h"

namespace kiv {

class GroupMembership
{
public:
    // `owner` names the listener in the log lines.
    GroupMembership(boost::asio::ip::udp::socket& socket, const std::string& group, std::string owner);
    GroupMembership(const GroupMembership&) = delete;
    GroupMembership& operator=(const GroupMembership&) = delete;

    // Joins where not joined yet: the default interface (when a route leads
    // to the group) and each of `addresses` (host order). A join that fails
    // is logged with its reason, under the repeat rule, and tried again at
    // the next call; addresses no longer listed are left. The join lines of
    // `quiet` addresses (one that keeps coming and going) are held back but
    // at debug level.
    void update(const std::vector<std::uint32_t>& addresses, const std::vector<std::uint32_t>& quiet = {});

private:
    bool join(std::uint32_t interfaceAddress, bool isDefault, bool quiet = false);

    boost::asio::ip::udp::socket& mSocket;
    boost::asio::ip::address_v4 mGroup;
    std::string mOwner;
    bool mDefaultJoined = false;
    std::set<std::uint32_t> mJoined;
    // The joins that fail now, by interface address (0: the default one).
    std::map<std::uint32_t, RepeatedWarning> mFailedJoins;
};

}  // namespace kiv
