// Where the status panel reads what it shows and sends what the operator
// asks: the watchdog server in this process (ServerStatusSource), or the
// station's service through the view channel (ViewStatusSource). The panel
// does not know which; both dialogs and their presenter stay one code.
// Everything here is called on the GUI thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "beacon/beacon_tracker.h"
#include "service/kiv_server.h"

namespace kiv {

class ViewClient;

// One consistent copy of what the panel shows of a beacon slot.
struct BeaconView {
    std::int32_t missedTicksShown = -1;
    std::int32_t pingTargetHealth = -1;
    std::int32_t messageCount = 0;
    std::string ipAddressText;
    std::string name;
    std::string location;
    std::string pingTarget;
};

using BeaconViews = std::array<BeaconView, kBeaconSlotCount>;

class StatusSource
{
public:
    virtual ~StatusSource() = default;

    // Whether there is state to show: false without a watchdog server, or
    // while the view has no service to talk to.
    virtual bool available() = 0;
    // A line for the operator while there is nothing to show and there
    // should be (the view waiting for its service); empty otherwise.
    virtual std::string problem() { return std::string(); }

    // The refresh's first steps (the missed ticks shown, the ping health as
    // shown), then one consistent copy of the three slots.
    virtual BeaconViews refreshBeacons() = 0;
    virtual BeaconView beacon(int slot) = 0;
    virtual std::string cpuText() = 0;
    virtual std::string hostNameText() = 0;
    virtual std::string localIpInCommonText() = 0;
    // The operating-system description shown from the first refresh on.
    virtual std::string osDescText() = 0;
    // True when the description may still change after the first refresh
    // (the service's comes with its state).
    virtual bool osDescFollows() const { return false; }
    // The event text that arrived since the last take ("\r"-separated
    // items, as the panel splits them).
    virtual std::string takeEventText() = 0;
    // The ping-target command: to the beacon group, then to each bound
    // beacon. Never throws.
    virtual void sendPingTarget(std::uint32_t address) = 0;

    // The indicator states of the slots, as the panel decided them: the
    // state stored for one indicator (nullopt: there is none to paint), and
    // storing a new one (true when it changed).
    virtual std::optional<int> indicatorState(int slot, bool ping) = 0;
    virtual bool storeIndicatorState(int slot, bool ping, int state) = 0;
    // Stores `brush` as the brush the slot's indicator was last painted
    // with, unless it is null, and returns the slot's brush.
    virtual std::optional<IndicatorBrush> storeIndicatorBrush(int slot, IndicatorBrush brush) = 0;
};

// The watchdog server of this process, asked for on every call (null when
// there is none). Indicator states live in the server's beacon records.
class ServerStatusSource final : public StatusSource
{
public:
    using ServerLookup = std::function<KivServer*()>;
    explicit ServerStatusSource(ServerLookup server) : mServer(std::move(server)) {}

    bool available() override { return mServer() != nullptr; }
    BeaconViews refreshBeacons() override;
    BeaconView beacon(int slot) override;
    std::string cpuText() override;
    std::string hostNameText() override;
    std::string localIpInCommonText() override;
    std::string osDescText() override;
    std::string takeEventText() override;
    void sendPingTarget(std::uint32_t address) override;
    std::optional<int> indicatorState(int slot, bool ping) override;
    bool storeIndicatorState(int slot, bool ping, int state) override;
    std::optional<IndicatorBrush> storeIndicatorBrush(int slot, IndicatorBrush brush) override;

private:
    ServerLookup mServer;
};

// The station's service, through the view channel's client. Indicator
// states are kept here, on the panel's side; they go grey while the
// service is away.
class ViewStatusSource final : public StatusSource
{
public:
    explicit ViewStatusSource(ViewClient& client) : mClient(client) {}

    bool available() override;
    std::string problem() override;
    BeaconViews refreshBeacons() override;
    BeaconView beacon(int slot) override;
    std::string cpuText() override;
    std::string hostNameText() override;
    std::string localIpInCommonText() override;
    std::string osDescText() override;
    bool osDescFollows() const override { return true; }
    std::string takeEventText() override;
    void sendPingTarget(std::uint32_t address) override;
    std::optional<int> indicatorState(int slot, bool ping) override;
    bool storeIndicatorState(int slot, bool ping, int state) override;
    std::optional<IndicatorBrush> storeIndicatorBrush(int slot, IndicatorBrush brush) override;

private:
    struct Indicators {
        int beaconState = -1;
        int pingState = -1;
        IndicatorBrush brush = nullptr;
    };

    ViewClient& mClient;
    std::array<Indicators, kBeaconSlotCount> mIndicators{};
};

}  // namespace kiv
