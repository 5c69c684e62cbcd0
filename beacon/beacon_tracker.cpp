#include "beacon/beacon_tracker.h"

#include "base/debug_log.h"

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
