// Windows: no batch receive; the waiting datagrams are read one by one with
// the socket in non-blocking mode.
#include "net/datagram_batch.h"

#include <algorithm>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>

namespace kiv {

std::size_t DatagramBatch::receive(boost::asio::ip::udp::socket& socket, std::size_t max,
                                   boost::system::error_code& error)
{
    const std::size_t count = std::min(max, kCapacity);
    std::size_t got = 0;
    while (got < count) {
        boost::system::error_code one;
        const std::size_t bytes = socket.receive_from(
            boost::asio::buffer(&mStorage[got * mDatagramSize], mDatagramSize), mSenders[got], 0, one);
        if (one) {
            // What was read so far is handed out; the error comes again on
            // the next call if it lasts.
            if (got == 0)
                error = one;
            break;
        }
        mSizes[got] = bytes;
        ++got;
    }
    if (got > 0)
        error = boost::system::error_code();
    return got;
}

}  // namespace kiv
