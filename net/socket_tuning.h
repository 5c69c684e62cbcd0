// Platform adjustments to the UDP sockets (socket_tuning_linux.cpp /
// _windows.cpp), and the set-up the two multicast listeners share.
#pragma once

#include <string>

#include <boost/asio/ip/udp.hpp>

namespace kiv {

// A socket that joins one group on a shared port hears only that group.
void restrictToJoinedGroups(boost::asio::ip::udp::socket& socket);

// An ICMP port-unreachable for an earlier send must not fail later receives.
void ignoreConnectionResets(boost::asio::ip::udp::socket& socket);

// Opens `socket` on 0.0.0.0:port, shared with other listeners of the port;
// the group is joined by its GroupMembership. Throws what Asio throws.
void openGroupListener(boost::asio::ip::udp::socket& socket, unsigned short port);

}  // namespace kiv
