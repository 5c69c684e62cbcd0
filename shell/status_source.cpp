#include "shell/status_source.h"

#include "service/kiv_srv.h"

namespace kiv {

namespace {

BeaconView viewOf(const BeaconTracker& beacon)
{
    BeaconView view;
    view.missedTicksShown = beacon.mMissedTicksShown;
    view.pingTargetHealth = beacon.mPingTargetHealth;
    view.messageCount = beacon.mMessageCount;
    view.ipAddressText = beacon.mIpAddressText;
    view.name = beacon.mName;
    view.location = beacon.mLocation;
    view.pingTarget = beacon.mPingTarget;
    return view;
}

}  // namespace

BeaconViews ServerStatusSource::refreshBeacons()
{
    BeaconViews beacons{};
    KivServer* srv = mServer();
    if (srv == nullptr)
        return beacons;
    srv->withBeacons([](BeaconSlots& slots) {
        for (BeaconTracker& beacon : slots)
            beacon.mMissedTicksShown = beacon.mMissedTicks;
    });
    // getPingHealth zeroes the stored health of a slot without a ping
    // target under the lock itself; writing its answer back here, under a
    // second lock, would undo an announcement taken in between.
    for (int slot = 0; slot < kBeaconSlotCount; ++slot)
        srv->getPingHealth(slot);
    // One consistent copy: the worker may update a slot between any two of
    // the steps above, never inside this copy.
    srv->withBeacons([&beacons](BeaconSlots& slots) {
        for (int slot = 0; slot < kBeaconSlotCount; ++slot)
            beacons[static_cast<std::size_t>(slot)] = viewOf(slots[static_cast<std::size_t>(slot)]);
    });
    return beacons;
}

BeaconView ServerStatusSource::beacon(int slot)
{
    KivServer* srv = mServer();
    if (srv == nullptr)
        return BeaconView();
    return srv->withBeacons([slot](BeaconSlots& slots) { return viewOf(slots.at(static_cast<std::size_t>(slot))); });
}

std::string ServerStatusSource::cpuText()
{
    KivServer* srv = mServer();
    return srv != nullptr ? srv->getCpuUsageText() : std::string();
}

std::string ServerStatusSource::hostNameText()
{
    KivServer* srv = mServer();
    return srv != nullptr ? srv->hostNameText() : std::string();
}

std::string ServerStatusSource::localIpInCommonText()
{
    KivServer* srv = mServer();
    return srv != nullptr ? srv->localIpInCommonText() : std::string();
}

std::string ServerStatusSource::osDescText()
{
    // Built here, on the GUI thread, as the dialog always has.
    return KivSrv::getOsDescText();
}

std::string ServerStatusSource::takeEventText()
{
    return KivSrv::takeEventText();
}

void ServerStatusSource::sendPingTarget(std::uint32_t address)
{
    // Sent by the worker, which owns the channel's socket; a failed send is
    // logged and added to the event text there, and the dialog goes on.
    if (KivServer* srv = mServer())
        srv->postPingTarget(address);
}

std::optional<int> ServerStatusSource::indicatorState(int slot, bool ping)
{
    KivServer* srv = mServer();
    if (srv == nullptr)
        return std::nullopt;
    return srv->withBeacons([slot, ping](BeaconSlots& slots) {
        const BeaconTracker& beacon = slots.at(static_cast<std::size_t>(slot));
        return ping ? beacon.mPingState : beacon.mBeaconState;
    });
}

bool ServerStatusSource::storeIndicatorState(int slot, bool ping, int state)
{
    KivServer* srv = mServer();
    if (srv == nullptr)
        return false;
    return srv->withBeacons([slot, ping, state](BeaconSlots& slots) {
        BeaconTracker& beacon = slots.at(static_cast<std::size_t>(slot));
        std::int32_t& stored = ping ? beacon.mPingState : beacon.mBeaconState;
        if (stored == state)
            return false;
        stored = state;
        return true;
    });
}

std::optional<IndicatorBrush> ServerStatusSource::storeIndicatorBrush(int slot, IndicatorBrush brush)
{
    KivServer* srv = mServer();
    if (srv == nullptr)
        return std::nullopt;
    return srv->withBeacons([slot, brush](BeaconSlots& slots) {
        BeaconTracker& beacon = slots.at(static_cast<std::size_t>(slot));
        if (brush != nullptr)
            beacon.mIndicatorBrush = brush;
        return beacon.mIndicatorBrush;
    });
}

}  // namespace kiv
