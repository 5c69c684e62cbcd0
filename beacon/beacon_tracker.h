// The record of one beacon slot.
#pragma once

#include <cstdint>
#include <string>

namespace kiv {

// The brush the dialog last painted one of the slot's indicators with (an
// HBRUSH on Windows); the record does not own it.
using IndicatorBrush = void*;

// Fields are public: the watchdog server binds and updates the record from
// what the beacon channel hands it and ages it, and the status panel reads
// it, all under the server's state lock.
class BeaconTracker
{
public:
    BeaconTracker();
    virtual ~BeaconTracker();
    BeaconTracker(const BeaconTracker&) = delete;
    BeaconTracker& operator=(const BeaconTracker&) = delete;

    std::int32_t mBeaconState = -1;  // -1 unknown, 0 current, 1 late, 2 lost
    std::int32_t mPingState = -1;    // -1 unknown, 0 good, 2 bad
    IndicatorBrush mIndicatorBrush = nullptr;
    std::int32_t mMissedTicksShown = -1;
    std::int32_t mPingTargetHealth = -1;
    std::int32_t mMissedTicks = 0;
    std::int32_t mMessageCount = 0;
    std::uint32_t mIpAddress = 0;  // 0: the slot is free
    std::int32_t mSlotIndex = -1;
    std::string mIpAddressText;
    std::string mName;
    std::string mLocation;
    std::string mPingTarget;
};

// Shortest dotted address ("0.0.0.0"); shorter text is no ping target.
constexpr std::size_t kMinPingTargetLength = 7;

}  // namespace kiv
