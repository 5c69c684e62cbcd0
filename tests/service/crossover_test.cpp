// The crossover: which local interfaces pair with which servers of a
// configuration, the five-pair limit, and what refuses or skips a
// configuration or an entry (the pairs in force kept).

#include <algorithm>

#include <gtest/gtest.h>

#include "service/kiv_server.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"
#include "support/log_capture.h"

namespace {

using kiv::KivServer;
using kiv::test::FakeCpu;
using kiv::test::FakeHostNetwork;
using kiv::test::KivServerProbe;
using kiv::test::LogCapture;

std::string config(const std::vector<std::string>& servers, const std::string& rest = "")
{
    std::string text = "<beaconCfgAlarm>";
    for (const std::string& s : servers)
        text += "<srvIpAddr>" + s + "</srvIpAddr>";
    return text + rest + "</beaconCfgAlarm>";
}

std::string endpointText(const boost::asio::ip::udp::endpoint& e)
{
    return e.address().to_string() + ":" + std::to_string(e.port());
}

// The crossover only reads the address list; the sockets bound at start are
// not its business, so these tests run the server with made-up addresses.
class CrossOver : public ::testing::Test
{
protected:
    void start(std::vector<std::string> locals)
    {
        host = std::make_unique<FakeHostNetwork>(std::move(locals));
        server = std::make_unique<KivServer>();
        probe = std::make_unique<KivServerProbe>(*server);
        log.clear();
    }
    LogCapture log;
    FakeCpu cpu;
    std::unique_ptr<FakeHostNetwork> host;
    std::unique_ptr<KivServer> server;
    std::unique_ptr<KivServerProbe> probe;
};

TEST_F(CrossOver, OnePairOnTheCommonNetwork)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({"192.168.7.1"}, "<srvIpPort>5000</srvIpPort>"
                                                    "<cpuPercent>90</cpuPercent>"
                                                    "<alarmSeconds>10</alarmSeconds>"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("192.168.7.20:5000", endpointText(probe->localEndpoint(0)));
    EXPECT_EQ("192.168.7.1:5000", endpointText(probe->serverEndpoint(0)));
    EXPECT_EQ("192.168.7.20", server->localIpInCommonText());
    EXPECT_EQ(90, probe->alarmPercent());
    EXPECT_EQ(10, probe->alarmSeconds());
    EXPECT_TRUE(probe->crossOverSet());
    EXPECT_EQ("plant-ws7", server->hostNameText());

    const std::vector<std::string> expected = {
        "==>  KivServer::setCrossOver\n",
        "Host name is [plant-ws7]\n",
        "Address [10.1.2.5]\n",
        "Address [192.168.7.20]\n",
        "Add to Local list [10.1.2.5]\n",
        "Add to Local list [192.168.7.20]\n",
        "Add to Server list [192.168.7.1]\n",
        "TEST [10.1.2.5][167838208] ? [3232237312][192.168.7.1]\n",
        "TEST [192.168.7.20][3232237312] ? [3232237312][192.168.7.1]\n",
        "FOUND A COMMON NETWORK [1] [0]\n",
        "SETTING COMMON NETWORK [192.168.7.20] [192.168.7.1]\n",
        "mRemotePort=[5000]  mAlarmPercent=[90]  mAlarmSeconds=[10]\n",
        "<==  KivServer::setCrossOver\n",
    };
    EXPECT_EQ(expected, log.lines());
}

TEST_F(CrossOver, TwoLocalsOnOneServerNetwork)
{
    start({"10.1.2.5", "10.1.2.6"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    ASSERT_EQ(2, probe->numLinks());
    EXPECT_EQ("10.1.2.5,  10.1.2.6", server->localIpInCommonText());
    EXPECT_EQ("10.1.2.6:5000", endpointText(probe->localEndpoint(1)));
    EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(1)));
}

TEST_F(CrossOver, OneLocalTwoServersGivesTwoPairs)
{
    start({"10.1.2.5"});
    KivServer::setCrossOver(config({"10.1.2.1", "10.1.2.2"}, "<srvIpPort>5000</srvIpPort>"));
    ASSERT_EQ(2, probe->numLinks());
    EXPECT_EQ("10.1.2.5,  10.1.2.5", server->localIpInCommonText());
    EXPECT_EQ("10.1.2.2:5000", endpointText(probe->serverEndpoint(1)));
    EXPECT_TRUE(log.contains("FOUND A COMMON NETWORK [0] [1]\n"));
}

TEST_F(CrossOver, NoMatchKeepsThePortAndClearsThePairs)
{
    start({"10.1.2.5"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    ASSERT_EQ(1, probe->numLinks());
    KivServer::setCrossOver(config({"10.1.3.1"}, "<srvIpPort>6000</srvIpPort>"));
    EXPECT_EQ(0, probe->numLinks());
    EXPECT_EQ("", server->localIpInCommonText());
    EXPECT_EQ(5000, probe->remotePort());
    EXPECT_TRUE(probe->crossOverSet());
}

TEST_F(CrossOver, SecondCallReplacesTheFirstCallsPairs)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    KivServer::setCrossOver(config({"192.168.7.1"}, "<srvIpPort>5001</srvIpPort>"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("192.168.7.1:5001", endpointText(probe->serverEndpoint(0)));
    EXPECT_EQ("192.168.7.20", server->localIpInCommonText());
}

TEST_F(CrossOver, EveryEntryIsMatchedAndADuplicatePairsOnce)
{
    // Our server sixth and listed twice; our address sixth as well.
    start({"10.9.1.5", "10.9.2.5", "10.9.3.5", "10.9.4.5", "10.9.5.5", "10.1.2.5"});
    KivServer::setCrossOver(config({"10.8.0.1", "10.8.0.2", "10.8.0.3", "10.8.0.4", "10.8.0.5",
                                    "10.1.2.1", "10.1.2.1"},
                                   "<srvIpPort>5000</srvIpPort>"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("10.1.2.5:5000", endpointText(probe->localEndpoint(0)));
    EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0)));
    EXPECT_EQ("10.1.2.5", server->localIpInCommonText());
}

TEST_F(CrossOver, AddressesNoServerHasAreSkippedAndAloneChangeNoPair)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    log.clear();
    KivServer::setCrossOver(config({"0.0.0.0", "255.255.255.255", "10.1.2.255", "224.2.2.224", "127.0.0.1"},
                                   "<srvIpPort>6000</srvIpPort>"));
    EXPECT_EQ(1, log.count("*** SKIPPED server entry [10.1.2.255]: not an address a server can have\n"));
    EXPECT_EQ(1, log.count("*** REFUSED configuration: none of the [5] server entries is usable, "
                           "the pairs in place stay\n"));
    EXPECT_EQ(0, log.count("*** ERROR   getNetOctsInt   (IpAddr == 0)\r\n"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0)));
}

TEST_F(CrossOver, MoreThanFivePairsKeepTheFirstFive)
{
    start({"10.1.2.5", "10.1.2.6"});
    KivServer::setCrossOver(config({"10.1.2.1", "10.1.2.2", "10.1.2.3"}, "<srvIpPort>5000</srvIpPort>"));
    ASSERT_EQ(5, probe->numLinks());
    EXPECT_EQ("10.1.2.5:5000", endpointText(probe->localEndpoint(0)));
    EXPECT_EQ("10.1.2.6:5000", endpointText(probe->localEndpoint(4)));
    EXPECT_EQ("10.1.2.2:5000", endpointText(probe->serverEndpoint(4)));
    EXPECT_EQ(1, log.count("*** TOO MANY PAIRS, [5] KEPT, LEFT OUT: [10.1.2.6] [10.1.2.3]\n"));
    EXPECT_EQ("10.1.2.5,  10.1.2.5,  10.1.2.5,  10.1.2.6,  10.1.2.6", server->localIpInCommonText());
    // The trace keeps the scan's order: each pair's line right behind its match.
    const std::vector<std::string> lines = log.lines();
    int settings = 0;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        if (lines[n].rfind("SETTING COMMON NETWORK", 0) != 0)
            continue;
        ++settings;
        EXPECT_EQ(0u, lines[n - 1].rfind("FOUND A COMMON NETWORK", 0)) << lines[n];
    }
    EXPECT_EQ(5, settings);
}

