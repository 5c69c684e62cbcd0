#include "net/socket_tuning.h"

#include <boost/system/system_error.hpp>

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

void sendWaitingForRoom(boost::asio::ip::udp::socket& socket, boost::asio::const_buffer data,
                        const boost::asio::ip::udp::endpoint& destination)
{
    namespace asio = boost::asio;
    boost::system::error_code error;
    for (;;) {
        socket.send_to(data, destination, 0, error);
        if (error != asio::error::would_block && error != asio::error::try_again)
            break;
        // No room just now: wait for it, as a blocking send does.
        socket.wait(asio::ip::udp::socket::wait_write);
    }
    if (error)
        throw boost::system::system_error(error, "send_to");
}

}  // namespace kiv
