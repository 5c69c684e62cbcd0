// The texts the tools put on the wire, what they read from the workstation's
// own messages, and how they print and summarise them.
#include <gtest/gtest.h>

#include "base/text_helpers.h"
#include "tools/common/latency.h"
#include "tools/common/output.h"
#include "tools/common/wire_text.h"

namespace {

using namespace kiv::tools;

TEST(WireText, AnnouncementReadsBackAsTheWorkstationReadsIt)
{
    const Announcement announcement{"pump 3", "hall 2, east", 0x0A010201u, 2};
    const std::string text = announcementText(announcement);
    EXPECT_EQ("<beacon><name>pump 3</name><location>hall 2, east</location><pingTarget>10.1.2.1</pingTarget>"
              "<pingTargetHealth>2</pingTargetHealth></beacon>",
              text);
    EXPECT_EQ("pump 3", getXmlValue("name", text));
    EXPECT_EQ("hall 2, east", getXmlValue("location", text));
    EXPECT_EQ("10.1.2.1", getXmlValue("pingTarget", text));
    EXPECT_EQ(2, getXmlValueInt("pingTargetHealth", text));

    // Values refused on the command line are those that would be misread.
    for (const char* bad : {"a<b", "x>", "my location", "pingTarget 2", "beaconCfgAlarm"})
        EXPECT_NE("", announcementValueProblem(bad)) << bad;
    for (const char* good : {"pump 3", "unnamed", "hall 2 / east", ""})
        EXPECT_EQ("", announcementValueProblem(good)) << good;
}

TEST(WireText, ConfigurationAndCommand)
{
    Configuration configuration;
    configuration.servers = {0x0A010201u, 0xC0A80701u};
    configuration.serverPort = 5000;
    configuration.hasAlarmSeconds = true;
    configuration.alarmSeconds = 10;
    EXPECT_EQ("<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpAddr>192.168.7.1</srvIpAddr>"
              "<srvIpPort>5000</srvIpPort><alarmSeconds>10</alarmSeconds></beaconCfgAlarm>",
              configurationText(configuration));
    EXPECT_EQ("<setPingTarget>10.0.0.9</setPingTarget>", pingTargetCommandText(0x0A000009u));
}

TEST(WireText, GroupDatagramsAreTakenInTheWorkstationsOrder)
{
    struct Case {
        std::string datagram;
        GroupKind kind;
        Fields fields;
    };
    const Case cases[] = {
        {"<name>abc>", GroupKind::Short, {{"bytes", "10"}}},
        {"<setPingTarget>10.1.2.3</setPingTarget>", GroupKind::Command, {{"pingTarget", "10.1.2.3"}}},
        {"<beaconCfgAlarm><setPingTarget>10.1.2.3</setPingTarget>", GroupKind::Command, {{"pingTarget", "10.1.2.3"}}},
        {"<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpPort>5000</srvIpPort><cpuPercent>90</cpuPercent>",
         GroupKind::Configuration,
         {{"servers", "10.1.2.1"}, {"port", "5000"}, {"cpuPercent", "90"}}},
        {"<beaconCfgAlarm>" + std::string("<srvIpAddr>10.0.0.1</srvIpAddr>") + "<srvIpAddr>10.0.0.2</srvIpAddr>" +
             "<srvIpAddr>10.0.0.3</srvIpAddr><srvIpAddr>10.0.0.4</srvIpAddr><srvIpAddr>10.0.0.5</srvIpAddr>" +
             "<srvIpAddr>10.0.0.6</srvIpAddr>",
         GroupKind::Configuration,
         {{"servers", "10.0.0.1,10.0.0.2,10.0.0.3,10.0.0.4,10.0.0.5"}, {"ignored_servers", "1"}, {"port", "0"}}},
        {announcementText({"pump 3", "hall 2", 0, -1}),
         GroupKind::Announcement,
         {{"name", "pump 3"}, {"location", "hall 2"}, {"pingTarget", "0.0.0.0"}, {"health", "-1"}}},
    };
    for (const Case& c : cases) {
        const GroupMessage message = readGroupMessage(c.datagram);
        EXPECT_EQ(c.kind, message.kind) << c.datagram;
        EXPECT_EQ(c.fields, message.fields) << c.datagram;
    }
}

TEST(WireText, WatchdogMessagesAndStatusReply)
{
    const std::string interfaces =
        "<localIpInterfaces><ipAddr>10.1.2.5</ipAddr><ipAddr>192.168.7.20</ipAddr></localIpInterfaces>";
    const WatchdogMessage keepAlive = readWatchdogMessage(
        "<wdKA>\n<ipAddr>10.1.2.5</ipAddr>\n<cpuUsage>7</cpuUsage>\n<osDesc>Linux</osDesc>\n<hostName>ws7</hostName>\n"
        "<wdVer>1.0</wdVer>\n</wdKA>\n");
    EXPECT_EQ(WatchdogKind::KeepAlive, keepAlive.kind);
    EXPECT_EQ("10.1.2.5", keepAlive.ipAddr);
    EXPECT_EQ("7", keepAlive.cpuUsage);
    EXPECT_EQ("ws7", keepAlive.hostName);

    const WatchdogMessage report = readWatchdogMessage(
        "<wdStatus>\n" + interfaces + "<ipAddr>192.168.7.20</ipAddr>\n<ipPort>34543</ipPort>\n<cpuUsage>0</cpuUsage>\n"
        "<osDesc>Linux</osDesc>\n<hostName>ws7</hostName>\n<wdVer>1.0</wdVer>\n</wdStatus>\n");
    EXPECT_EQ(WatchdogKind::Report, report.kind);
    EXPECT_EQ("192.168.7.20", report.ipAddr);  // the pair's, not the first interface
    EXPECT_EQ((std::vector<std::string>{"10.1.2.5", "192.168.7.20"}), report.interfaces);

    const WatchdogMessage alarm = readWatchdogMessage(
        "<CPU_ALARM>\n" + interfaces + "<ipPort>\n34543</ipPort>\n<cpuUsage>\n80</cpuUsage>\n<osDesc>\nLinux</osDesc>\n"
        "<hostName>\nws7</hostName>\n<wdVer>1.0</wdVer>\n</CPU_ALARM>\n");
    EXPECT_EQ(WatchdogKind::Alarm, alarm.kind);
    EXPECT_EQ("", alarm.ipAddr);
    EXPECT_EQ("80", alarm.cpuUsage);
    EXPECT_EQ("ws7", alarm.hostName);
    EXPECT_EQ(2u, alarm.interfaces.size());

    EXPECT_EQ(WatchdogKind::Other, readWatchdogMessage("hello <wdKA>").kind);

    const StatusReply reply = readStatusReply(
        "<status><ipAddr>10.1.2.5</ipAddr>\n<ipPort>45654</ipPort>\n<cpuPercent>7</cpuPercent>\n"
        "<os>Debian GNU/Linux 12 (bookworm), 64-bit</os>\n</status>");
    EXPECT_TRUE(reply.valid);
    EXPECT_EQ("10.1.2.5", reply.ipAddr);
    EXPECT_EQ("45654", reply.ipPort);
    EXPECT_EQ("7", reply.cpuPercent);
    EXPECT_EQ("Debian GNU/Linux 12 (bookworm), 64-bit", reply.os);
    EXPECT_FALSE(readStatusReply("STATUS_REQUEST ").valid);
}

TEST(Output, FieldValuesStayOnePlainWord)
{
    EXPECT_EQ(" name=pump-3 os=\"Debian GNU/Linux\" empty=\"\"",
              fieldsText({{"name", "pump-3"}, {"os", "Debian GNU/Linux"}, {"empty", ""}}));
    EXPECT_EQ("\"say \\\"hi\\\"\\\\\"", fieldValue("say \"hi\"\\"));
    EXPECT_EQ("\"<wdKA>\\x0A</wdKA>\\x0A\"", fieldValue("<wdKA>\n</wdKA>\n"));
}

TEST(Latency, PercentilesExactBelowAMillisecondCloseAbove)
{
    LatencyHistogram histogram;
    EXPECT_EQ(0u, histogram.percentile(50));
    for (std::uint64_t us = 100; us >= 1; --us)
        histogram.add(us);
    EXPECT_EQ(50u, histogram.percentile(50));
    EXPECT_EQ(99u, histogram.percentile(99));
    EXPECT_EQ(100u, histogram.percentile(100));
    EXPECT_EQ(1u, histogram.min());

    LatencyHistogram slow;
    for (std::uint64_t us : {1000000u, 2000000u, 3000000u, 3999999u})
        slow.add(us);
    EXPECT_EQ(1000000u, slow.percentile(1));  // clamped to the smallest value seen
    const std::uint64_t p75 = slow.percentile(75);
    EXPECT_LE(p75, 3000000u);
    EXPECT_GE(p75, 3000000u - 3000000u / 64);
    EXPECT_EQ(3999999u, slow.max());
}

}  // namespace