TEST_F(CrossOver, MissingAlarmSettingsKeepTheOnesInForce)
{
    start({"10.1.2.5"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<cpuPercent>85</cpuPercent><alarmSeconds>7</alarmSeconds>"));
    KivServer::setCrossOver(config({"10.1.2.1"}));
    EXPECT_EQ(85, probe->alarmPercent());
    EXPECT_EQ(7, probe->alarmSeconds());
    EXPECT_TRUE(log.contains("mRemotePort=[0]  mAlarmPercent=[85]  mAlarmSeconds=[7]\n"));
    KivServer::setCrossOver(config({}, "<alarmSeconds>0</alarmSeconds>"));
    EXPECT_EQ(85, probe->alarmPercent());
    EXPECT_EQ(0, probe->alarmSeconds());
}

TEST_F(CrossOver, AnEntryThatCannotBeStoredIsSkippedAlone)
{
    start({"10.1.2.5", "192.168.7.20"});
    // inet_addr reads the hex form (10.1.2.1), the address parser does not.
    KivServer::setCrossOver(config({"0x0a010201", "192.168.7.1"},
                                   "<srvIpPort>5000</srvIpPort><cpuPercent>50</cpuPercent>"));
    EXPECT_EQ(1, log.count("*** SKIPPED server entry [0x0a010201]: not a dotted address\n"));
    EXPECT_FALSE(log.contains("*** EXCEPTION"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("192.168.7.1:5000", endpointText(probe->serverEndpoint(0)));
    EXPECT_TRUE(probe->crossOverSet());
    EXPECT_EQ(50, probe->alarmPercent());
}

TEST_F(CrossOver, APortOutsideTheRangeIsRefusedAndThePairsStay)
{
    start({"10.1.2.5"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    for (const char* port : {"70000", "0", "-1", "99999999999"}) {
        log.clear();
        KivServer::setCrossOver(config({"10.1.2.9"}, std::string("<srvIpPort>") + port + "</srvIpPort>"));
        EXPECT_EQ(1, log.count(std::string("*** REFUSED srvIpPort [") + port +
                               "]: not a port from 1 to 65535, the pairs in place stay\n"));
        ASSERT_EQ(1, probe->numLinks()) << port;
        EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0))) << port;
        EXPECT_EQ(5000, probe->remotePort());
    }
}

TEST_F(CrossOver, UnusableEntriesAreNamedAndAloneChangeNoPair)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({" 10.1.2.1\t\r\n"}, "<srvIpPort> 5000 </srvIpPort>"));
    ASSERT_EQ(1, probe->numLinks());  // blanks around a value are not part of it
    EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0)));

    log.clear();
    KivServer::setCrossOver(config({"wd-one", "10.1.2.01"}, "<srvIpPort>6000</srvIpPort>"));
    EXPECT_EQ(1, log.count("*** SKIPPED server entry [wd-one]: not a dotted address\n"));
    EXPECT_EQ(1, log.count("*** SKIPPED server entry [10.1.2.01]: not a dotted address\n"));
    EXPECT_EQ(1, log.count("*** REFUSED configuration: none of the [2] server entries is usable, "
                           "the pairs in place stay\n"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0)));
}

