// The status panel against a real watchdog server whose worker is not
// running, so the slots change only when a test changes them.
#include "shell/status_panel.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/event_text.h"
#include "service/kiv_server.h"
#include "service/view_client.h"
#include "shell/resource_ids.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"
#include "support/log_capture.h"
#include "support/udp_peer.h"

namespace {

using kiv::BeaconSlots;
using kiv::KivServer;
using kiv::StatusPanel;
using kiv::test::LogCapture;
using kiv::test::UdpPeer;

class RecordingView : public kiv::StatusView
{
public:
    std::map<int, std::string> texts;
    std::map<int, int> textWrites;
    std::vector<std::string> added;
    std::vector<std::string> removed;
    std::vector<int> repaints;
    std::vector<int> framesShown;
    int clears = 0;
    int staticLoads = 0;
    std::uint32_t address = 0;
    int filled = 4;

    void setControlText(int id, const std::string& text) override
    {
        texts[id] = text;
        ++textWrites[id];
    }
    void addListEntry(int, const std::string& text) override { added.push_back(text); }
    void removeListEntry(int, const std::string& text) override { removed.push_back(text); }
    void clearList(int) override { ++clears; }
    void repaintIndicator(int id) override { repaints.push_back(id); }
    void loadStaticResources() override { ++staticLoads; }
    void showRadarFrame(int frame) override { framesShown.push_back(frame); }
    kiv::PingAddressEntry readPingAddress() override
    {
        return {filled, {int(address >> 24), int(address >> 16 & 0xff), int(address >> 8 & 0xff), int(address & 0xff)}};
    }
    void showNotice(const std::string&, const std::string& text) override { notices.push_back(text); }
    std::vector<std::string> notices;
};

class StatusPanelTest : public ::testing::Test
{
protected:
    kiv::test::FakeHostNetwork host{{"10.1.2.5"}};
    kiv::test::FakeCpu cpu{{0}};
    std::unique_ptr<KivServer> server = std::make_unique<KivServer>();
    RecordingView view;
    StatusPanel panel{view, [this] { return server.get(); }};

    void SetUp() override { gEventText.take(); }

    template <typename F>
    void edit(int slot, F change)
    {
        server->withBeacons([&](BeaconSlots& slots) { change(slots[slot]); });
    }
    int beaconState(int slot)
    {
        return server->withBeacons([slot](BeaconSlots& s) { return s[slot].mBeaconState; });
    }
    int pingState(int slot)
    {
        return server->withBeacons([slot](BeaconSlots& s) { return s[slot].mPingState; });
    }
    // A datagram from `sender` as the beacon channel's receive hands it on.
    void receive(const std::string& sender, const std::string& text)
    {
        const boost::asio::ip::udp::endpoint from(boost::asio::ip::make_address(sender),
                                                  kiv::kWatchdogPort);
        server->multicast().handleDatagram(text.data(), text.size(), from);
    }
    static std::string announcement(const std::string& name, const std::string& location,
                                    const std::string& pingTarget, int health)
    {
        return "<beacon><name>" + name + "</name><location>" + location +
               "</location><pingTarget>" + pingTarget + "</pingTarget><pingTargetHealth>" +
               std::to_string(health) + "</pingTargetHealth></beacon>";
    }
};

TEST_F(StatusPanelTest, BeaconIndicatorFollowsMissedTicksAndRepaintsOnlyOnChange)
{
    const std::vector<std::pair<int, int>> steps = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {7, 2}};
    std::vector<int> states;
    for (const auto& [missed, expected] : steps) {
        edit(0, [missed = missed](kiv::BeaconTracker& b) { b.mMissedTicks = missed; });
        panel.refreshStatusPanel();
        EXPECT_EQ(expected, beaconState(0)) << "missed ticks " << missed;
        EXPECT_EQ(missed, server->withBeacons([](BeaconSlots& s) { return s[0].mMissedTicksShown; }));
    }
    // Repainted at 0 (from grey), 2 and 3 only; the other slots once each
    // when they first turned green.
    std::vector<int> slot0;
    for (int id : view.repaints)
        if (id == IDC_BEACON_INDICATOR0)
            slot0.push_back(id);
    EXPECT_EQ(3u, slot0.size());
    EXPECT_EQ(1, std::count(view.repaints.begin(), view.repaints.end(), IDC_BEACON_INDICATOR1));

