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

// How a listener that has just found its socket empty waits for the next
// datagram: true, wait until the socket is readable and read it then (Linux:
// the read that found it empty is not repeated at once); false, hand a
// receive to the loop (Windows, where waiting for a datagram socket to
// become readable would start a select thread).
bool waitsForReadable();

// Opens `socket` on 0.0.0.0:port, shared with other listeners of the port;
// the group is joined by its GroupMembership. Throws what Asio throws.
void openGroupListener(boost::asio::ip::udp::socket& socket, unsigned short port);

// Sends one datagram on a socket kept non-blocking for its receives, waiting
// for room as a blocking send does. Throws system_error ("send_to").
void sendWaitingForRoom(boost::asio::ip::udp::socket& socket, boost::asio::const_buffer data,
                        const boost::asio::ip::udp::endpoint& destination);

}  // namespace kiv
