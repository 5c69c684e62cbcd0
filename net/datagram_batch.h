// The datagrams already waiting on a UDP socket, taken in one go where the
// platform can (datagram_batch_linux.cpp: one recvmmsg) and one by one where
// it cannot (datagram_batch_windows.cpp). Never blocks.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include <boost/asio/ip/udp.hpp>
#include <boost/system/error_code.hpp>

namespace kiv {

class DatagramBatch
{
public:
    static constexpr std::size_t kCapacity = 32;

    // Each datagram is cut to `datagramSize` bytes, as a receive into a
    // buffer of that size cuts it.
    explicit DatagramBatch(std::size_t datagramSize)
        : mDatagramSize(datagramSize), mStorage(datagramSize * kCapacity)
    {
    }
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // Reads up to `max` (at most kCapacity) datagrams that are waiting now.
    // Returns how many; 0 with `error` set when none could be read
    // (would_block: the socket is empty).
    std::size_t receive(boost::asio::ip::udp::socket& socket, std::size_t max,
                        boost::system::error_code& error);

    const char* data(std::size_t i) const { return &mStorage[i * mDatagramSize]; }
    std::size_t size(std::size_t i) const { return mSizes[i]; }
    const boost::asio::ip::udp::endpoint& sender(std::size_t i) const { return mSenders[i]; }

private:
    std::size_t mDatagramSize;
    std::vector<char> mStorage;
    std::array<std::size_t, kCapacity> mSizes{};
    std::array<boost::asio::ip::udp::endpoint, kCapacity> mSenders;
};

}  // namespace kiv
