#include "net/socket_tuning.h"

#include <boost/asio/ip/multicast.hpp>

namespace kiv {

void openGroupListener(boost::asio::ip::udp::socket& socket, unsigned short port,
                       const std::string& group)
{
    namespace asio = boost::asio;
    const asio::ip::udp::endpoint listen(asio::ip::address_v4::any(), port);
    socket.open(listen.protocol());
    socket.set_option(asio::socket_base::reuse_address(true));
    restrictToJoinedGroups(socket);
    ignoreConnectionResets(socket);
    socket.bind(listen);
    socket.set_option(asio::ip::multicast::join_group(asio::ip::make_address(group)));
}

}  // namespace kiv
