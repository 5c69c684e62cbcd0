// The command-line options of the programs: both forms, repeated lists, every
// refusal naming its option, --log-level and --version.

#include "base/service_options.h"

#include <gtest/gtest.h>

namespace {

using kiv::OptionError;
using kiv::parseServiceOptions;
using kiv::ServiceOptions;

std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(ServiceOptions, NoOptionsTakeEveryoneWithTheDefaultBound)
{
    const ServiceOptions options = parseServiceOptions({});
    EXPECT_TRUE(options.allowConfigFrom.takesEveryone());
    EXPECT_TRUE(options.allowStatusFrom.takesEveryone());
    EXPECT_TRUE(options.allowStatusFrom.allows(ip(203, 0, 113, 9)));
    EXPECT_EQ(kiv::kDefaultStatusRate, options.statusRate);
    EXPECT_EQ(0u, options.spreadSeconds);
    EXPECT_FALSE(options.help);
}

TEST(ServiceOptions, BothFormsAndRepeatedListsAddUp)
{
    const ServiceOptions options =
        parseServiceOptions({"--allow-config-from", "10.1.2.0/24,192.168.7.1", "--allow-config-from=10.9.0.0/16",
                             "--allow-status-from=0.0.0.0/0", "--status-rate", "0", "--help"});
    EXPECT_EQ("10.1.2.0/24,192.168.7.1/32,10.9.0.0/16", options.allowConfigFrom.text());
    EXPECT_TRUE(options.allowConfigFrom.allows(ip(10, 1, 2, 255)));
    EXPECT_TRUE(options.allowConfigFrom.allows(ip(192, 168, 7, 1)));
    EXPECT_TRUE(options.allowConfigFrom.allows(ip(10, 9, 200, 1)));
    EXPECT_FALSE(options.allowConfigFrom.allows(ip(10, 1, 3, 0)));
    EXPECT_FALSE(options.allowConfigFrom.allows(ip(192, 168, 7, 2)));
    EXPECT_TRUE(options.allowStatusFrom.allows(ip(255, 255, 255, 255)));
    EXPECT_EQ(0u, options.statusRate);
    EXPECT_TRUE(options.help);
    EXPECT_EQ(100000u, parseServiceOptions({"--status-rate=100000"}).statusRate);
    EXPECT_EQ(30u, parseServiceOptions({"--spread", "30"}).spreadSeconds);
    EXPECT_EQ(600u, parseServiceOptions({"--spread=600"}).spreadSeconds);
    EXPECT_EQ("/tmp/v/view", parseServiceOptions({"--view-socket", "/tmp/v/view"}).viewSocket);
    // Each option given once counts once, whatever else is given with it.
    const ServiceOptions once =
        parseServiceOptions({"--status-rate=5", "--spread=30", "--log-level=warning", "--view-socket=/v"});
    EXPECT_EQ(5u, once.statusRate);
    EXPECT_EQ(30u, once.spreadSeconds);
    EXPECT_EQ(kiv::LogLevel::warning, once.logLevel);
    EXPECT_EQ("/v", once.viewSocket);
    // The start-up line shows every option of the table, a view socket when given.
    EXPECT_EQ("--allow-config-from anyone --allow-status-from anyone --status-rate 5 --spread 30 --log-level warning "
              "--view-socket /v",
              kiv::optionsText(once));
}

TEST(ServiceOptions, WrongCommandLinesAreRefusedNamingTheOption)
{
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus' (--help lists the options)"},
        {{"-h"}, "unexpected argument '-h' (--help lists the options)"},
        {{"10.1.2.1"}, "unexpected argument '10.1.2.1' (--help lists the options)"},
        {{"--status-rate"}, "--status-rate needs a value"},
        {{"--allow-status-from", "--status-rate", "5"}, "--allow-status-from needs a value"},
        {{"--help=yes"}, "--help takes no value"},
        {{"--status-rate", "-1"}, "--status-rate: '-1' is not a whole number from 0 to 100000"},
        {{"--status-rate", "100001"}, "--status-rate: '100001' is not a whole number from 0 to 100000"},
        {{"--status-rate", "1.5"}, "--status-rate: '1.5' is not a whole number from 0 to 100000"},
        {{"--status-rate=010"}, "--status-rate: '010' is not a whole number from 0 to 100000"},
        {{"--status-rate=5", "--status-rate=6"}, "--status-rate is given twice"},
        {{"--spread"}, "--spread needs a value"},
        {{"--spread", "601"}, "--spread: '601' is not a whole number from 0 to 600"},
        {{"--spread=-1"}, "--spread: '-1' is not a whole number from 0 to 600"},
        {{"--spread", "30s"}, "--spread: '30s' is not a whole number from 0 to 600"},
        {{"--spread=0", "--spread=30"}, "--spread is given twice"},
        {{"--log-level=debug", "--log-level", "info"}, "--log-level is given twice"},
        {{"--view-socket"}, "--view-socket needs a value"},
        {{"--view-socket="}, "--view-socket: '' is not a path"},
        {{"--view-socket=/a", "--view-socket=/b"}, "--view-socket is given twice"},
        {{"--view-socket", "/" + std::string(107, 'v')},
         "--view-socket: '/" + std::string(59, 'v') + "...' is longer than a socket path may be (107 bytes)"},
        {{"--allow-config-from="}, "--allow-config-from: '' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-config-from", "10.1.2.0/24,"},
         "--allow-config-from: '' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "10.1.2"},
         "--allow-status-from: '10.1.2' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "10.1.2.256"},
         "--allow-status-from: '10.1.2.256' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "10.1.2.1.5"},
         "--allow-status-from: '10.1.2.1.5' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "010.1.2.1"},
         "--allow-status-from: '010.1.2.1' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "10.1.2.0/33"},
         "--allow-status-from: '10.1.2.0/33' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "10.1.2.0/"},
         "--allow-status-from: '10.1.2.0/' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "host.example"},
         "--allow-status-from: 'host.example' is not an address (a.b.c.d) or a network (a.b.c.d/n)"},
        {{"--allow-status-from", "10.1.2.5/24"},
         "--allow-status-from: '10.1.2.5/24' has host bits set; the network is 10.1.2.0/24"},
    };
    for (const auto& c : cases) {
        try {
            parseServiceOptions(c.arguments);
            ADD_FAILURE() << "taken: " << ::testing::PrintToString(c.arguments);
        } catch (const OptionError& error) {
            EXPECT_EQ(c.message, error.what()) << ::testing::PrintToString(c.arguments);
        }
    }
}