// Naming no server at all is the plant's word that there is none: unlike a
// list of unusable entries, it is applied and drops the pairs.
TEST_F(CrossOver, NoServerEntryAtAllIsAppliedAndDropsThePairs)
{
    start({"10.1.2.5"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    log.clear();
    KivServer::setCrossOver(config({}, "<srvIpPort>5000</srvIpPort>"));
    EXPECT_EQ(0, probe->numLinks());
    EXPECT_FALSE(log.contains("*** REFUSED configuration: none of the [0] server entries is usable, "
                              "the pairs in place stay\n"));
}

TEST_F(CrossOver, AConfigurationWithoutItsPortChangesNoPair)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    for (const char* rest : {"", "<srvIpPort></srvIpPort>", "<srvIpPort>50x0</srvIpPort>"}) {
        log.clear();
        KivServer::setCrossOver(config({"192.168.7.1"}, rest));
        const std::vector<std::string> lines = log.lines();
        EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.rfind("*** REFUSED ", 0) == 0; }))
            << rest;
        ASSERT_EQ(1, probe->numLinks()) << rest;
        EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0))) << rest;
    }
}

TEST_F(CrossOver, AConfigurationCutByTheChannelChangesNoPairAndSaysSo)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    // Thirty servers: the port comes after the 1,024 bytes the channel reads.
    std::vector<std::string> servers(30, "192.168.7.1");
    const std::string text = config(servers, "<srvIpPort>6000</srvIpPort>");
    ASSERT_GT(text.size(), 1024u);
    log.clear();
    const boost::asio::ip::udp::endpoint beacon(boost::asio::ip::make_address("10.0.0.9"), 34543);
    server->multicast().handleDatagram(text.data(), text.size(), beacon);
    EXPECT_EQ(1, log.count("*** REFUSED configuration: no srvIpPort in the [1024] bytes read (the rest was cut), "
                           "the pairs in place stay\n"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0)));
}

