// The watchdog server in a private network namespace: its construction, the
// tick and its re-arming, beacon ageing, the keep-alive and report schedule
// (with --spread), the CPU alarm sequences, and sends before the crossover.

#include "service/kiv_server.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "base/event_text.h"
#include "base/service_options.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"
#include "support/log_capture.h"

namespace {

using kiv::KivServer;
using kiv::ServiceOptions;
using kiv::test::FakeCpu;
using kiv::test::FakeHostNetwork;
using kiv::test::KivServerProbe;
using kiv::test::LogCapture;

const std::string kOnePairConfig =
    "<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>5000</srvIpPort>"
    "<cpuPercent>100</cpuPercent><alarmSeconds>5</alarmSeconds></beaconCfgAlarm>";

// The same server on another port: a new pair.
std::string onePairConfigOnPort(int port)
{
    return "<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>" + std::to_string(port) +
           "</srvIpPort></beaconCfgAlarm>";
}

// The options a server is made with, for the life of the object.
class OptionsInForce
{
public:
    explicit OptionsInForce(const ServiceOptions& options) { kiv::setServiceOptions(options); }
    ~OptionsInForce() { kiv::setServiceOptions(ServiceOptions()); }
    OptionsInForce(const OptionsInForce&) = delete;
    OptionsInForce& operator=(const OptionsInForce&) = delete;
};

ServiceOptions spreadOver(unsigned seconds)
{
    ServiceOptions options;
    options.spreadSeconds = seconds;
    return options;
}

class ServerTest : public ::testing::Test
{
protected:
    LogCapture log;
    FakeHostNetwork host{{"10.1.2.5"}};
    FakeCpu cpu{{0}};
    std::unique_ptr<KivServer> server = std::make_unique<KivServer>();
    KivServerProbe probe{*server};

