#include "shell/status_panel.h"

#include <utility>

#include "base/debug_log.h"
#include "base/text_helpers.h"
#include "service/kiv_srv.h"
#include "shell/art/radar_art.h"
#include "shell/display_text.h"
#include "shell/resource_ids.h"

namespace kiv {

namespace {

constexpr std::array<int, kBeaconSlotCount> kBeaconTextIds = {IDC_BEACON_TEXT0, IDC_BEACON_TEXT1,
                                                              IDC_BEACON_TEXT2};
constexpr std::array<int, kBeaconSlotCount> kPingTextIds = {IDC_PING_TEXT0, IDC_PING_TEXT1,
                                                            IDC_PING_TEXT2};
constexpr std::array<int, kBeaconSlotCount> kBeaconIndicatorIds = {
    IDC_BEACON_INDICATOR0, IDC_BEACON_INDICATOR1, IDC_BEACON_INDICATOR2};
constexpr std::array<int, kBeaconSlotCount> kPingIndicatorIds = {
    IDC_PING_INDICATOR0, IDC_PING_INDICATOR1, IDC_PING_INDICATOR2};

// Name and location each shown on its own terms: one beacon may send UTF-8
// in one and a Windows code page in the other.
BeaconView withShownNames(BeaconView beacon)
{
    beacon.name = displayText(beacon.name);
    beacon.location = displayText(beacon.location);
    return beacon;
}

// Which slot and which of its two indicators a control is.
struct IndicatorSlot {
    int slot;
    bool ping;
};

std::optional<IndicatorSlot> indicatorSlotOf(int controlId)
{
    for (int slot = 0; slot < kBeaconSlotCount; ++slot) {
        if (kBeaconIndicatorIds[slot] == controlId)
            return IndicatorSlot{slot, false};
        if (kPingIndicatorIds[slot] == controlId)
            return IndicatorSlot{slot, true};
    }
    return std::nullopt;
}

}  // namespace

std::string beaconText(const BeaconView& beacon)
{
    return beacon.ipAddressText + " : " + beacon.name + " : " + beacon.location + " : " +
           std::to_string(beacon.messageCount);
}

std::string pingTargetText(const BeaconView& beacon)
{
    if (beacon.pingTarget.size() < kMinPingTargetLength)
        return std::string();
    return beacon.pingTarget + "  :  " + std::to_string(beacon.pingTargetHealth);
}

int beaconStateFor(std::int32_t missedTicksShown)
{
    if (missedTicksShown < 0)
        return -1;
    if (missedTicksShown >= 3)
        return 2;
    if (missedTicksShown == 2)
        return 1;
    return 0;
}

std::optional<int> pingStateFor(std::int32_t pingTargetHealth)
{
    if (pingTargetHealth <= 0)
        return 2;
    if (pingTargetHealth >= 2)
        return 0;
    return std::nullopt;
}

StatusPanel::StatusPanel(StatusView& view, KivSrv* const& host)
    : StatusPanel(view, [&host]() -> KivServer* { return host != nullptr ? host->server() : nullptr; })
{
}

StatusPanel::StatusPanel(StatusView& view, ServerSource server)
    : mView(view),
      mOwnSource(std::make_unique<ServerStatusSource>(std::move(server))),
      mSource(*mOwnSource)
{
}

StatusPanel::StatusPanel(StatusView& view, StatusSource& source) : mView(view), mSource(source) {}

void StatusPanel::refreshStatusPanel()
{
    const bool available = mSource.available();
    BeaconViews beacons{};
    if (available)
        beacons = mSource.refreshBeacons();
    // A view waiting for its service says so in the first slot's line.
    const std::string problem = available ? std::string() : mSource.problem();

    for (int slot = 0; slot < kBeaconSlotCount; ++slot) {
        const std::string fallback = slot == 0 ? problem : std::string();
        showText(kBeaconTextIds[slot], available ? beaconText(withShownNames(beacons[slot])) : fallback);
    }
    for (int slot = 0; slot < kBeaconSlotCount; ++slot)
        showText(kPingTextIds[slot], available ? pingTargetText(beacons[slot]) : std::string());

    if (available) {
        for (int slot = 0; slot < kBeaconSlotCount; ++slot)
            setBeaconState(slot, beaconStateFor(beacons[slot].missedTicksShown));
        for (int slot = 0; slot < kBeaconSlotCount; ++slot)
            if (const std::optional<int> state = pingStateFor(beacons[slot].pingTargetHealth))
                setPingState(slot, *state);
    } else if (!problem.empty()) {
        // Nothing is known while the service is away.
        for (int slot = 0; slot < kBeaconSlotCount; ++slot) {
            setBeaconState(slot, -1);
            setPingState(slot, -1);
        }
    }

    showText(IDC_CPU, available ? mSource.cpuText() : std::string());

    if (!mStaticInfoShown && mViewShown) {
        mStaticInfoShown = true;
        showText(IDC_OS_DESC, mSource.osDescText());
        mView.loadStaticResources();
        mFramesLoaded = true;
        mView.showRadarFrame(1);
    } else if (mStaticInfoShown && mSource.osDescFollows()) {
        showText(IDC_OS_DESC, mSource.osDescText());
    }

    showText(IDC_HOST_NAME, available ? mSource.hostNameText() : std::string());
    showText(IDC_LOCAL_IP_IN_COMMON, available ? mSource.localIpInCommonText() : std::string());

    const std::string events = mSource.takeEventText();
    for (const std::string& piece : splitEventText(events)) {
        const std::string entry = displayText(piece);
        mView.addListEntry(IDC_EVENT_LIST, entry);
        mEventEntries.push_back(entry);
        if (mEventEntries.size() > kEventListLimit) {
            mView.removeListEntry(IDC_EVENT_LIST, mEventEntries.front());
            mEventEntries.pop_front();
        }
    }
}

void StatusPanel::onClearEvents()
{
    mView.clearList(IDC_EVENT_LIST);
    mEventEntries.clear();
}

void StatusPanel::onSetPingTarget()
{
    const PingTargetCheck check = checkPingTarget(mView.readPingAddress());
    if (!check.address) {
        infoLog("%s\n", check.problem.c_str());
        mView.showNotice("Set Ping Target IP", check.problem);
        return;
    }
    const std::uint32_t address = *check.address;
    mView.setControlText(IDC_PING_TARGET_SHOWN, getIpAddrString(address));
    if (mSource.available())
        mSource.sendPingTarget(address);
    debugLog("[%d]\n", static_cast<std::int32_t>(address));
}

std::string StatusPanel::getBeaconText(int slot)
{
    if (!mSource.available())
        return std::string();
    return beaconText(mSource.beacon(slot));
}

std::string StatusPanel::getPingTargetText(int slot)
{
    if (!mSource.available())
        return std::string();
    return pingTargetText(mSource.beacon(slot));
}

void StatusPanel::setBeaconState(int slot, int state)
{
    if (mSource.storeIndicatorState(slot, false, state) && mViewShown)
        mView.repaintIndicator(kBeaconIndicatorIds.at(static_cast<std::size_t>(slot)));
}

void StatusPanel::setPingState(int slot, int state)
{
    if (mSource.storeIndicatorState(slot, true, state) && mViewShown)
        mView.repaintIndicator(kPingIndicatorIds.at(static_cast<std::size_t>(slot)));
}

std::optional<int> StatusPanel::indicatorState(int controlId)
{
    const std::optional<IndicatorSlot> which = indicatorSlotOf(controlId);
    if (!which)
        return std::nullopt;
    return mSource.indicatorState(which->slot, which->ping);
}

std::optional<IndicatorBrush> StatusPanel::paintIndicator(int controlId,
                                                          IndicatorBrush (*brushForState)(int))
{
    const std::optional<IndicatorSlot> which = indicatorSlotOf(controlId);
    if (!which)
        return std::nullopt;
    const std::optional<int> state = mSource.indicatorState(which->slot, which->ping);
    if (!state)
        return std::nullopt;
    // A state without a colour keeps the brush last stored for the slot.
    return mSource.storeIndicatorBrush(which->slot, brushForState(*state));
}

void StatusPanel::advanceAnimation()
{
    if (!mViewShown)
        return;
    if (++mAnimationFrame > kRadarFrameCount)
        mAnimationFrame = 1;
    // Until the first refresh has loaded the frames there is nothing to show.
    mView.showRadarFrame(mFramesLoaded ? mAnimationFrame : 0);
}

void StatusPanel::showText(int controlId, const std::string& bytes)
{
    if (!mViewShown)
        return;
    const std::string text = displayText(bytes);
    const auto shown = mShownTexts.find(controlId);
    if (shown != mShownTexts.end() && shown->second == text)
        return;
    mShownTexts[controlId] = text;
    mView.setControlText(controlId, text);
}

void StatusPanel::setViewShown(bool shown)
{
    if (shown == mViewShown)
        return;
    mViewShown = shown;
    if (!shown)
        return;
    // What the view shows may be older than what was decided meanwhile.
    mShownTexts.clear();
    for (int slot = 0; slot < kBeaconSlotCount; ++slot) {
        mView.repaintIndicator(kBeaconIndicatorIds[slot]);
        mView.repaintIndicator(kPingIndicatorIds[slot]);
    }
    if (mFramesLoaded)
        mView.showRadarFrame(mAnimationFrame);
}

void sendPingTarget(KivServer& server, std::uint32_t address)
{
    ServerStatusSource([&server] { return &server; }).sendPingTarget(address);
}

}  // namespace kiv
