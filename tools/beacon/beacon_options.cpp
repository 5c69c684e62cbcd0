#include "tools/beacon/beacon_options.h"

namespace kiv::tools {
namespace {

constexpr double kMaxRate = 100000;
constexpr long long kDefaultAnnouncements = 10;
constexpr int kCommandCopies = 3;  // the workstation sends its command thrice
constexpr long long kMaxCopies = 1000;
constexpr long long kMaxHealth = 1000000;
constexpr long long kMaxAlarmSeconds = 86400;
constexpr double kDefaultListenSeconds = 60;

const std::vector<std::string> kSending = {"announce", "configure", "ping-target"};

ProgramOptions makeBeaconProgram()
{
    return {
        "varn-beacon",
        {"announce", "configure", "ping-target", "listen"},
        {
            {"Sending (announce, configure, ping-target)",
             kSending,
             {
                 {"from", "ADDR", true,
                  "local address to send from; announce takes it several times, one beacon per address (default: "
                  "one beacon, address of the system's choice); announce and configure take a workstation slot "
                  "for that address"},
                 {"interface", "ADDR", false,
                  "send out of the interface with this local address (default: the system's route for 224.2.2.224)"},
                 {"ttl", "N", false, "multicast time-to-live, 1 to 255 (default 1: this network only)"},
                 {"quiet", nullptr, false, "print only the summary line"},
             }},
            {"announce",
             {"announce"},
             {
                 {"name", "TEXT", false,
                  "beacon name (default \"beacon\"; several beacons are named TEXT-1, TEXT-2, ...)"},
                 {"location", "TEXT", false, "beacon location (default \"commissioning\")"},
                 {"ping-target", "ADDR", false, "address the beacon says it pings (default 0.0.0.0: none)"},
                 {"health", "N", false, "its verdict on that address: 0 or less bad, 2 or more good (default 2)"},
                 {"rate", "PER_S", false, "announcements per second of each beacon (default 1)"},
                 {"count", "N", false, "announcements of each beacon (default 10)"},
                 {"duration", "S", false, "announce for S seconds instead"},
                 {"forever", nullptr, false, "announce until Ctrl+C"},
             }},
            {"configure",
             {"configure"},
             {
                 {"server", "ADDR", true,
                  "a watchdog server; repeat it for several (the workstation uses the first five)"},
                 {"server-port", "PORT", false, "the servers' UDP port (required)"},
                 {"cpu-percent", "P", false,
                  "CPU alarm threshold in percent, 0 to 100 (default: not sent, kept as it is)"},
                 {"alarm-seconds", "S", false, "seconds at or above the threshold before the alarm (default: not sent)"},
             }},
            {"configure, ping-target",
             {"configure", "ping-target"},
             {
                 {"copies", "N", false,
                  "identical datagrams sent back to back (default: configure 1, ping-target 3)"},
             }},
            {"listen",
             {"listen"},
             {
                 {"interface", "ADDR", false,
                  "join the group on the interface with this local address (default: the system's choice)"},
                 {"count", "N", false, "stop after N datagrams"},
                 {"duration", "S", false, "stop after S seconds (default 60)"},
                 {"forever", nullptr, false, "no time limit; stop with Ctrl+C"},
             }},
        },
        "",
        R"(varn-beacon: plays the beacons of the plant network (group 224.2.2.224, UDP port 34543)
to commission a VarnWin32 workstation, and listens to the group as a beacon does.

Usage:
  varn-beacon announce [--from ADDR]... [--name TEXT] [--location TEXT] [--ping-target ADDR]
                       [--health N] [--rate PER_S] [--count N | --duration S | --forever]
  varn-beacon configure [--from ADDR] --server ADDR [--server ADDR]... --server-port PORT
                       [--cpu-percent P] [--alarm-seconds S] [--copies N]
  varn-beacon ping-target ADDR [--copies N]
  varn-beacon listen [--interface ADDR] [--count N] [--duration S | --forever]
  varn-beacon --version

Commands:
  announce     send announcements as a beacon does. The first announcement of a new
               sender binds it to a free slot of the workstation (three slots, first
               come first served); later ones refresh its ping target and health.
  configure    send a beacon configuration: the watchdog servers, their port and the
               CPU alarm settings. The workstation pairs each of its addresses with
               every server on the same /24 network and reports to each pair's server
               within a second.
               Like an announcement, a configuration from a new sender takes one of
               the three slots until the program restarts: send it --from the address
               of a plant beacon, or restart the program after a trial, so that no
               real beacon is left without a slot.
  ping-target  send the command the workstation sends when the operator sets the ping
               target: <setPingTarget>ADDR</setPingTarget>.
  listen       print what arrives on the beacon group, as the workstation reads it:
               commands, configurations, announcements. This is what a beacon hears.

)",
        R"(
Output: one line per datagram, "sent KIND ..." or "HH:MM:SS.mmm KIND ...", then one
"summary ..." line; the fields are key=value. Exit status: 0 done; 1 a socket or send
failed, or listen --count heard fewer datagrams; 2 the command line is wrong.

Examples:
  varn-beacon announce --from 10.1.2.11 --name "pump 3" --location "hall 2" --ping-target 10.1.2.1
  varn-beacon announce --from 10.1.2.11 --from 10.1.2.12 --from 10.1.2.13 --rate 2 --duration 30
  varn-beacon configure --from 10.1.2.11 --server 10.1.2.1 --server 192.168.7.1 --server-port 5000 --cpu-percent 90 --alarm-seconds 10
  varn-beacon ping-target 10.1.2.3
  varn-beacon listen --interface 10.1.2.11 --duration 120
)",
    };
}

