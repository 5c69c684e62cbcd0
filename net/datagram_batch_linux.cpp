// Linux: one recvmmsg takes everything that is waiting, up to the batch.
#include "net/datagram_batch.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kiv {

std::size_t DatagramBatch::receive(boost::asio::ip::udp::socket& socket, std::size_t max,
                                   boost::system::error_code& error)
{
    const std::size_t count = std::min(max, kCapacity);
    // Only the headers of this read are filled in, field by field: clearing
    // all kCapacity of them first would cost more than the read of a few.
    std::array<iovec, kCapacity> parts;
    std::array<mmsghdr, kCapacity> messages;
    for (std::size_t i = 0; i < count; ++i) {
        parts[i].iov_base = &mStorage[i * mDatagramSize];
        parts[i].iov_len = mDatagramSize;
        msghdr& header = messages[i].msg_hdr;
        header.msg_name = mSenders[i].data();
        header.msg_namelen = static_cast<socklen_t>(mSenders[i].capacity());
        header.msg_iov = &parts[i];
        header.msg_iovlen = 1;
        header.msg_control = nullptr;
        header.msg_controllen = 0;
        header.msg_flags = 0;
        messages[i].msg_len = 0;
    }
    int got = -1;
    do {
        got = ::recvmmsg(socket.native_handle(), messages.data(), static_cast<unsigned>(count), MSG_DONTWAIT,
                         nullptr);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        error = boost::system::error_code(errno, boost::asio::error::get_system_category());
        return 0;
    }
    error = boost::system::error_code();
    for (int i = 0; i < got; ++i) {
        mSizes[i] = messages[i].msg_len;
        mSenders[i].resize(messages[i].msg_hdr.msg_namelen);
    }
    return static_cast<std::size_t>(got);
}

}  // namespace kiv