    // A beacon never heard (negative count) is grey again.
    edit(0, [](kiv::BeaconTracker& b) { b.mMissedTicks = -1; });
    panel.refreshStatusPanel();
    EXPECT_EQ(-1, beaconState(0));
}

TEST_F(StatusPanelTest, PingIndicatorAndText)
{
    auto pingState = [this](int slot) {
        return server->withBeacons([slot](BeaconSlots& s) { return s[slot].mPingState; });
    };
    LogCapture log;
    edit(0, [](kiv::BeaconTracker& b) {
        b.mPingTarget = "10.9.9.9";
        b.mPingTargetHealth = 1;
    });
    edit(1, [](kiv::BeaconTracker& b) {
        b.mPingTarget = "10.9.9";  // six characters: no ping target
        b.mPingTargetHealth = 5;
        b.mSlotIndex = 1;
    });
    edit(2, [](kiv::BeaconTracker& b) {
        b.mPingTarget = "10.20.30.40";
        b.mPingTargetHealth = 4;
    });
    panel.refreshStatusPanel();

    EXPECT_EQ(-1, pingState(0)) << "a health of exactly 1 leaves a never-set indicator grey";
    EXPECT_EQ("10.9.9.9  :  1", view.texts[IDC_PING_TEXT0]);
    EXPECT_EQ(2, pingState(1));
    EXPECT_EQ("", view.texts[IDC_PING_TEXT1]);
    EXPECT_EQ(0, server->withBeacons([](BeaconSlots& s) { return s[1].mPingTargetHealth; }));
    EXPECT_TRUE(log.contains("RETURN HEALTH=[0][1] \n"));
    EXPECT_TRUE(log.contains("KivServer::getPingHealth=[2] \n"));
    EXPECT_EQ(0, pingState(2));
    EXPECT_EQ("10.20.30.40  :  4", view.texts[IDC_PING_TEXT2]);

    // Health 1 after a good health keeps green; 0 turns it red.
    edit(2, [](kiv::BeaconTracker& b) { b.mPingTargetHealth = 1; });
    panel.refreshStatusPanel();
    EXPECT_EQ(0, pingState(2));
    edit(2, [](kiv::BeaconTracker& b) { b.mPingTargetHealth = 0; });
    panel.refreshStatusPanel();
    EXPECT_EQ(2, pingState(2));
    EXPECT_EQ(2, std::count(view.repaints.begin(), view.repaints.end(), IDC_PING_INDICATOR2));
}

TEST_F(StatusPanelTest, BeaconHeardAgainAfterMissedTicksTurnsGreenWithItsCountRaised)
{
    const std::string heard = announcement("pump 3", "hall 2", "10.9.9.9", 2);
    for (int i = 0; i < 3; ++i)
        receive("10.0.0.9", heard);  // binds the slot, then counts two
    server->onPeriodic();
    server->onPeriodic();
    panel.refreshStatusPanel();
    ASSERT_EQ(1, beaconState(0)) << "yellow after two missed ticks";
    receive("10.0.0.9", heard);
    panel.refreshStatusPanel();
    EXPECT_EQ(0, beaconState(0)) << "green again once heard";
    EXPECT_EQ("10.0.0.9 : pump 3 : hall 2 : 3", view.texts[IDC_BEACON_TEXT0]);

    for (int i = 0; i < 3; ++i)
        server->onPeriodic();
    panel.refreshStatusPanel();
    ASSERT_EQ(2, beaconState(0)) << "red after three missed ticks";
    EXPECT_EQ("10.0.0.9 : pump 3 : hall 2 : 0", view.texts[IDC_BEACON_TEXT0]);
    receive("10.0.0.9", heard);
    panel.refreshStatusPanel();
    EXPECT_EQ(0, beaconState(0));
    EXPECT_EQ("10.0.0.9 : pump 3 : hall 2 : 1", view.texts[IDC_BEACON_TEXT0]);
}