    int tickAndCount(const std::string& line)
    {
        log.clear();
        server->onPeriodic();
        return log.count(line);
    }
};

TEST_F(ServerTest, ConstructionBindsOneSocketPerLocalAddress)
{
    EXPECT_TRUE(probe.hasBoundSocket("10.1.2.5"));
    EXPECT_EQ(1u, probe.localAddressCount());
    EXPECT_EQ("10.1.2.5:34543", probe.localEndpoint(0).address().to_string() + ":" +
                                    std::to_string(probe.localEndpoint(0).port()));
    EXPECT_TRUE(probe.tickRunning());
    EXPECT_EQ(1, probe.tickSeconds());
    EXPECT_EQ(KivServer::instance(), server.get());
    EXPECT_EQ(3, log.count("BeaconTracker::BeaconTracker\n"));
    EXPECT_TRUE(log.contains("==>  KivServer::KivServer\n"));
    EXPECT_TRUE(log.contains("Address [10.1.2.5]\n"));
    EXPECT_TRUE(log.contains("<==  KivServer::KivServer\n"));
}

TEST_F(ServerTest, TickIsRearmedFromThePreviousExpiry)
{
    const auto first = probe.tickExpiry();
    probe.fireTick();
    EXPECT_EQ(first + std::chrono::seconds(1), probe.tickExpiry());
    probe.fireTick();
    EXPECT_EQ(first + std::chrono::seconds(2), probe.tickExpiry());
    EXPECT_EQ(2, probe.tickCount());
}

TEST(ServerConstruction, EveryAddressGetsASocket)
{
    LogCapture log;
    FakeHostNetwork host({"10.9.0.1", "10.9.0.2", "10.9.0.3", "10.9.0.4", "10.9.0.5", "10.9.0.6"});
    KivServer server;
    KivServerProbe probe(server);
    EXPECT_TRUE(probe.hasBoundSocket("10.9.0.6"));
    EXPECT_EQ(6u, probe.localAddressCount());
    // Those addresses are not on this host: each bind fails and is recorded
    // with its reason.
    EXPECT_EQ(6, log.count("*** EXCEPTION  UdpBoundSocket::UdpBoundSocket [bind: Cannot assign requested address]\n"));
}

TEST(ServerConstruction, HostNameFailureStillBindsAndTicks)
{
    LogCapture log;
    FakeHostNetwork host({"10.1.2.5"}, "ws", /*nameFails=*/true);
    KivServer server;
    KivServerProbe probe(server);
    // The sockets follow the addresses, which do not come from the name.
    EXPECT_TRUE(probe.hasBoundSocket("10.1.2.5"));
    EXPECT_TRUE(probe.tickRunning());
    EXPECT_TRUE(log.contains("Error [10093]  when getting local host name.\n"));
}

TEST(ServerConstruction, LookupFailureLeavesNoSockets)
{
    LogCapture log;
    FakeHostNetwork host({"10.1.2.5"}, "ws", false, /*lookupFails=*/true);
    KivServer server;
    EXPECT_FALSE(KivServerProbe(server).hasBoundSocket("10.1.2.5"));
    EXPECT_TRUE(log.contains("Yikes! Bad host lookup.\n"));
    EXPECT_TRUE(log.contains("Yow! Bad host lookup.\n"));
}

TEST_F(ServerTest, BeaconsAgeAndGoSilentOnTheThirdTick)
{
    server->withBeacons([](kiv::BeaconSlots& b) {
        b[0].mIpAddress = 0x0A000009;
        b[0].mMessageCount = 4;
        b[0].mPingTarget = "10.0.0.1";
        b[0].mPingTargetHealth = 5;
        b[1].mPingTarget = "0.0.0.0";
        b[1].mPingTargetHealth = 2;
        b[2].mPingTarget = "1.2.3";
        b[2].mPingTargetHealth = 2;
    });
    server->onPeriodic();
    server->onPeriodic();
    server->withBeacons([](kiv::BeaconSlots& b) {
        EXPECT_EQ(2, b[0].mMissedTicks);
        EXPECT_EQ(4, b[0].mMessageCount);
        EXPECT_EQ(5, b[0].mPingTargetHealth);
        EXPECT_EQ(0, b[1].mPingTargetHealth);  // "0.0.0.0" is no ping target
        EXPECT_EQ(0, b[2].mPingTargetHealth);  // nor is text shorter than 7
    });
    server->onPeriodic();
    server->withBeacons([](kiv::BeaconSlots& b) {
        EXPECT_EQ(3, b[0].mMissedTicks);
        EXPECT_EQ(0, b[0].mMessageCount);
        EXPECT_EQ(0, b[0].mPingTargetHealth);
        EXPECT_EQ(3, b[2].mMissedTicks);  // free slots count too
    });
}

TEST_F(ServerTest, CountersStopAtTheirLimits)
{
    constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
    server->withBeacons([](kiv::BeaconSlots& b) {
        b[0].mIpAddress = 0x0A000009;  // 10.0.0.9
        b[0].mMessageCount = kLargest;
        b[1].mMissedTicks = kLargest;
    });
    const std::string announcement = "<beacon><name>pump 3</name></beacon>";
    server->multicast().handleDatagram(
        announcement.data(), announcement.size(),
        boost::asio::ip::udp::endpoint(boost::asio::ip::make_address("10.0.0.9"), 34543));
    probe.setTickCount(kiv::kReportTicks - 1);
    server->onPeriodic();
    server->onPeriodic();
    server->withBeacons([&](kiv::BeaconSlots& b) {
        EXPECT_EQ(kLargest, b[0].mMessageCount) << "the message count saturates";
        EXPECT_EQ(kLargest, b[1].mMissedTicks) << "the missed ticks saturate";
    });
    EXPECT_EQ(1, probe.tickCount()) << "the tick count goes round the report period";
    EXPECT_EQ(0, probe.alarmHoldoff()) << "the hold-off stops at zero";
}

TEST_F(ServerTest, PingHealthNeedsAPingTarget)
{
    server->withBeacons([](kiv::BeaconSlots& b) {
        b[0].mPingTarget = "10.0.0.9";
        b[0].mPingTargetHealth = 3;
        b[1].mPingTarget = "1.2.3";
        b[1].mPingTargetHealth = 3;
        b[1].mSlotIndex = 1;
    });
    EXPECT_EQ(3, server->getPingHealth(0));
    EXPECT_TRUE(log.contains("KivServer::getPingHealth=[0] \n"));
    EXPECT_EQ(0, server->getPingHealth(1));
    EXPECT_TRUE(log.contains("RETURN HEALTH=[0][1] \n"));
    EXPECT_EQ(0, server->getPingHealth(2));
    EXPECT_TRUE(log.contains("RETURN HEALTH=[0][-1] \n"));  // a free slot
    server->withBeacons([](kiv::BeaconSlots& b) { EXPECT_EQ(0, b[1].mPingTargetHealth); });
}

TEST_F(ServerTest, NothingIsSentBeforeTheCrossover)
{
    probe.setAlarm(100, 1);
    cpu.push(100);
    for (int tick = 1; tick <= 30; ++tick) {
        log.clear();
        server->onPeriodic();
        EXPECT_EQ(0, log.count("sendData for watchdog KEEP ALIVE[0] \n"));
        EXPECT_EQ(0, log.count("sendData for network [0] \n"));
    }
    // The alarm condition was met all the same, but no alarm went out: none
    // is held off.
    EXPECT_EQ(0, probe.alarmHoldoff());
    EXPECT_EQ(100, probe.cpuUsage());
    EXPECT_EQ("100", server->getCpuUsageText());
}

TEST_F(ServerTest, KeepAliveEveryThirtyTicksAndReportsOnSchedule)
{
    KivServer::setCrossOver(kOnePairConfig);
    ASSERT_EQ(1, probe.numLinks());
    std::vector<int> keepAlives, reports;
    for (int tick = 1; tick <= 1200; ++tick) {
        log.clear();
        server->onPeriodic();
        if (log.contains("sendData for watchdog KEEP ALIVE[0] \n"))
            keepAlives.push_back(tick);
        if (log.contains("sendData for watchdog [0] \n"))
            reports.push_back(tick);
    }
    ASSERT_EQ(40u, keepAlives.size());
    for (std::size_t i = 0; i < keepAlives.size(); ++i)
        EXPECT_EQ(static_cast<int>(30 * (i + 1)), keepAlives[i]);
    EXPECT_EQ((std::vector<int>{1, 600, 1200}), reports);
}

// A server started with --spread 30.
class SpreadServerTest : public ::testing::Test
{
protected:
    static constexpr int kSpread = 30;
    LogCapture log;
    FakeHostNetwork host{{"10.1.2.5"}};
    FakeCpu cpu{{0}};
    OptionsInForce options{spreadOver(kSpread)};
    std::unique_ptr<KivServer> server = std::make_unique<KivServer>();
    KivServerProbe probe{*server};
};

TEST_F(SpreadServerTest, ANewPairReportsOnceWithinTheSpread)
{
    std::set<int> reportTicks;
    for (int trial = 0; trial < 40; ++trial) {
        probe.setTickCount(1);  // clear of the ten-minute round
        // Each trial a new pair, its configuration repeated every tick as a
        // beacon may repeat it: the repeats change nothing and send nothing.
        const std::string config = onePairConfigOnPort(5000 + trial % 2);
        std::vector<int> reports;
        for (int tick = 1; tick <= kSpread + 10; ++tick) {
            KivServer::setCrossOver(config);
            log.clear();
            server->onPeriodic();
            if (log.contains("sendData for watchdog [0] \n"))
                reports.push_back(tick);
        }
        ASSERT_EQ(1u, reports.size()) << "trial " << trial;
        EXPECT_LE(reports.front(), kSpread) << "trial " << trial;
        reportTicks.insert(reports.front());
    }
    // Each configuration draws anew.
    EXPECT_GT(reportTicks.size(), 1u);
}

TEST_F(SpreadServerTest, TheScheduleKeepsItsPeriodsFromAPhaseDrawnOnce)
{
    const int phase = probe.tickCount();
    // Two configurations, each making a new pair, clear of the ten-minute
    // round so that its report does not stand for theirs.
    const int firstConfig = kiv::kReportTicks - phase + 100;
    const int secondConfig = firstConfig + 300;
    const int lastTick = firstConfig + 1000;
    std::vector<int> keepAlives, reports;
    for (int tick = 1; tick <= lastTick; ++tick) {
        if (tick == firstConfig)
            KivServer::setCrossOver(kOnePairConfig);
        if (tick == secondConfig)
            KivServer::setCrossOver(onePairConfigOnPort(5001));
        log.clear();
        server->onPeriodic();
        if (log.contains("sendData for watchdog KEEP ALIVE[0] \n"))
            keepAlives.push_back(tick);
        if (log.contains("sendData for watchdog [0] \n"))
            reports.push_back(tick);
    }
    // Every 30 ticks counted from the phase drawn at the start.
    ASSERT_GE(keepAlives.size(), 33u);
    EXPECT_LT(keepAlives.front() - firstConfig, kiv::kKeepAliveTicks);
    for (std::size_t i = 0; i < keepAlives.size(); ++i) {
        EXPECT_EQ(0, (phase + keepAlives[i]) % kiv::kKeepAliveTicks) << keepAlives[i];
        if (i > 0) {
            EXPECT_EQ(kiv::kKeepAliveTicks, keepAlives[i] - keepAlives[i - 1]) << "after " << keepAlives[i - 1];
        }
    }
    // Every 600 from the same phase, and one report within the spread after
    // each configuration.
    std::vector<int> expectedRound, round, spread;
    for (int tick = firstConfig; tick <= lastTick; ++tick) {
        if ((phase + tick) % kiv::kReportTicks == 0)
            expectedRound.push_back(tick);
    }
    for (int tick : reports)
        ((phase + tick) % kiv::kReportTicks == 0 ? round : spread).push_back(tick);
    EXPECT_EQ(expectedRound, round);
    ASSERT_EQ(2u, spread.size());
    EXPECT_LT(spread[0] - firstConfig, kSpread);
    EXPECT_GE(spread[0], firstConfig);
    EXPECT_LT(spread[1] - secondConfig, kSpread);
    EXPECT_GE(spread[1], secondConfig);
}

TEST(SpreadServerPhase, EachStationDrawsItsOwn)
{
    LogCapture log;
    FakeHostNetwork host{{"10.1.2.5"}};
    OptionsInForce options{spreadOver(30)};
    std::set<int> phases;
    for (int station = 0; station < 8; ++station) {
        KivServer server;
        const int phase = KivServerProbe(server).tickCount();
        EXPECT_GE(phase, 0);
        EXPECT_LT(phase, kiv::kReportTicks);
        phases.insert(phase);
    }
    EXPECT_GT(phases.size(), 1u);
    // Drawn over the whole report period, not only the keep-alive's.
    EXPECT_GE(*phases.rbegin(), kiv::kKeepAliveTicks);
}

TEST(SpreadServerPhase, ASpreadOfOneTickReportsAtTheNextTick)
{
    LogCapture log;
    FakeHostNetwork host{{"10.1.2.5"}};
    FakeCpu cpu{{0}};
    OptionsInForce options{spreadOver(1)};
    KivServer server;
    KivServerProbe probe(server);
    for (int trial = 0; trial < 20; ++trial) {
        probe.setTickCount(1);
        KivServer::setCrossOver(onePairConfigOnPort(5000 + trial % 2));
        log.clear();
        server.onPeriodic();
        EXPECT_EQ(1, log.count("sendData for watchdog [0] \n")) << "trial " << trial;
    }
}

TEST_F(SpreadServerTest, AStallSendsTheSpreadReportThatFellDueInIt)
{
    for (int trial = 0; trial < 10; ++trial) {
        probe.setTickCount(1);
        KivServer::setCrossOver(onePairConfigOnPort(5000 + trial % 2));
        probe.setTickExpiry(std::chrono::steady_clock::now() - std::chrono::seconds(kSpread + 5));
        log.clear();
        probe.fireTick();
        EXPECT_EQ(1, log.count("sendData for watchdog [0] \n")) << "trial " << trial;
    }
}

TEST_F(ServerTest, ReportOfTick600GoesOutWithoutCrossover)
{
    probe.setTickCount(599);
    EXPECT_EQ(0, tickAndCount("sendData for watchdog [0] \n"));  // no pairs yet
    KivServer::setCrossOver(kOnePairConfig);
    EXPECT_EQ(1, tickAndCount("sendData for watchdog [0] \n"));  // first tick after
    EXPECT_EQ(0, tickAndCount("sendData for watchdog [0] \n"));
}

TEST_F(ServerTest, AStallDoesNotReplayTheTicksItMissed)
{
    KivServer::setCrossOver(kOnePairConfig);
    server->onPeriodic();  // tick 1 and its report
    probe.setTickCount(29);
    // The timer was due 65 s ago: two keep-alives (ticks 30 and 60) fell
    // due while nothing ran.
    probe.setTickExpiry(std::chrono::steady_clock::now() - std::chrono::seconds(65));
    log.clear();
    probe.fireTick();
    EXPECT_EQ(1, log.count("sendData for watchdog KEEP ALIVE[0] \n"));
    EXPECT_TRUE(log.contains("KivServer::onTick  [65] ticks missed, not replayed\n"));
    EXPECT_EQ(95, probe.tickCount());
    // The schedule goes on from now, not from the old expiry.
    EXPECT_GT(probe.tickExpiry(), std::chrono::steady_clock::now());
    log.clear();
    probe.fireTick();  // the next tick, on time: nothing more is owed
    EXPECT_EQ(0, log.count("sendData for watchdog KEEP ALIVE[0] \n"));
}

TEST_F(ServerTest, ATickTwoPeriodsLateIsReplayedThreePeriodsLateIsNot)
{
    const auto twoLate = std::chrono::steady_clock::now() - std::chrono::seconds(2);
    probe.setTickExpiry(twoLate);
    probe.fireTick();
    // Still on the old schedule: the next tick is already due and runs at once.
    EXPECT_EQ(twoLate + std::chrono::seconds(1), probe.tickExpiry());
    EXPECT_EQ(1, probe.tickCount());

    probe.setTickExpiry(std::chrono::steady_clock::now() - std::chrono::seconds(3));
    probe.fireTick();
    EXPECT_TRUE(log.contains("KivServer::onTick  [3] ticks missed, not replayed\n"));
    EXPECT_GT(probe.tickExpiry(), std::chrono::steady_clock::now());
    EXPECT_EQ(5, probe.tickCount());  // the three missed and this one
}

TEST_F(ServerTest, AStallCountsItsMissedTicksOffTheAlarmHoldOff)
{
    KivServer::setCrossOver(kOnePairConfig);
    probe.setAlarm(50, 1);
    cpu.push(60);
    server->onPeriodic();
    server->onPeriodic();  // the alarm: held off for 180 ticks from here
    ASSERT_EQ(180, probe.alarmHoldoff());
    probe.setTickExpiry(std::chrono::steady_clock::now() - std::chrono::seconds(65));
    probe.fireTick();
    EXPECT_EQ(180 - 65 - 1, probe.alarmHoldoff());
}

TEST_F(ServerTest, ARenamedHostShowsInTheNextKeepAlive)
{
    KivServer::setCrossOver(kOnePairConfig);
    FakeHostNetwork renamed({"10.1.2.5"}, "plant-ws8");
    probe.setTickCount(29);
    log.clear();
    server->onPeriodic();
    EXPECT_EQ(1, log.count("sendData for watchdog KEEP ALIVE[0] \n"));
    const std::vector<std::string> lines = log.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("SEND TX DATA=[<wdKA>", 0) == 0 &&
               line.find("<hostName>plant-ws8</hostName>") != std::string::npos;
    }));
}