TEST(ServiceOptions, CommandLineEndsTheProgramOrSetsTheOptions)
{
    kiv::CommandLineResult result = kiv::takeCommandLine({"--status-rate", "x"});
    EXPECT_FALSE(result.run);
    EXPECT_EQ(2, result.status);
    EXPECT_EQ("VarnWin32: --status-rate: 'x' is not a whole number from 0 to 100000\n", result.text);

    result = kiv::takeCommandLine({"--help"});
    EXPECT_FALSE(result.run);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(kiv::serviceOptionsHelp(), result.text);
    for (const char* option : {"--allow-config-from", "--allow-status-from", "--status-rate", "Default: 50.", "--spread SECONDS"})
        EXPECT_NE(std::string::npos, result.text.find(option)) << option;

    result = kiv::takeCommandLine({"--allow-status-from", "10.1.2.1", "--status-rate", "7"});
    EXPECT_TRUE(result.run);
    EXPECT_EQ("10.1.2.1/32", kiv::serviceOptions().allowStatusFrom.text());
    EXPECT_EQ(7u, kiv::serviceOptions().statusRate);
    kiv::setServiceOptions(ServiceOptions());
    kiv::setLogLevel(kiv::LogLevel::debug);  // taking the command line set the level
}

TEST(ServiceOptions, LogLevelIsSetAndVersionAnswered)
{
    kiv::CommandLineResult result = kiv::takeCommandLine({"--version"}, "varnwin32-service");
    EXPECT_FALSE(result.run);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(std::string("varnwin32-service ") + kiv::programVersion() + "\n", result.text);

    result = kiv::takeCommandLine({"--log-level", "loud"});
    EXPECT_EQ(2, result.status);
    EXPECT_EQ("VarnWin32: --log-level: 'loud' is not debug, info, warning or error\n", result.text);
    // A value with a line feed, or a long one, still gives one line with its reason.
    const kiv::CommandLineResult split = kiv::takeCommandLine({"--log-level", "lo\nud" + std::string(5000, 'x')});
    EXPECT_EQ("VarnWin32: --log-level: 'lo\\nud" + std::string(55, 'x') +
                  "...' is not debug, info, warning or error\n",
              split.text);

    EXPECT_TRUE(kiv::takeCommandLine({}).run);
    EXPECT_EQ(kiv::LogLevel::info, kiv::logLevel());
    EXPECT_TRUE(kiv::takeCommandLine({"--log-level=warning"}).run);
    EXPECT_EQ(kiv::LogLevel::warning, kiv::logLevel());
    EXPECT_EQ("--allow-config-from anyone --allow-status-from anyone --status-rate 50 --spread 0 --log-level warning",
              kiv::optionsText(kiv::serviceOptions()));
    kiv::setServiceOptions(ServiceOptions());
    kiv::setLogLevel(kiv::LogLevel::debug);
}

}  // namespace
