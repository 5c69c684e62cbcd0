// A plain UDP socket for the network tests: plays a beacon, a watchdog server
// or a requester. Optionally made inside the peer namespace, so that it is a
// different host as far as the program is concerned.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace kiv::test {

struct Datagram {
    std::string data;
    std::string fromAddress;
    std::uint16_t fromPort = 0;
};

class UdpPeer
{
public:
    enum class Where { Here, PeerNamespace };

    // Binds address:port (port 0: any); reuse lets it share 34543 with the
    // program's sockets.
    UdpPeer(const std::string& address, std::uint16_t port, Where where = Where::Here,
            bool reuse = false);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    void joinGroup(const std::string& group, const std::string& interfaceAddress);
    // Multicast goes out of the interface with this address.
    void setMulticastInterface(const std::string& interfaceAddress);

    // Returns false when the send failed.
    bool sendTo(const std::string& data, const std::string& address, std::uint16_t port);
    std::optional<Datagram> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything that arrives within `quiet` of the previous datagram.
    int drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(200));

    std::uint16_t port() const;
    int fd() const { return mFd; }

private:
    int mFd = -1;
};

// The name of the peer namespace made by the test harness, or empty.
std::string peerNamespace();

}  // namespace kiv::test