struct AlarmCase {
    const char* name;
    int percent;
    int seconds;
    std::vector<int> samples;
    std::vector<int> alarmTicks;  // within the ticks of `samples`
};

class AlarmSequence : public ::testing::TestWithParam<AlarmCase>
{
};

TEST_P(AlarmSequence, RaisesAlarmsOnTheRightTicks)
{
    const AlarmCase& c = GetParam();
    LogCapture log;
    FakeHostNetwork host{{"10.1.2.5"}};
    std::vector<int> samples = c.samples;
    FakeCpu cpu(samples);
    KivServer server;
    KivServerProbe probe(server);
    KivServer::setCrossOver(kOnePairConfig);
    probe.setAlarm(c.percent, c.seconds);
    // At the default level, where the alarm has its info line (at debug its
    // trace says it); an alarm sent starts the hold-off anew.
    kiv::setLogLevel(kiv::kDefaultLogLevel);
    std::vector<int> alarms;
    std::vector<int> alarmLines;  // the alarm's info line, which the Event Log takes
    for (std::size_t tick = 1; tick <= samples.size(); ++tick) {
        log.clear();
        server.onPeriodic();
        if (probe.alarmHoldoff() == kiv::kAlarmHoldoffTicks)
            alarms.push_back(static_cast<int>(tick));
        const std::string line = "CPU alarm: CPU at [" + std::to_string(c.samples[tick - 1]) + "] %, sending CPU_ALARM\n";
        if (log.levelOf(line) == kiv::LogLevel::info)
            alarmLines.push_back(static_cast<int>(tick));
    }
    kiv::setLogLevel(kiv::LogLevel::debug);
    EXPECT_EQ(c.alarmTicks, alarms) << c.name;
    EXPECT_EQ(c.alarmTicks, alarmLines) << c.name;
}

