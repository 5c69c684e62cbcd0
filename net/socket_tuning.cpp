#include "net/socket_tuning.h"

namespace kiv {

void openGroupListener(boost::asio::ip::udp::socket& socket, unsigned short port)
{
    namespace asio = boost::asio;
    const asio::ip::udp::endpoint listen(asio::ip::address_v4::any(), port);
    socket.open(listen.protocol());
    socket.set_option(asio::socket_base::reuse_address(true));
    restrictToJoinedGroups(socket);
    ignoreConnectionResets(socket);
    socket.bind(listen);
}

}  // namespace kiv
