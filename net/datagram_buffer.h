// The buffer every socket of the service receives into.
#pragma once

#include <cstddef>
#include <memory>

namespace kiv {

// Room for any UDP datagram, so that no receive is ever cut short; each
// channel cuts the text to its own length (1501 or 1024 bytes) afterwards.
// A receive into a shorter buffer is completed twice on Windows when the
// datagram is already waiting: the receive call fails at once with
// WSAEMSGSIZE, which Asio completes by itself, while the completion port
// still gets the packet of the cut receive, which Asio then hands to a later
// receive. After a flood of long datagrams the service stopped receiving.
constexpr std::size_t kDatagramBufferSize = 65536;

using DatagramBuffer = std::unique_ptr<char[]>;

// Not zeroed: only the bytes of the datagram in hand are read.
inline DatagramBuffer makeDatagramBuffer()
{
    return DatagramBuffer(new char[kDatagramBufferSize]);
}

}  // namespace kiv
