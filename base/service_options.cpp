#include "base/service_options.h"

#include <mutex>

#include "base/option_table.h"

namespace kiv {
namespace {

std::mutex gOptionsMutex;
ServiceOptions gOptions;

bool isDigits(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// A decimal number without sign or leading zeros, at most `max`; -1 when it
// is not one.
long long wholeNumber(const std::string& text, long long max)
{
    if (!isDigits(text) || (text.size() > 1 && text[0] == '0') || text.size() > 12)
        return -1;
    const long long value = std::stoll(text);
    return value <= max ? value : -1;
}

std::string addressText(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::uint32_t maskOf(int prefix)
{
    return prefix == 0 ? 0u : ~std::uint32_t{0} << (32 - prefix);
}

// Adds the comma-separated networks of `text` to `list`.
void addList(SourceAllowList& list, const std::string& option, const std::string& text)
{
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type comma = text.find(',', start);
        list.add(parseNetwork(option, text.substr(start, comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
}

}  // namespace

std::string SourceAllowList::text() const
{
    if (mNetworks.empty())
        return "anyone";
    std::string text;
    for (const Ipv4Network& n : mNetworks) {
        if (!text.empty())
            text += ",";
        int prefix = 0;
        while (prefix < 32 && (n.mask & (0x80000000u >> prefix)) != 0)
            ++prefix;
        text += addressText(n.network) + "/" + std::to_string(prefix);
    }
    return text;
}

Ipv4Network parseNetwork(const std::string& option, const std::string& text)
{
    const std::string what = option + ": " + quotedValue(text) + " is not an address (a.b.c.d) or a network (a.b.c.d/n)";
    const std::string::size_type slash = text.find('/');
    const std::string address = text.substr(0, slash);
    std::uint32_t value = 0;
    int parts = 0;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type dot = address.find('.', start);
        const long long part = wholeNumber(address.substr(start, dot - start), 255);
        if (part < 0 || ++parts > 4)
            throw OptionError(what);
        value = value << 8 | static_cast<std::uint32_t>(part);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (parts != 4)
        throw OptionError(what);
    int prefix = 32;
    if (slash != std::string::npos) {
        const long long bits = wholeNumber(text.substr(slash + 1), 32);
        if (bits < 0)
            throw OptionError(what);
        prefix = static_cast<int>(bits);
    }
    const std::uint32_t mask = maskOf(prefix);
    if ((value & mask) != value)
        throw OptionError(option + ": " + quotedValue(text) + " has host bits set; the network is " +
                          addressText(value & mask) + "/" + std::to_string(prefix));
    return {value, mask};
}

namespace {

// A whole number from 0 to `max`.
unsigned wholeOption(const std::string& name, const std::string& value, long long max)
{
    const long long number = wholeNumber(value, max);
    if (number < 0)
        throw OptionError("--" + name + ": " + quotedValue(value) + " is not a whole number from 0 to " + std::to_string(max));
    return static_cast<unsigned>(number);
}

// One option of the service: how it is described, how its value is taken,
// and how it shows in the start-up line.
struct ServiceOption {
    OptionRule rule;
    void (*take)(ServiceOptions& options, const std::string& value);
    // The option as a command line gives it, for the start-up line; empty
    // when it is left out there (a view socket not given is the default).
    std::string (*inForce)(const ServiceOptions& options);
};

const ServiceOption kServiceOptions[] = {
    {{"allow-config-from", "CIDR[,CIDR...]", true,
      "Take configuration messages on the beacon group 224.2.2.224:34543 only from these sources; others are "
      "ignored and logged once a minute per source. \"BEACON_CFG_ALARM \" on UDP 45654 (only logged: it "
      "configures nothing) is taken from them alone too. Default: from anyone."},
     [](ServiceOptions& options, const std::string& value) {
         addList(options.allowConfigFrom, "--allow-config-from", value);
     },
     [](const ServiceOptions& options) { return "--allow-config-from " + options.allowConfigFrom.text(); }},
    {{"allow-status-from", "CIDR[,CIDR...]", true,
      "Answer \"STATUS_REQUEST \" on UDP 45654 only from these sources. Default: anyone."},
     [](ServiceOptions& options, const std::string& value) {
         addList(options.allowStatusFrom, "--allow-status-from", value);
     },
     [](const ServiceOptions& options) { return "--allow-status-from " + options.allowStatusFrom.text(); }},
    {{"status-rate", "N", false,
      "At most N status replies a second to one source address (bursts of 2N), and 20N a second in all; "
      "requests over the bound are dropped and counted once a minute. 0 switches the bound off. Default: 50."},
     [](ServiceOptions& options, const std::string& value) {
         options.statusRate = wholeOption("status-rate", value, kMaxStatusRate);
     },
     [](const ServiceOptions& options) { return "--status-rate " + std::to_string(options.statusRate); }},
    {{"spread", "SECONDS", false,
      "For a watchdog server that many stations report to: the status report a configuration from the beacon "
      "group makes due goes out at a random moment within SECONDS instead of at the next second, and keep-alives "
      "(every 30 s) and reports (every 600 s) start at a random point of their period. Set it when stations "
      "times pairs are more than the server reads in half a second; the plant's confirmation of a configuration "
      "then takes up to SECONDS. 0 to 600. Default: 0 (off)."},
     [](ServiceOptions& options, const std::string& value) {
         options.spreadSeconds = wholeOption("spread", value, kMaxSpreadSeconds);
     },
     [](const ServiceOptions& options) { return "--spread " + std::to_string(options.spreadSeconds); }},
    {{"log-level", "debug|info|warning|error", false,
      "The least level of the log lines written. debug: every line (each datagram, tick and send: a busy "
      "station writes thousands a second); info: start-up with the version and the options in force, stop, "
      "configurations applied, address changes, the once-a-minute counts; warning: what was refused or "
      "failed; error: what stops the program. Default: info."},
     [](ServiceOptions& options, const std::string& value) {
         if (!parseLogLevel(value, options.logLevel))
             throw OptionError("--log-level: " + quotedValue(value) + " is not debug, info, warning or error");
     },
     [](const ServiceOptions& options) { return std::string("--log-level ") + logLevelName(options.logLevel); }},
    {{"view-socket", "PATH", false,
      "The view channel's socket, where dialogs and varn-probe view attach to the service. The service makes "
      "the socket at PATH and serves it there: the directory is made when missing, a socket left by an earlier "
      "run is replaced, and the socket is removed when the service stops. Without the option the service "
      "serves the socket systemd passes (the unit varnwin32-view.socket: /run/varnwin32/view, mode 0660, "
      "group varnwin32), none outside systemd, and the dialog looks for /run/varnwin32/view. Leave it unset "
      "under systemd."},
     [](ServiceOptions& options, const std::string& value) {
         if (value.empty())
             throw OptionError("--view-socket: '' is not a path");
         if (value.size() > kMaxViewSocketBytes)
             throw OptionError("--view-socket: " + quotedValue(value) + " is longer than a socket path may be (" +
                               std::to_string(kMaxViewSocketBytes) + " bytes)");
         options.viewSocket = value;
     },
     [](const ServiceOptions& options) {
         return options.viewSocket.empty() ? std::string() : "--view-socket " + options.viewSocket;
     }},
};

ProgramOptions makeServiceProgram()
{
    OptionGroup group{nullptr, {}, {}};
    for (const ServiceOption& option : kServiceOptions)
        group.options.push_back(option.rule);
    return {"varnwin32-service",
            {},
            {group},
            "A CIDR is one address (10.1.2.1) or a network with its host bits zero (10.1.2.0/24). The allow "
            "options may be repeated; their lists add up. Each option may also be written --name=value.",
            "Usage: varnwin32 [OPTION]...  (the same for varnwin32-service and VarnWin32.exe)\n"
            "Watchdog client for plant workstations; everything else arrives on the network.\n"
            "\n",
            "\n"
            "A wrong command line ends the program with status 2 before it opens any\n"
            "socket. Refused and dropped counts are logged once a minute.\n"
            "\n"
            "Example: varnwin32 --allow-config-from 10.1.2.0/24 --allow-status-from 10.1.2.1,192.168.7.1\n"};
}

}  // namespace

const ProgramOptions& serviceProgramOptions()
{
    static const ProgramOptions program = makeServiceProgram();
    return program;
}

ServiceOptions parseServiceOptions(const std::vector<std::string>& arguments)
{
    const ParsedOptions parsed = parseOptions(serviceProgramOptions(), arguments);
    ServiceOptions options;
    options.help = parsed.help;
    options.version = parsed.version;
    for (const ParsedOptions::Entry& entry : parsed.entries) {
        for (const ServiceOption& option : kServiceOptions) {
            if (entry.name == option.rule.name)
                option.take(options, entry.value);
        }
    }
    return options;
}

std::string serviceOptionsHelp()
{
    return helpText(serviceProgramOptions());
}

CommandLineResult takeCommandLine(const std::vector<std::string>& arguments, const std::string& program)
{
    CommandLineResult result;
    try {
        const ServiceOptions options = parseServiceOptions(arguments);
        if (options.help) {
            result.run = false;
            result.text = serviceOptionsHelp();
            return result;
        }
        if (options.version) {
            result.run = false;
            result.text = program + " " + programVersion() + "\n";
            return result;
        }
        setServiceOptions(options);
        setLogLevel(options.logLevel);
    } catch (const OptionError& error) {
        result.run = false;
        result.status = 2;
        result.text = std::string("VarnWin32: ") + error.what() + "\n";
    }
    return result;
}

const char* programVersion()
{
    return VARN_VERSION;
}

std::string optionsText(const ServiceOptions& options)
{
    std::string text;
    for (const ServiceOption& option : kServiceOptions) {
        const std::string shown = option.inForce(options);
        if (!shown.empty())
            text += (text.empty() ? "" : " ") + shown;
    }
    return text;
}

void setServiceOptions(const ServiceOptions& options)
{
    std::lock_guard<std::mutex> lock(gOptionsMutex);
    gOptions = options;
}

ServiceOptions serviceOptions()
{
    std::lock_guard<std::mutex> lock(gOptionsMutex);
    return gOptions;
}

}  // namespace kiv