TEST_F(StatusPanelTest, SevenCharacterPingTargetKeepsItsHealth)
{
    receive("10.0.0.9", announcement("pump 3", "hall 2", "1.2.3.4", 2));
    receive("10.0.0.9", announcement("pump 3", "hall 2", "1.2.3.4", 2));
    server->onPeriodic();
    panel.refreshStatusPanel();
    EXPECT_EQ("1.2.3.4  :  2", view.texts[IDC_PING_TEXT0]);
    EXPECT_EQ(0, pingState(0)) << "green";
}

TEST_F(StatusPanelTest, SlotBoundByAConfigurationTakesTheNameOfTheNextAnnouncement)
{
    LogCapture log;
    receive("10.0.0.9", "<beaconCfgAlarm><srvIpPort>5000</srvIpPort></beaconCfgAlarm>");
    receive("10.0.0.10", announcement("pump 4", "hall 3", "10.9.9.9", 2));
    receive("10.0.0.9", announcement("", "", "10.9.9.9", 2));  // carries neither
    receive("10.0.0.9", announcement("pump 3", "hall 2", "10.9.9.9", 2));
    receive("10.0.0.9", announcement("pump 9", "hall 9", "10.9.9.9", 2));
    receive("10.0.0.10", announcement("pump 5", "hall 5", "10.9.9.9", 2));
    panel.refreshStatusPanel();
    EXPECT_EQ("10.0.0.9 : pump 3 : hall 2 : 3", view.texts[IDC_BEACON_TEXT0]);
    EXPECT_EQ("10.0.0.10 : pump 4 : hall 3 : 1", view.texts[IDC_BEACON_TEXT1])
        << "a slot with a name keeps it";
}

TEST_F(StatusPanelTest, SlotNamedByItsFirstAnnouncementKeepsTheNameWithoutALocation)
{
    receive("10.0.0.9", announcement("pump 3", "", "10.9.9.9", 2));
    receive("10.0.0.9", announcement("pump 9", "hall 9", "10.9.9.9", 2));
    panel.refreshStatusPanel();
    EXPECT_EQ("10.0.0.9 : pump 3 :  : 1", view.texts[IDC_BEACON_TEXT0]);
}

TEST_F(StatusPanelTest, NameAndLocationAreEachShownAsUtf8OrWindows1252)
{
    receive("10.0.0.9", announcement("Pumpe S\xC3\xBC" "d", "Halle S\xFC" "d", "10.9.9.9", 2));
    panel.refreshStatusPanel();
    EXPECT_EQ("10.0.0.9 : Pumpe S\xC3\xBC" "d : Halle S\xC3\xBC" "d : 0", view.texts[IDC_BEACON_TEXT0]);
    EXPECT_EQ("Halle S\xFC" "d", server->withBeacons([](BeaconSlots& s) { return s[0].mLocation; }))
        << "the slot keeps the bytes";
}

TEST_F(StatusPanelTest, HostNameShownFromTheFirstRefreshAndARenameAtTheNextOne)
{
    panel.refreshStatusPanel();
    EXPECT_EQ("plant-ws7", view.texts[IDC_HOST_NAME]) << "read when the server started";

    // A rename found by the local network's refresh, with no tick between.
    kiv::test::FakeHostNetwork renamed{{"10.1.2.5"}, "plant-ws8"};
    kiv::test::KivServerProbe(*server).refreshLocalNetwork();
    panel.refreshStatusPanel();
    EXPECT_EQ("plant-ws8", view.texts[IDC_HOST_NAME]);
}

