// The tools' command lines: what they accept, and the one-line refusal of
// everything else.
#include <gtest/gtest.h>

#include "tools/beacon/beacon_options.h"
#include "tools/common/arguments.h"
#include "tools/probe/probe_options.h"

namespace {

using namespace kiv::tools;

std::vector<std::string> words(const std::string& line)
{
    std::vector<std::string> tokens;
    std::string::size_type start = 0;
    while (start < line.size()) {
        const std::string::size_type end = line.find(' ', start);
        tokens.push_back(line.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return tokens;
}

template <typename Parse>
std::string usageError(Parse parse, const std::string& line)
{
    try {
        parse(words(line));
    } catch (const UsageError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(Arguments, ValueConversionsAreStrict)
{
    EXPECT_EQ(0x0A010205u, toAddress("--from", "10.1.2.5"));
    EXPECT_EQ(0xFFFFFFFFu, toAddress("--from", "255.255.255.255"));
    // inet_addr would take the first four for other addresses than they look.
    for (const char* text : {"10.1.2", "010.1.2.5", "0x0a.1.2.5", "10.1.2.256", "10.1.2.5 ", "", "pump-3"})
        EXPECT_THROW(toAddress("--from", text), UsageError) << text;
    EXPECT_STREQ("--from: '10.1.2' is not an IPv4 address (a.b.c.d)",
                 usageError([](auto) { toAddress("--from", "10.1.2"); }, "").c_str());
    // Quoted as the service quotes: one line, at most 60 characters, the reason last.
    EXPECT_EQ("--from: '\\n" + std::string(59, 'a') + "...' is not an IPv4 address (a.b.c.d)",
              usageError([](auto) { toAddress("--from", "\n" + std::string(100, 'a')); }, ""));

    EXPECT_EQ(1, toPort("--port", "1"));
    EXPECT_EQ(65535, toPort("--port", "65535"));
    EXPECT_EQ("--port: '0' is not a whole number from 1 to 65535", usageError([](auto) { toPort("--port", "0"); }, ""));
    EXPECT_EQ("--port: '70000' is not a whole number from 1 to 65535",
              usageError([](auto) { toPort("--port", "70000"); }, ""));
    EXPECT_EQ("--port: '5000x' is not a whole number from 1 to 65535",
              usageError([](auto) { toPort("--port", "5000x"); }, ""));
    EXPECT_THROW(toWholeNumber("--count", "99999999999999999999", 1, 10), UsageError);
    EXPECT_THROW(toWholeNumber("--count", "+3", 1, 10), UsageError);

    EXPECT_DOUBLE_EQ(2.5, toDecimal("--rate", "2.5", 0.001, 10));
    for (const char* text : {"nan", "inf", "1e3", "", ".", "2,5"})
        EXPECT_THROW(toDecimal("--rate", text, 0.001, 10000), UsageError) << text;
    EXPECT_EQ("--rate: '0' is not a number from 0.001 to 10",
              usageError([](auto) { toDecimal("--rate", "0", 0.001, 10); }, ""));
}

TEST(Arguments, RunLimitsAreBoundedUnlessForeverIsAsked)
{
    const kiv::ProgramOptions program = {
        "t", {"t"}, {{nullptr, {}, {{"count", "N", false, ""}, {"duration", "S", false, ""}, {"forever", nullptr, false, ""}}}},
        "", "", ""};
    const auto parse = [&](const std::string& line) { return kiv::parseOptions(program, words("t " + line)); };
    const auto sender = [&](const std::string& line) { return senderLimit(parse(line), 10); };
    const auto listener = [&](const std::string& line) { return listenerLimit(parse(line), 60); };
    struct Case {
        RunLimit limit;
        long long count;
        double seconds;
    };
    const Case cases[] = {
        {sender(""), 10, 0},
        {sender("--count 3"), 3, 0},
        {sender("--duration 2.5"), 0, 2.5},
        {sender("--count 3 --duration 2"), 3, 2},
        {sender("--forever"), 0, 0},
        {listener(""), 0, 60},
        {listener("--count 2"), 2, 60},
        {listener("--forever --count 2"), 2, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.count, c.limit.count);
        EXPECT_DOUBLE_EQ(c.seconds, c.limit.seconds);
    }
    EXPECT_THROW(sender("--forever --count 3"), UsageError);
    EXPECT_THROW(listener("--forever --duration 3"), UsageError);
    EXPECT_THROW(sender("--duration 0"), UsageError);
}

TEST(BeaconOptions, AnnounceDefaultsAndSeveralBeacons)
{
    const BeaconOptions one = parseBeaconOptions({"announce"});
    ASSERT_EQ(1u, one.announcements.size());
    EXPECT_TRUE(one.from.empty());
    EXPECT_EQ("beacon", one.announcements[0].name);
    EXPECT_EQ(0u, one.announcements[0].pingTarget);
    EXPECT_EQ(10, one.limit.count);
    EXPECT_DOUBLE_EQ(1.0, one.rate);
    EXPECT_EQ(1, one.ttl);
    EXPECT_FALSE(one.hasInterface);

    const BeaconOptions three = parseBeaconOptions(
        words("announce --from 10.0.0.9 --from 10.0.0.10 --from 10.0.0.11 --name pump --ping-target 10.1.2.1 "
              "--health -1 --interface 10.1.2.5 --ttl 4"));
    ASSERT_EQ(3u, three.announcements.size());
    EXPECT_EQ((std::vector<std::uint32_t>{0x0A000009u, 0x0A00000Au, 0x0A00000Bu}), three.from);
    EXPECT_EQ("pump-3", three.announcements[2].name);
    EXPECT_EQ(0x0A010201u, three.announcements[2].pingTarget);
    EXPECT_EQ(-1, three.announcements[2].pingTargetHealth);
    EXPECT_EQ(0x0A010205u, three.interfaceAddress);
    EXPECT_EQ(4, three.ttl);

    EXPECT_TRUE(parseBeaconOptions({"--help"}).help);
    EXPECT_TRUE(parseBeaconOptions({"listen", "--help"}).help);
    EXPECT_TRUE(parseBeaconOptions({"--version"}).version);
}

TEST(BeaconOptions, CommandsTakeTheirOwnOptions)
{
    const BeaconOptions configure = parseBeaconOptions(
        words("configure --server 10.1.2.1 --server 192.168.7.1 --server-port 5000 --cpu-percent 90 --from 10.0.0.9"));
    EXPECT_EQ((std::vector<std::uint32_t>{0x0A010201u, 0xC0A80701u}), configure.configuration.servers);
    EXPECT_EQ(5000, configure.configuration.serverPort);
    EXPECT_TRUE(configure.configuration.hasCpuPercent);
    EXPECT_FALSE(configure.configuration.hasAlarmSeconds);
    EXPECT_EQ(1, configure.copies);

    const BeaconOptions command = parseBeaconOptions({"ping-target", "10.1.2.3"});
    EXPECT_EQ(0x0A010203u, command.pingTarget);
    EXPECT_EQ(3, command.copies);  // as the workstation sends it

    const BeaconOptions listen = parseBeaconOptions(words("listen --interface 10.1.2.11 --count 3"));
    EXPECT_EQ(3, listen.limit.count);
    EXPECT_DOUBLE_EQ(60, listen.limit.seconds);
}

TEST(BeaconOptions, RefusalsNameTheProblem)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "no command given (announce, configure, ping-target or listen)"},
        {"announce-all", "unknown command 'announce-all' (announce, configure, ping-target or listen)"},
        {"announce --from 10.1.2", "--from: '10.1.2' is not an IPv4 address (a.b.c.d)"},
        {"announce --name a<b", "--name: it may not contain '<' or '>'"},
        {"announce --location beaconCfgAlarm", "--location: it may not contain the element name 'beaconCfgAlarm'"},
        {"announce --name " + std::string(1000, 'n'),
         "--name and --location make an announcement of 1134 bytes; the workstation reads at most 1024"},
        {"announce --ttl 0", "--ttl: '0' is not a whole number from 1 to 255"},
        {"announce --from 10.0.0.9 --from 10.0.0.9", "--from 10.0.0.9 is given twice"},
        {"configure --server-port 5000", "configure needs at least one --server"},
        {"configure --server 10.1.2.1", "configure needs --server-port"},
        {"configure --server 10.1.2.1 --server-port 70000", "--server-port: '70000' is not a whole number from 1 to 65535"},
        {"configure --server 10.1.2.1 --server-port 5000 --cpu-percent 101",
         "--cpu-percent: '101' is not a whole number from 0 to 100"},
        {"configure --server 10.1.2.1 --server-port 5000 --from 10.0.0.9 --from 10.0.0.10", "--from is given twice"},
        {"ping-target", "ping-target needs the address the beacons are to ping"},
        {"ping-target 10.1.2.3 10.1.2.4", "unexpected argument '10.1.2.4' (--help lists the options)"},
        {"listen --server 10.1.2.1", "listen takes no option '--server' (--help lists the options)"},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(expected, usageError(parseBeaconOptions, line)) << line;
}

TEST(ProbeOptions, StatusAndListen)
{
    const ProbeOptions once = parseProbeOptions({"status", "10.1.2.5"});
    EXPECT_EQ(0x0A010205u, once.target);
    EXPECT_EQ(45654, once.port);
    EXPECT_EQ(1, once.limit.count);
    EXPECT_EQ(1, once.inFlight);
    EXPECT_EQ(1000, once.timeoutMs);
    EXPECT_DOUBLE_EQ(0, once.rate);

    const ProbeOptions load =
        parseProbeOptions(words("status 10.1.2.5 --rate 500 --in-flight 16 --duration 60 --timeout 200 --quiet"));
    EXPECT_EQ(0, load.limit.count);
    EXPECT_DOUBLE_EQ(60, load.limit.seconds);
    EXPECT_EQ(16, load.inFlight);
    EXPECT_EQ(200, load.timeoutMs);
    EXPECT_TRUE(load.quiet);

    const ProbeOptions listen = parseProbeOptions(words("listen --port 5000 --bind 10.1.2.1"));
    EXPECT_EQ(ProbeCommand::Listen, listen.command);
    EXPECT_EQ(5000, listen.port);
    EXPECT_EQ(0x0A010201u, listen.bindAddress);

    const std::pair<std::string, std::string> cases[] = {
        {"", "no command given (status, listen or view)"},
        {"status", "status needs the workstation's address"},
        {"status ws7", "address: 'ws7' is not an IPv4 address (a.b.c.d)"},
        {"status 10.1.2.5 --port 0", "--port: '0' is not a whole number from 1 to 65535"},
        {"status 10.1.2.5 --in-flight", "--in-flight needs a value"},
        {"status 10.1.2.5 --in-flight 2000", "--in-flight: '2000' is not a whole number from 1 to 1024"},
        {"status 10.1.2.5 --count 5 --forever", "--forever goes with neither --count nor --duration"},
        {"listen", "listen needs --port, the watchdog servers' port of the configuration"},
        {"listen --port 5000 --rate 3", "listen takes no option '--rate' (--help lists the options)"},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(expected, usageError(parseProbeOptions, line)) << line;
}

}  // namespace
