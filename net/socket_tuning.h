// Platform adjustments to the UDP sockets (socket_tuning_linux.cpp / _windows.cpp).
#pragma once

#include <boost/asio/ip/udp.hpp>

namespace kiv {

// A socket that joins one group on a shared port hears only that group.
void restrictToJoinedGroups(boost::asio::ip::udp::socket& socket);

// An ICMP port-unreachable for an earlier send must not fail later receives.
void ignoreConnectionResets(boost::asio::ip::udp::socket& socket);

}  // namespace kiv