TEST_F(StatusPanelTest, RefreshNeverPairsAPingTargetWithAnotherTargetsHealth)
{
    LogCapture log;  // every refresh logs its health look-ups
    const std::string first = announcement("pump 3", "hall 2", "10.0.0.1", 2);
    const std::string second = announcement("pump 3", "hall 2", "10.0.0.222", 0);
    receive("10.0.0.9", first);  // binds the slot
    receive("10.0.0.9", first);  // sets its ping target
    auto pairOf = [this] {
        return server->withBeacons([](BeaconSlots& s) {
            return s[0].mPingTarget + "  :  " + std::to_string(s[0].mPingTargetHealth);
        });
    };
    auto consistent = [](const std::string& pair) {
        return pair == "10.0.0.1  :  2" || pair == "10.0.0.222  :  0";
    };
    // The beacon side looks at the slot before each announcement: a pair
    // the refresh mixed up stays there until then.
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    std::atomic<bool> mixed{false};
    std::string mixedInSlot;
    std::thread beacon([&] {
        started = true;
        for (long i = 0; !stop && i < 10000000 && mixedInSlot.empty(); ++i) {
            const std::string pair = pairOf();
            if (!consistent(pair)) {
                mixedInSlot = pair;
                mixed = true;
            }
            receive("10.0.0.9", i % 2 == 0 ? second : first);
        }
    });
    while (!started)
        std::this_thread::yield();
    std::string mixedShown;
    int rounds = 0;
    for (; rounds < 20000 && mixedShown.empty() && !mixed; ++rounds) {
        panel.refreshStatusPanel();
        if (!consistent(view.texts[IDC_PING_TEXT0]))
            mixedShown = view.texts[IDC_PING_TEXT0];
    }
    stop = true;
    beacon.join();
    EXPECT_EQ("", mixedInSlot) << "after " << rounds << " refreshes";
    EXPECT_EQ("", mixedShown) << "after " << rounds << " refreshes";
}

TEST_F(StatusPanelTest, NothingIsDrawnWhileHiddenAndEverythingOnceShownAgain)
{
    panel.refreshStatusPanel();
    panel.advanceAnimation();
    const std::map<int, int> writesBefore = view.textWrites;
    panel.refreshStatusPanel();  // nothing changed: nothing written
    EXPECT_EQ(writesBefore, view.textWrites);

    panel.setViewShown(false);
    const std::size_t repaintsBefore = view.repaints.size();
    const std::size_t framesBefore = view.framesShown.size();
    edit(0, [](kiv::BeaconTracker& b) {
        b.mIpAddressText = "10.0.0.9";
        b.mMissedTicks = 3;
    });
    edit(1, [](kiv::BeaconTracker& b) {
        b.mPingTarget = "10.9.9.9";
        b.mPingTargetHealth = 2;
    });
    gEventText.append("\rwhile hidden\r");
    for (int i = 0; i < 3; ++i) {
        panel.refreshStatusPanel();
        panel.advanceAnimation();
    }
    EXPECT_EQ(writesBefore, view.textWrites);
    EXPECT_EQ(repaintsBefore, view.repaints.size());
    EXPECT_EQ(framesBefore, view.framesShown.size());
    EXPECT_EQ(2, beaconState(0)) << "the state is still decided";
    EXPECT_EQ(0, pingState(1)) << "the ping state too";
    EXPECT_EQ(1, std::count(view.added.begin(), view.added.end(), "while hidden")) << "events are not lost";

    panel.setViewShown(true);
    EXPECT_EQ(repaintsBefore + 6, view.repaints.size()) << "every indicator once";
    ASSERT_EQ(framesBefore + 1, view.framesShown.size());
    EXPECT_EQ(1, view.framesShown.back()) << "the frame it stopped at";
    panel.refreshStatusPanel();
    EXPECT_EQ("10.0.0.9 :  :  : 0", view.texts[IDC_BEACON_TEXT0]);
    EXPECT_EQ(writesBefore.at(IDC_HOST_NAME) + 1, view.textWrites[IDC_HOST_NAME]) << "every text once";
}