// The table has refused any other word.
BeaconCommand commandNamed(const std::string& word)
{
    if (word == "announce")
        return BeaconCommand::Announce;
    if (word == "configure")
        return BeaconCommand::Configure;
    if (word == "ping-target")
        return BeaconCommand::PingTarget;
    return BeaconCommand::Listen;
}

// Each address once: two beacons on one address are one sender to the
// workstation, and a server named twice would get every message twice.
std::vector<std::uint32_t> distinctAddresses(const std::string& option, const std::vector<std::string>& texts)
{
    std::vector<std::uint32_t> addresses;
    for (const std::string& text : texts) {
        const std::uint32_t address = toAddress(option, text);
        for (std::uint32_t earlier : addresses) {
            if (earlier == address)
                throw UsageError(option + " " + text + " is given twice");
        }
        addresses.push_back(address);
    }
    return addresses;
}

std::string checkedText(const std::string& option, const std::string& value)
{
    const std::string problem = announcementValueProblem(value);
    if (!problem.empty())
        throw UsageError(option + ": " + problem);
    return value;
}

void readAnnouncements(const ParsedArguments& arguments, BeaconOptions& options)
{
    options.from = distinctAddresses("--from", arguments.values("from"));
    Announcement base;
    base.name = checkedText("--name", arguments.value("name", "beacon"));
    base.location = checkedText("--location", arguments.value("location", "commissioning"));
    if (arguments.has("ping-target"))
        base.pingTarget = toAddress("--ping-target", arguments.value("ping-target"));
    base.pingTargetHealth = arguments.has("health")
                                ? static_cast<int>(toWholeNumber("--health", arguments.value("health"), -kMaxHealth, kMaxHealth))
                                : 2;
    const std::size_t beacons = options.from.empty() ? 1 : options.from.size();
    for (std::size_t i = 0; i < beacons; ++i) {
        Announcement announcement = base;
        if (beacons > 1)
            announcement.name += "-" + std::to_string(i + 1);
        const std::size_t size = announcementText(announcement).size();
        if (size > kBeaconDatagramLimit)
            throw UsageError("--name and --location make an announcement of " + std::to_string(size) +
                             " bytes; the workstation reads at most " + std::to_string(kBeaconDatagramLimit));
        options.announcements.push_back(announcement);
    }
    if (arguments.has("rate"))
        options.rate = toDecimal("--rate", arguments.value("rate"), 0.001, kMaxRate);
    options.limit = senderLimit(arguments, kDefaultAnnouncements);
}

