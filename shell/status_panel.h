// The status panel behind the main dialog, free of any toolkit: every 500 ms
// it copies the watchdog server's state into the dialog's controls, decides
// the indicator states, drains the event text into the event list, and runs
// the operator's ping-target entry. Each desktop shell supplies a
// StatusView; everything here runs on the GUI thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <memory>

#include "base/event_text.h"
#include "base/ping_target.h"
#include "beacon/beacon_tracker.h"
#include "service/kiv_server.h"
#include "shell/status_source.h"

namespace kiv {

class KivSrv;

// What the presenter asks of a dialog. Control ids are those of
// shell/resource_ids.h. Every text the panel hands over is UTF-8: what came
// from the network is converted for display first (shell/display_text.h).
class StatusView
{
public:
    virtual ~StatusView() = default;

    virtual void setControlText(int controlId, const std::string& text) = 0;
    // Adds one entry to the (sorted) event list, removes the first entry
    // with exactly this text, or empties the list.
    virtual void addListEntry(int controlId, const std::string& text) = 0;
    virtual void removeListEntry(int controlId, const std::string& text) = 0;
    virtual void clearList(int controlId) = 0;
    // The indicator's state changed: repaint it (the view asks
    // StatusPanel::indicatorState for the colour).
    virtual void repaintIndicator(int controlId) = 0;
    // First refresh only: the small icon and the radar frames.
    virtual void loadStaticResources() = 0;
    // Shows radar frame 1..16 in the radar control; 0 shows no image.
    virtual void showRadarFrame(int frame) = 0;
    // The IPv4 address entry as typed.
    virtual PingAddressEntry readPingAddress() = 0;
    // Tells the operator why an action did nothing, in a message box.
    virtual void showNotice(const std::string& caption, const std::string& text) = 0;
};

std::string beaconText(const BeaconView& beacon);
std::string pingTargetText(const BeaconView& beacon);
// -1 grey (not heard yet), 0 green, 1 yellow, 2 red.
int beaconStateFor(std::int32_t missedTicksShown);
// nullopt: a health of exactly 1 leaves the indicator as it is.
std::optional<int> pingStateFor(std::int32_t pingTargetHealth);

// The event list keeps at most this many entries: beyond it the oldest is
// removed, so a program left running for months stays flat in memory.
constexpr std::size_t kEventListLimit = 1000;

class StatusPanel
{
public:
    // Where the panel finds the watchdog server, asked on every call; null
    // when there is none.
    using ServerSource = std::function<KivServer*()>;

    // `host` is the service host pointer the shell owns; it is read on
    // every call, so a host deleted on "Exit" is seen at once.
    StatusPanel(StatusView& view, KivSrv* const& host);
    StatusPanel(StatusView& view, ServerSource server);
    // Any other source (the service through the view channel); it must
    // outlive the panel.
    StatusPanel(StatusView& view, StatusSource& source);

    // The 500 ms refresh.
    void refreshStatusPanel();

    // The "Set Ping Target IP" button (and Enter in the address entry):
    // sends a complete, usable address; anything else sends nothing and
    // the view says why.
    void onSetPingTarget();
    // The "Clear" command: empties the event list.
    void onClearEvents();

    std::string getBeaconText(int slot);
    std::string getPingTargetText(int slot);
    void setBeaconState(int slot, int state);
    void setPingState(int slot, int state);

    // The state an indicator control is painted in, read from its slot;
    // nullopt for any other control or without a source of indicators.
    std::optional<int> indicatorState(int controlId);
    // As indicatorState, and stores `brush` in the slot as the brush the
    // indicator was last painted with. Returns the slot's brush.
    std::optional<IndicatorBrush> paintIndicator(int controlId,
                                                 IndicatorBrush (*brushForState)(int state));

    // The radar animation: one step of the 100 ms timer.
    void advanceAnimation();

    // Whether the dialog can be seen (false while it is hidden or
    // minimised). Until it can again, nothing is drawn: no text, no
    // indicator, no radar frame; the event list still takes its entries.
    // Becoming visible draws indicators and radar at once and every text
    // at the next refresh. A view counts as visible until told otherwise.
    void setViewShown(bool shown);
    bool viewShown() const { return mViewShown; }
    int animationFrame() const { return mAnimationFrame; }
    bool staticInfoShown() const { return mStaticInfoShown; }

private:
    // Sets a control's text, as displayText shows `bytes`, unless it
    // already shows exactly this text or the view cannot be seen.
    void showText(int controlId, const std::string& bytes);

    StatusView& mView;
    std::unique_ptr<StatusSource> mOwnSource;
    StatusSource& mSource;
    bool mStaticInfoShown = false;
    bool mFramesLoaded = false;
    int mAnimationFrame = 0;
    bool mViewShown = true;
    // The text each control was last given, by control id.
    std::map<int, std::string> mShownTexts;
    // The event list's entries in the order they were added.
    std::deque<std::string> mEventEntries;
};

// Sends the ping-target command through the watchdog server's worker: to
// the beacon group, then to each bound beacon. Never throws.
void sendPingTarget(KivServer& server, std::uint32_t address);

}  // namespace kiv