TEST_F(StatusPanelTest, SlotTextsAndStaticInformation)
{
    edit(1, [](kiv::BeaconTracker& b) {
        b.mIpAddressText = "10.0.0.9";
        b.mName = "pump 3";
        b.mLocation = "hall 2";
        b.mMessageCount = 12;
    });
    panel.advanceAnimation();  // before the first refresh: nothing loaded
    panel.refreshStatusPanel();
    panel.refreshStatusPanel();
    panel.advanceAnimation();

    EXPECT_EQ(" :  :  : 0", view.texts[IDC_BEACON_TEXT0]);
    EXPECT_EQ("10.0.0.9 : pump 3 : hall 2 : 12", view.texts[IDC_BEACON_TEXT1]);
    EXPECT_EQ("10.0.0.9 : pump 3 : hall 2 : 12", panel.getBeaconText(1));
    EXPECT_FALSE(view.texts[IDC_OS_DESC].empty());
    EXPECT_EQ(1, view.textWrites[IDC_OS_DESC]) << "the OS description is shown once";
    EXPECT_EQ(1, view.staticLoads);
    EXPECT_EQ(1, view.textWrites[IDC_HOST_NAME]) << "an unchanged text is not written again";
    EXPECT_EQ("0", view.texts[IDC_CPU]);
    EXPECT_EQ((std::vector<int>{0, 1, 2}), view.framesShown);
}

TEST_F(StatusPanelTest, WithoutServerTextsAreEmptyAndNothingIsPainted)
{
    StatusPanel orphan{view, [] { return static_cast<KivServer*>(nullptr); }};
    orphan.refreshStatusPanel();
    EXPECT_EQ("", view.texts[IDC_BEACON_TEXT0]);
    EXPECT_EQ("", orphan.getBeaconText(0));
    EXPECT_TRUE(view.repaints.empty());
    EXPECT_FALSE(orphan.indicatorState(IDC_BEACON_INDICATOR0).has_value());
    EXPECT_FALSE(orphan.paintIndicator(IDC_BEACON_INDICATOR0, [](int) -> kiv::IndicatorBrush {
                           return nullptr;
                       }).has_value());
}

TEST_F(StatusPanelTest, AViewWithoutItsServiceShowsTheWaitingLineAndGreyIndicators)
{
    kiv::ViewClient client("/nonexistent/varnwin32/view");
    kiv::ViewStatusSource source(client);
    StatusPanel waiting{view, source};
    waiting.refreshStatusPanel();
    EXPECT_EQ("The VarnWin32 service is not running; waiting for it", view.texts[IDC_BEACON_TEXT0]);
    EXPECT_EQ("", view.texts[IDC_HOST_NAME]);
    EXPECT_EQ(-1, waiting.indicatorState(IDC_BEACON_INDICATOR0));
    EXPECT_EQ(-1, waiting.indicatorState(IDC_PING_INDICATOR2));
}

TEST_F(StatusPanelTest, PaintingStoresTheBrushOfTheState)
{
    static int brushes[4];
    auto brushFor = [](int state) -> kiv::IndicatorBrush {
        return state >= -1 && state <= 2 ? &brushes[state + 1] : nullptr;
    };
    EXPECT_EQ(&brushes[0], panel.paintIndicator(IDC_PING_INDICATOR1, brushFor));
    panel.setBeaconState(1, 2);
    EXPECT_EQ(&brushes[3], panel.paintIndicator(IDC_BEACON_INDICATOR1, brushFor));
    // A state without a colour keeps the brush last stored for the slot,
    // which the slot's two indicators share.
    panel.setPingState(1, 9);
    EXPECT_EQ(&brushes[3], panel.paintIndicator(IDC_PING_INDICATOR1, brushFor));
    EXPECT_FALSE(panel.paintIndicator(IDC_CPU, brushFor).has_value());
    EXPECT_EQ(2, panel.indicatorState(IDC_BEACON_INDICATOR1));
}