void readConfiguration(const ParsedArguments& arguments, BeaconOptions& options)
{
    Configuration& configuration = options.configuration;
    configuration.servers = distinctAddresses("--server", arguments.values("server"));
    if (configuration.servers.empty())
        throw UsageError("configure needs at least one --server");
    if (!arguments.has("server-port"))
        throw UsageError("configure needs --server-port");
    configuration.serverPort = toPort("--server-port", arguments.value("server-port"));
    configuration.hasCpuPercent = arguments.has("cpu-percent");
    if (configuration.hasCpuPercent)
        configuration.cpuPercent = static_cast<int>(toWholeNumber("--cpu-percent", arguments.value("cpu-percent"), 0, 100));
    configuration.hasAlarmSeconds = arguments.has("alarm-seconds");
    if (configuration.hasAlarmSeconds)
        configuration.alarmSeconds =
            static_cast<int>(toWholeNumber("--alarm-seconds", arguments.value("alarm-seconds"), 0, kMaxAlarmSeconds));
    const std::size_t size = configurationText(configuration).size();
    if (size > kBeaconDatagramLimit)
        throw UsageError("the configuration would be " + std::to_string(size) + " bytes; the workstation reads at most " +
                         std::to_string(kBeaconDatagramLimit));
}

}  // namespace

BeaconOptions parseBeaconOptions(const std::vector<std::string>& tokens)
{
    BeaconOptions options;
    const ParsedArguments arguments = parseOptions(beaconProgramOptions(), tokens);
    if (arguments.help || arguments.version) {
        options.help = arguments.help;
        options.version = arguments.version;
        return options;
    }
    options.command = commandNamed(arguments.command);
    const std::size_t positionals = options.command == BeaconCommand::PingTarget ? 1 : 0;
    if (arguments.positional.size() < positionals)
        throw UsageError("ping-target needs the address the beacons are to ping");
    if (arguments.positional.size() > positionals)
        throw unexpectedArgument(arguments.positional[positionals]);
    // Only announce makes a beacon per address.
    if (options.command != BeaconCommand::Announce && arguments.values("from").size() > 1)
        throw UsageError("--from is given twice");

    if (arguments.has("interface")) {
        options.hasInterface = true;
        options.interfaceAddress = toAddress("--interface", arguments.value("interface"));
    }
    if (arguments.has("ttl"))
        options.ttl = static_cast<int>(toWholeNumber("--ttl", arguments.value("ttl"), 1, 255));
    options.quiet = arguments.has("quiet");

    switch (options.command) {
    case BeaconCommand::Announce:
        readAnnouncements(arguments, options);
        break;
    case BeaconCommand::Configure:
        if (arguments.has("from"))
            options.from.push_back(toAddress("--from", arguments.value("from")));
        readConfiguration(arguments, options);
        options.copies = static_cast<int>(toWholeNumber("--copies", arguments.value("copies", "1"), 1, kMaxCopies));
        break;
    case BeaconCommand::PingTarget:
        if (arguments.has("from"))
            options.from.push_back(toAddress("--from", arguments.value("from")));
        options.pingTarget = toAddress("ping-target", arguments.positional[0]);
        options.copies = static_cast<int>(
            toWholeNumber("--copies", arguments.value("copies", std::to_string(kCommandCopies)), 1, kMaxCopies));
        break;
    case BeaconCommand::Listen:
        options.limit = listenerLimit(arguments, kDefaultListenSeconds);
        break;
    }
    return options;
}

const ProgramOptions& beaconProgramOptions()
{
    static const ProgramOptions program = makeBeaconProgram();
    return program;
}

std::string beaconHelp()
{
    return helpText(beaconProgramOptions());
}


}  // namespace kiv::tools