TEST_F(CrossOver, AValueCutOffBeforeItsClosingTagIsNotUsed)
{
    start({"10.1.2.5"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    // 50001 cut to 5000 is another port.
    log.clear();
    KivServer::setCrossOver("<beaconCfgAlarm><srvIpAddr>10.1.2.7</srvIpAddr><srvIpPort>5000");
    EXPECT_EQ(1, log.count("*** REFUSED srvIpPort [5000]: cut off before its closing tag, the pairs in place stay\n"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("10.1.2.1:5000", endpointText(probe->serverEndpoint(0)));
    // 10.1.2.123 cut to 10.1.2.1 names another host.
    log.clear();
    KivServer::setCrossOver("<beaconCfgAlarm><srvIpPort>6000</srvIpPort><srvIpAddr>10.1.2.7</srvIpAddr>"
                            "<srvIpAddr>10.1.2.1");
    EXPECT_EQ(1, log.count("*** SKIPPED server entry [10.1.2.1]: cut off before its closing tag\n"));
    ASSERT_EQ(1, probe->numLinks());
    EXPECT_EQ("10.1.2.7:6000", endpointText(probe->serverEndpoint(0)));
}

TEST_F(CrossOver, JunkAlarmSettingsAreRefusedAndTheOnesInForceStay)
{
    start({"10.1.2.5"});
    const std::string port = "<srvIpPort>5000</srvIpPort>";
    KivServer::setCrossOver(config({"10.1.2.1"}, port + "<cpuPercent>101</cpuPercent><alarmSeconds>10</alarmSeconds>"));
    for (const std::string junk : {"", "junk", "-5", "99999999999", "5 0", "100000"}) {
        KivServer::setCrossOver(config({"10.1.2.1"}, port + "<cpuPercent>" + junk + "</cpuPercent><alarmSeconds>" +
                                                         junk + "</alarmSeconds>"));
        EXPECT_EQ(101, probe->alarmPercent()) << junk;
        EXPECT_EQ(10, probe->alarmSeconds()) << junk;
    }
    EXPECT_EQ(1, log.count("*** REFUSED cpuPercent [junk]: not a whole number from 0 to 101, [101] stays in force\n"));
    KivServer::setCrossOver(config({"10.1.2.1"}, port + "<cpuPercent>102</cpuPercent><alarmSeconds>86400"));
    EXPECT_EQ(101, probe->alarmPercent());
    EXPECT_EQ(10, probe->alarmSeconds());
}

TEST_F(CrossOver, EveryReachableServerGetsAPairBeforeAnyGetsASecond)
{
    std::vector<std::string> locals;
    for (int i = 10; i < 70; ++i)
        locals.push_back("10.1.2." + std::to_string(i));
    locals.push_back("192.168.7.20");
    start(locals);
    KivServer::setCrossOver(config({"10.1.2.1", "192.168.7.1"}, "<srvIpPort>5000</srvIpPort>"));
    ASSERT_EQ(5, probe->numLinks());
    EXPECT_EQ("192.168.7.20:5000", endpointText(probe->localEndpoint(4)));
    EXPECT_EQ("192.168.7.1:5000", endpointText(probe->serverEndpoint(4)));
    EXPECT_EQ("10.1.2.13:5000", endpointText(probe->localEndpoint(3)));
}

TEST_F(CrossOver, TheSettingsOfARefusedConfigurationOutliveAnAddressChange)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort><cpuPercent>90</cpuPercent>"));
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>0</srvIpPort><cpuPercent>50</cpuPercent>"));
    host->setAddresses({"10.1.2.5", "10.1.2.6", "192.168.7.20"});
    probe->refreshLocalNetwork();
    EXPECT_EQ(2, probe->numLinks());
    EXPECT_EQ(50, probe->alarmPercent());
}

TEST_F(CrossOver, OnlyPairsThatAreNewOweAReport)
{
    start({"10.1.2.5", "192.168.7.20"});
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    server->onPeriodic();  // the report of the first pair
    ASSERT_FALSE(probe->reportPending(0));
    KivServer::setCrossOver(config({"10.1.2.1", "192.168.7.1"}, "<srvIpPort>5000</srvIpPort>"));
    ASSERT_EQ(2, probe->numLinks());
    EXPECT_FALSE(probe->reportPending(0));  // the same configuration again: no report
    EXPECT_TRUE(probe->reportPending(1));   // the server added
    log.clear();
    server->onPeriodic();
    EXPECT_EQ(0, log.count("sendData for watchdog [0] \n"));
    EXPECT_EQ(1, log.count("sendData for watchdog [1] \n"));
}

TEST_F(CrossOver, InterfaceListXml)
{
    start({"10.1.2.5", "192.168.7.20"});
    std::string work = "old";
    EXPECT_EQ("<localIpInterfaces><ipAddr>10.1.2.5</ipAddr><ipAddr>192.168.7.20</ipAddr>"
              "</localIpInterfaces>",
              server->getIpAddressesXml(work));
    EXPECT_EQ(2, KivServer::getNumIpAddresses());
}

TEST(CrossOverHost, InterfaceListWhenTheHostNameFails)
{
    LogCapture log;
    FakeCpu cpu;
    FakeHostNetwork host({"10.1.2.5"}, "ws", /*nameFails=*/true);
    KivServer server;
    std::string work;
    EXPECT_EQ("<localIpInterfaces></localIpInterfaces>", server.getIpAddressesXml(work));
    EXPECT_EQ(0, KivServer::getNumIpAddresses());
}

}  // namespace

namespace {

// At the default level a configuration is one line that says what changed,
// a repeat of it none, and its refusals are warnings.
TEST_F(CrossOver, AtTheDefaultLevelOneLineSaysWhatChanged)
{
    start({"10.1.2.5", "192.168.7.20"});
    kiv::setLogLevel(kiv::kDefaultLogLevel);
    const std::string both = config({"192.168.7.1", "10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"
                                                                "<cpuPercent>90</cpuPercent>"
                                                                "<alarmSeconds>10</alarmSeconds>");
    KivServer::setCrossOver(both);
    const std::string made = "Configuration applied: pairs made [10.1.2.5 > 10.1.2.1:5000] [192.168.7.20 > "
                             "192.168.7.1:5000], kept none, dropped none; port 5000, CPU alarm at 90 % for 10 s\n";
    EXPECT_EQ(std::vector<std::string>{made}, log.lines());
    EXPECT_EQ(kiv::LogLevel::info, log.levelOf(made));

    log.clear();
    KivServer::setCrossOver(both);
    // The same fault again and again is its first line, and its end one.
    for (int i = 0; i < 3; ++i)
        KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>70000</srvIpPort>"));
    const std::string refused = "*** REFUSED srvIpPort [70000]: not a port from 1 to 65535, the pairs in place stay\n";
    EXPECT_EQ(std::vector<std::string>{refused}, log.lines());
    EXPECT_EQ(kiv::LogLevel::warning, log.levelOf(refused));

    log.clear();
    KivServer::setCrossOver(config({"10.1.2.1"}, "<srvIpPort>5000</srvIpPort>"));
    EXPECT_EQ((std::vector<std::string>{"Configuration from [0.0.0.0] without faults again, after [3] with them\n",
                                        "Configuration applied: pairs made none, kept [10.1.2.5 > 10.1.2.1:5000], "
                                        "dropped [192.168.7.20 > 192.168.7.1:5000]; port 5000, CPU alarm at 90 % "
                                        "for 10 s\n"}),
              log.lines());
    kiv::setLogLevel(kiv::LogLevel::debug);
}

// Each sender's faults have their rule: another beacon's fault is news.
TEST_F(CrossOver, AtTheDefaultLevelARepeatedFaultIsWrittenOncePerSender)
{
    start({"10.1.2.5", "10.1.2.6"});
    kiv::setLogLevel(kiv::kDefaultLogLevel);
    const std::string tooMany = config({"10.1.2.1", "10.1.2.2", "10.1.2.3"}, "<srvIpPort>5000</srvIpPort>");
    for (const std::uint32_t sender : {0x0a01020bu, 0x0a01020bu, 0x0a01020cu, 0x0a01020bu})
        probe->configure(sender, tooMany);
    kiv::setLogLevel(kiv::LogLevel::debug);
    EXPECT_EQ(2, log.count("*** TOO MANY PAIRS, [5] KEPT, LEFT OUT: [10.1.2.6] [10.1.2.3]\n"));
}

}  // namespace