TEST_F(StatusPanelTest, EventTextIsSplitAtCarriageReturnsAndTheListIsCapped)
{
    EXPECT_EQ((std::vector<std::string>{" BEFORE new kiv::KivServer()", " AFTER new kiv::KivServer()"}),
              kiv::splitEventText("\r BEFORE new kiv::KivServer()\r\n\r AFTER new kiv::KivServer()\r\n"));
    EXPECT_EQ((std::vector<std::string>{"ab"}), kiv::splitEventText("ab\rx\r\rtail without end"));
    EXPECT_TRUE(kiv::splitEventText("no carriage return").empty());

    gEventText.append("\r first\r\n");
    gEventText.append("\r lost tail");
    panel.refreshStatusPanel();
    EXPECT_EQ((std::vector<std::string>{" first"}), view.added);
    EXPECT_EQ("", gEventText.take()) << "the take empties the shared text";

    for (std::size_t i = 0; i < kiv::kEventListLimit + 4; ++i)
        gEventText.append("\r event " + std::to_string(i) + "\r");
    panel.refreshStatusPanel();
    // 1005 entries in all: the five oldest go.
    EXPECT_EQ((std::vector<std::string>{" first", " event 0", " event 1", " event 2", " event 3"}),
              view.removed);
    panel.onClearEvents();
    EXPECT_EQ(1, view.clears);
    gEventText.append("\r again\r");
    panel.refreshStatusPanel();
    EXPECT_EQ(5u, view.removed.size()) << "after a clear the count starts over";
}

TEST_F(StatusPanelTest, PingTargetEntrySendsToTheGroupAndToBoundBeaconsOnly)
{
    UdpPeer group("0.0.0.0", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    group.joinGroup(kiv::kBeaconGroup, "127.0.0.1");
    UdpPeer beacon("10.0.0.9", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    edit(2, [](kiv::BeaconTracker& b) { b.mIpAddressText = "10.0.0.9"; });

    LogCapture log;
    view.address = 0x0A010203;  // 10.1.2.3
    panel.onSetPingTarget();
    EXPECT_EQ("10.1.2.3", view.texts[IDC_PING_TARGET_SHOWN]);
    EXPECT_TRUE(log.contains("[167838211]\n"));
    server->ioContext().poll();  // the worker's share: the sends

    int groupCommands = 0;
    while (auto datagram = group.receive(std::chrono::milliseconds(300)))
        if (datagram->data == "<setPingTarget>10.1.2.3</setPingTarget>")
            ++groupCommands;
    EXPECT_EQ(3, groupCommands);
    int unicast = 0;
    while (auto datagram = beacon.receive(std::chrono::milliseconds(300)))
        if (datagram->data == "<setPingTarget>10.1.2.3</setPingTarget>")
            ++unicast;
    EXPECT_GE(unicast, 1);

    view.address = 0x80000001;  // 128.0.0.1
    panel.onSetPingTarget();
    EXPECT_TRUE(log.contains("[-2147483647]\n"));
}

TEST_F(StatusPanelTest, PingTargetNotCompleteOrNotUsableSendsNothingAndSaysWhy)
{
    UdpPeer group("0.0.0.0", kiv::kWatchdogPort, UdpPeer::Where::Here, true);
    group.joinGroup(kiv::kBeaconGroup, "127.0.0.1");
    view.filled = 2;
    view.address = 0x0A010000;  // "10.1" typed
    panel.onSetPingTarget();
    view.filled = 4;
    for (const std::uint32_t address : {0u, 0xFFFFFFFFu}) {
        view.address = address;
        panel.onSetPingTarget();
    }
    server->ioContext().poll();
    EXPECT_FALSE(group.receive(std::chrono::milliseconds(300)).has_value());
    EXPECT_EQ(0u, view.texts.count(IDC_PING_TARGET_SHOWN));
    ASSERT_EQ(3u, view.notices.size());
    EXPECT_NE(std::string::npos, view.notices[0].find("fill in all four fields"));
    EXPECT_NE(std::string::npos, view.notices[2].find("255.255.255.255 is no address"));
}

}  // namespace
