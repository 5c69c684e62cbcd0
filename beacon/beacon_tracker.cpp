#include "beacon/beacon_tracker.h"

#include "core/debug_log.h"

namespace kiv {

BeaconTracker::BeaconTracker()
{
    debugLog("BeaconTracker::BeaconTracker\n");
}

BeaconTracker::~BeaconTracker()
{
    debugLog("BeaconTracker::~BeaconTracker\n");
}

}  // namespace kiv
