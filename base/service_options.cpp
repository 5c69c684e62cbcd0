#include "base/service_options.h"

#include <mutex>

namespace kiv {
namespace {

const char* const kHelpHint = " (--help lists the options)";

std::mutex gOptionsMutex;
ServiceOptions gOptions;

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

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
    const std::string what = option + ": " + quoted(text) + " is not an address (a.b.c.d) or a network (a.b.c.d/n)";
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
        throw OptionError(option + ": " + quoted(text) + " has host bits set; the network is " +
                          addressText(value & mask) + "/" + std::to_string(prefix));
    return {value, mask};
}

ServiceOptions parseServiceOptions(const std::vector<std::string>& arguments)
{
    ServiceOptions options;
    bool rateGiven = false;
    bool spreadGiven = false;
    bool levelGiven = false;
    bool viewSocketGiven = false;
    // A whole number from 0 to `max`, given at most once.
    auto wholeOption = [](const std::string& name, const std::string& value, long long max, bool& given) {
        if (given)
            throw OptionError(name + " is given twice");
        given = true;
        const long long number = wholeNumber(value, max);
        if (number < 0)
            throw OptionError(name + ": " + quoted(value) + " is not a whole number from 0 to " + std::to_string(max));
        return static_cast<unsigned>(number);
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument.compare(0, 2, "--") != 0)
            throw OptionError("unexpected argument " + quoted(argument) + kHelpHint);
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        const std::string::size_type equals = argument.find('=');
        if (equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        if (name == "--help" || name == "--version") {
            if (hasValue)
                throw OptionError(name + " takes no value");
            (name == "--help" ? options.help : options.version) = true;
            continue;
        }
        if (name != "--allow-config-from" && name != "--allow-status-from" && name != "--status-rate" &&
            name != "--spread" && name != "--log-level" && name != "--view-socket")
            throw OptionError("unknown option " + quoted(name) + kHelpHint);
        if (!hasValue) {
            if (i + 1 >= arguments.size() || arguments[i + 1].compare(0, 2, "--") == 0)
                throw OptionError(name + " needs a value");
            value = arguments[++i];
        }
        if (name == "--status-rate") {
            options.statusRate = wholeOption(name, value, kMaxStatusRate, rateGiven);
            continue;
        }
        if (name == "--spread") {
            options.spreadSeconds = wholeOption(name, value, kMaxSpreadSeconds, spreadGiven);
            continue;
        }
        if (name == "--log-level") {
            if (levelGiven)
                throw OptionError("--log-level is given twice");
            levelGiven = true;
            if (!parseLogLevel(value, options.logLevel))
                throw OptionError("--log-level: " + quoted(value) + " is not debug, info, warning or error");
            continue;
        }
        if (name == "--view-socket") {
            if (viewSocketGiven)
                throw OptionError("--view-socket is given twice");
            viewSocketGiven = true;
            if (value.empty())
                throw OptionError("--view-socket: '' is not a path");
            if (value.size() > kMaxViewSocketBytes)
                throw OptionError("--view-socket: " + quoted(value) + " is longer than a socket path may be (" +
                                  std::to_string(kMaxViewSocketBytes) + " bytes)");
            options.viewSocket = value;
            continue;
        }
        addList(name == "--allow-config-from" ? options.allowConfigFrom : options.allowStatusFrom, name, value);
    }
    return options;
}

const char* const kServiceOptionsHelp =
    "Usage: varnwin32 [OPTION]...  (the same for varnwin32-service and VarnWin32.exe)\n"
    "Watchdog client for plant workstations; everything else arrives on the network.\n"
    "\n"
    "  --allow-config-from CIDR[,CIDR...]\n"
    "        take configuration messages on the beacon group 224.2.2.224:34543 only\n"
    "        from these sources; others are ignored and logged once a minute per\n"
    "        source (\"BEACON_CFG_ALARM \" on UDP 45654 is only logged: it configures\n"
    "        nothing). Default: from anyone.\n"
    "  --allow-status-from CIDR[,CIDR...]\n"
    "        answer status requests on UDP 45654 only from these sources.\n"
    "        Default: anyone.\n"
    "  --status-rate N\n"
    "        at most N status replies a second to one source address (bursts of\n"
    "        2N), and 20*N a second in all; requests over the bound are dropped\n"
    "        and counted. 0 switches the bound off. Default: 50.\n"
    "  --spread SECONDS\n"
    "        for a watchdog server that many stations report to: the status report\n"
    "        a configuration from the beacon group makes due goes out at a random\n"
    "        moment within SECONDS instead of at the next second, and keep-alives\n"
    "        (every 30 s) and reports (every 600 s) start at a random point of\n"
    "        their period. 0 to 600. Default: 0 (off).\n"
    "  --log-level debug|info|warning|error\n"
    "        the least level of the log lines written. debug: every line (each\n"
    "        datagram, tick and send); info: start-up, stop, configurations applied,\n"
    "        address changes, the once-a-minute counts; warning: what was\n"
    "        refused or failed; error: what stops the program. Default: info.\n"
    "  --view-socket PATH\n"
    "        the view channel's socket, where dialogs and varn-probe view attach to\n"
    "        the service. The service makes and serves it there itself; without\n"
    "        the option it serves the socket systemd passes (varnwin32-view.socket)\n"
    "        and the dialog looks for /run/varnwin32/view.\n"
    "  --help\n"
    "        this text.\n"
    "  --version\n"
    "        the program's name and version.\n"
    "\n"
    "CIDR is an address (10.1.2.1) or a network (10.1.2.0/24, host bits zero).\n"
    "The allow options may be repeated; their lists add up. \"--name=value\" works\n"
    "too. A wrong command line ends the program with status 2 before it opens\n"
    "any socket. Refused and dropped counts are logged once a minute.\n"
    "\n"
    "Example: varnwin32 --allow-config-from 10.1.2.0/24 --allow-status-from 10.1.2.1,192.168.7.1\n";

CommandLineResult takeCommandLine(const std::vector<std::string>& arguments, const std::string& program)
{
    CommandLineResult result;
    try {
        const ServiceOptions options = parseServiceOptions(arguments);
        if (options.help) {
            result.run = false;
            result.text = kServiceOptionsHelp;
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
    return "--allow-config-from " + options.allowConfigFrom.text() + " --allow-status-from " +
           options.allowStatusFrom.text() + " --status-rate " + std::to_string(options.statusRate) +
           " --log-level " + logLevelName(options.logLevel);
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