TEST_F(ServerTest, AtDebugAnAlarmIsItsTraceLinesAlone)
{
    KivServer::setCrossOver(kOnePairConfig);
    probe.setAlarm(50, 1);
    cpu.push(60);
    server->onPeriodic();
    EXPECT_EQ(1, tickAndCount("sendData for network [0] \n"));
    EXPECT_FALSE(log.contains("CPU alarm: CPU at [60] %, sending CPU_ALARM\n"));
}

std::vector<int> repeat(int value, int count, std::vector<int> head = {})
{
    head.insert(head.end(), static_cast<std::size_t>(count), value);
    return head;
}

INSTANTIATE_TEST_SUITE_P(
    Alarm, AlarmSequence,
    ::testing::Values(
        AlarmCase{"five at 100", 100, 5, repeat(100, 5), {5}},
        AlarmCase{"four at 100 are not enough", 100, 5, repeat(100, 4, {0}), {}},
        AlarmCase{"99 resets the count", 100, 5, repeat(100, 5, {100, 100, 99}), {8}},
        AlarmCase{"hold-off of 180 ticks", 100, 5, repeat(100, 370), {5, 185, 365}},
        AlarmCase{"one second: first high sample", 90, 1, {10, 95, 95}, {2}},
        AlarmCase{"zero seconds: first high sample", 90, 0, {10, 95}, {2}},
        AlarmCase{"zero percent: every sample is high", 0, 5, repeat(0, 200), {5, 185}},
        AlarmCase{"below threshold never alarms", 90, 1, repeat(89, 50), {}}),
    [](const ::testing::TestParamInfo<AlarmCase>& param) {
        std::string name = param.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

TEST_F(ServerTest, ALongerAlarmDelayAppliesWhileTheLoadIsHigh)
{
    const auto busy = [](const std::string& seconds) {
        return "<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>5000</srvIpPort>"
               "<cpuPercent>90</cpuPercent><alarmSeconds>" + seconds + "</alarmSeconds></beaconCfgAlarm>";
    };
    KivServer::setCrossOver(busy("5"));
    cpu.push(95);
    for (int tick = 0; tick < 4; ++tick)
        server->onPeriodic();  // one low sample, then three high ones
    KivServer::setCrossOver(busy("3600"));
    for (int tick = 0; tick < 10; ++tick)
        EXPECT_EQ(0, tickAndCount("sendData for network [0] \n")) << tick;
}

TEST_F(ServerTest, AnAlarmThatWentNowhereStartsNoHoldOff)
{
    probe.setAlarm(50, 1);
    cpu.push(60);
    server->onPeriodic();
    server->onPeriodic();
    EXPECT_EQ(0, probe.alarmHoldoff());
}

}  // namespace
