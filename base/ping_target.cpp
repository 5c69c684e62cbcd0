#include "base/ping_target.h"

#include "base/text_helpers.h"

namespace kiv {

bool usablePingTarget(std::uint32_t address)
{
    return address != 0 && address != kInAddrNone;
}

PingTargetCheck checkPingTarget(const PingAddressEntry& entry)
{
    const std::string notSent = "The ping target was not sent: ";
    if (entry.filledFields < 4)
        return {std::nullopt, notSent + "fill in all four fields of the address."};
    std::uint32_t address = 0;
    for (const int field : entry.fields) {
        if (field < 0 || field > 255)
            return {std::nullopt, notSent + std::to_string(field) +
                                      " is not a valid entry; each field is a number from 0 to 255."};
        address = (address << 8) | static_cast<std::uint32_t>(field);
    }
    if (!usablePingTarget(address))
        return {std::nullopt, notSent + getIpAddrString(address) + " is no address a beacon can ping."};
    return {address, std::string()};
}

}  // namespace kiv
