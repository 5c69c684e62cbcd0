// Windows: a UDP socket reports WSAECONNRESET on the next receive after one of
// its sends met an ICMP port-unreachable; SIO_UDP_CONNRESET switches that off.
// Multicast delivery already follows the joined groups there.
#include "net/socket_tuning.h"

#include <winsock2.h>
#include <mswsock.h>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace kiv {

void restrictToJoinedGroups(boost::asio::ip::udp::socket&) {}

void ignoreConnectionResets(boost::asio::ip::udp::socket& socket)
{
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0,
               &returned, nullptr, nullptr);
}

bool waitsForReadable()
{
    return false;
}

}  // namespace kiv
