// Whether what the operator typed into the ping-target address entry may go
// out to the beacons: only a complete IPv4 address, each field 0 to 255,
// that is neither 0.0.0.0 nor 255.255.255.255. Both dialogs read their
// entry into PingAddressEntry and ask checkPingTarget before sending.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kiv {

// The address entry as typed: how many of the four fields hold a number,
// and each field's number (a blank field reads as 0), first field first.
struct PingAddressEntry {
    int filledFields = 0;
    std::array<int, 4> fields{};
};

struct PingTargetCheck {
    std::optional<std::uint32_t> address;  // host order; set when it may be sent
    std::string problem;                   // why not, for the operator; empty when it may
};

PingTargetCheck checkPingTarget(const PingAddressEntry& entry);

// A ping target a beacon can ping: neither 0.0.0.0 nor 255.255.255.255.
bool usablePingTarget(std::uint32_t address);

}  // namespace kiv
