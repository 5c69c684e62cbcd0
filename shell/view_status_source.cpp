#include "shell/status_source.h"

#include "service/view_client.h"

namespace kiv {

namespace {

// The slot as the dialog shows it when the service's record holds `slot`:
// the missed ticks shown are the record's, and a ping target too short to
// be an address has no health.
BeaconView viewOf(const view::SlotState& slot)
{
    BeaconView beacon;
    beacon.missedTicksShown = slot.missedTicks;
    beacon.pingTargetHealth = slot.pingTarget.size() < kMinPingTargetLength ? 0 : slot.pingTargetHealth;
    beacon.messageCount = slot.messageCount;
    beacon.ipAddressText = slot.address;
    beacon.name = slot.name;
    beacon.location = slot.location;
    beacon.pingTarget = slot.pingTarget;
    return beacon;
}

}  // namespace

bool ViewStatusSource::available()
{
    return mClient.link() == ViewLink::connected;
}

std::string ViewStatusSource::problem()
{
    return mClient.problem();
}

BeaconViews ViewStatusSource::refreshBeacons()
{
    const view::ViewState state = mClient.state();
    BeaconViews beacons{};
    for (std::size_t slot = 0; slot < beacons.size(); ++slot)
        beacons[slot] = viewOf(state.slots[slot]);
    return beacons;
}

BeaconView ViewStatusSource::beacon(int slot)
{
    return viewOf(mClient.state().slots.at(static_cast<std::size_t>(slot)));
}

std::string ViewStatusSource::cpuText()
{
    return mClient.state().cpuText;
}

std::string ViewStatusSource::hostNameText()
{
    return mClient.state().hostName;
}

std::string ViewStatusSource::localIpInCommonText()
{
    return mClient.state().localIpInCommon;
}

std::string ViewStatusSource::osDescText()
{
    return mClient.state().osDescription;
}

std::string ViewStatusSource::takeEventText()
{
    // Each item between carriage returns, as the panel splits them.
    std::string text;
    for (const std::string& item : mClient.takeEvents())
        text += "\r" + item;
    if (!text.empty())
        text += "\r";
    return text;
}

void ViewStatusSource::sendPingTarget(std::uint32_t address)
{
    mClient.setPingTarget(address);
}

std::optional<int> ViewStatusSource::indicatorState(int slot, bool ping)
{
    const Indicators& indicators = mIndicators.at(static_cast<std::size_t>(slot));
    return ping ? indicators.pingState : indicators.beaconState;
}

bool ViewStatusSource::storeIndicatorState(int slot, bool ping, int state)
{
    Indicators& indicators = mIndicators.at(static_cast<std::size_t>(slot));
    int& stored = ping ? indicators.pingState : indicators.beaconState;
    if (stored == state)
        return false;
    stored = state;
    return true;
}

std::optional<IndicatorBrush> ViewStatusSource::storeIndicatorBrush(int slot, IndicatorBrush brush)
{
    Indicators& indicators = mIndicators.at(static_cast<std::size_t>(slot));
    if (brush != nullptr)
        indicators.brush = brush;
    return indicators.brush;
}

}  // namespace kiv
