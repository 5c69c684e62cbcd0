// Linux: two sockets bound to 0.0.0.0:34543 would each receive every group
// joined on the host unless IP_MULTICAST_ALL is switched off. Connection
// resets need nothing here: the receive handlers re-arm after ECONNREFUSED.
#include "net/socket_tuning.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <boost/system/system_error.hpp>

namespace kiv {

void restrictToJoinedGroups(boost::asio::ip::udp::socket& socket)
{
    const int off = 0;
    if (::setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0)
        throw boost::system::system_error(
            boost::system::error_code(errno, boost::system::system_category()), "set_option");
}

void ignoreConnectionResets(boost::asio::ip::udp::socket&) {}

bool waitsForReadable()
{
    return true;
}

}  // namespace kiv
