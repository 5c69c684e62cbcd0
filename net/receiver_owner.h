// What the group listeners hand to their owner, the watchdog server: the
// owner is given to each listener when it is made, and these calls come on
// the worker thread, from the receive handlers.
#pragma once

#include <cstdint>
#include <string>

namespace kiv {

class ReceiverOwner
{
public:
    virtual ~ReceiverOwner() = default;

    // A datagram of the beacon group from `sender` (IPv4, host order) that is
    // not the ping-target command: an announcement, or a configuration before
    // it is handed over as one. `message` is the datagram as read, at most
    // 1024 bytes.
    virtual void onBeaconMessage(std::uint32_t sender, const std::string& message) = 0;

    // A beacon-group datagram that names beaconCfgAlarm, from a source
    // allowed to configure the station, from `sender` (IPv4, host order; 0
    // for another kind of address).
    virtual void onConfiguration(std::uint32_t sender, const std::string& message) = 0;

    // The srvIpAddr value of a cloud-group datagram, up to its first zero byte.
    virtual void onCloudServerAddress(const std::string& address) = 0;
};

}  // namespace kiv
