// The command line of the programs (the dialog program, the windowless
// service and VarnWin32.exe take the same options): who may send
// configuration, who may ask for the status, the bound on status replies,
// and how the reports are spread over time. Portable, no sockets: the
// entries read it before the service opens anything, and the service reads
// the result when it starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/debug_log.h"
#include "base/option_table.h"

namespace kiv {

// Status replies per second to one source address when no --status-rate is
// given. The plant talks to a workstation every 30 s (keep-alives), so even a
// server polling once a second stays far below it, and so does the busiest
// steady poller of our own traffic tests (40 a second from one address).
// 50 a second (a burst of 100) caps the replies to a forged flood at 1,000 a
// second in all, about 141 kB/s.
constexpr unsigned kDefaultStatusRate = 50;
constexpr unsigned kMaxStatusRate = 100000;
// The bound in all is this many times the bound per source.
constexpr unsigned kStatusRateSources = 20;
// --spread takes at most the report period: a report spread further would
// come after the scheduled one.
constexpr unsigned kMaxSpreadSeconds = 600;
// The longest --view-socket a Unix socket address holds (sun_path less its
// terminating zero).
constexpr std::size_t kMaxViewSocketBytes = 107;

// An IPv4 network in host byte order: address & mask == network.
struct Ipv4Network {
    std::uint32_t network = 0;
    std::uint32_t mask = 0;
};

// The sources a kind of message is taken from; an empty list takes it from
// anyone.
class SourceAllowList
{
public:
    SourceAllowList() = default;
    explicit SourceAllowList(std::vector<Ipv4Network> networks) : mNetworks(std::move(networks)) {}

    bool takesEveryone() const { return mNetworks.empty(); }
    // `address` in host byte order. A few integer operations per entry.
    bool allows(std::uint32_t address) const
    {
        for (const Ipv4Network& n : mNetworks) {
            if ((address & n.mask) == n.network)
                return true;
        }
        return mNetworks.empty();
    }
    const std::vector<Ipv4Network>& networks() const { return mNetworks; }
    void add(const Ipv4Network& network) { mNetworks.push_back(network); }
    // "10.1.2.0/24,10.9.9.9/32", or "anyone".
    std::string text() const;

private:
    std::vector<Ipv4Network> mNetworks;
};

struct ServiceOptions {
    SourceAllowList allowConfigFrom;
    SourceAllowList allowStatusFrom;
    unsigned statusRate = kDefaultStatusRate;  // per source and second; 0: no bound
    // 0: the report a configuration makes due goes at the next tick and the
    // schedule counts from the start. W > 0: that report goes at a random
    // tick within W s, and the keep-alive/report schedule starts at a random
    // phase.
    unsigned spreadSeconds = 0;
    LogLevel logLevel = kDefaultLogLevel;
    // Where the view channel is: the service serves it there, the dialog
    // looks for it there. Empty: the default place (the service: the socket
    // its service manager passed, if any).
    std::string viewSocket;
    bool help = false;
    bool version = false;
};

// "a.b.c.d" (one address) or "a.b.c.d/n" with no host bits set.
Ipv4Network parseNetwork(const std::string& option, const std::string& text);

// The arguments after the program name, in the grammar of option_table.h.
// Throws OptionError.
ServiceOptions parseServiceOptions(const std::vector<std::string>& arguments);

// The options of the service (and of the dialogs, which take the same), as
// their help, manual page and settings file list them.
const ProgramOptions& serviceProgramOptions();
std::string serviceOptionsHelp();

// What an entry does with its command line.
struct CommandLineResult {
    bool run = true;   // false: end at once with `status`, showing `text`
    int status = 0;    // 0 after --help or --version, 2 after a wrong command line
    std::string text;  // the help, the version, or the one line that says what is wrong
};

// Reads the arguments; when the program is to run, their options become the
// process-wide ones and the log level is set. `program` names the program
// in the --version line ("varnwin32-service 1.0.0.5").
CommandLineResult takeCommandLine(const std::vector<std::string>& arguments, const std::string& program = "VarnWin32");

// The project's version, "1.0.0.5".
const char* programVersion();

// The options in force as a command line that gives them, for the start-up
// line: "--allow-config-from anyone --allow-status-from 10.1.2.0/24
// --status-rate 50 --spread 0 --log-level info", each option of the table
// (--view-socket only when given).
std::string optionsText(const ServiceOptions& options);

// The options the service starts with: set by the entry before the service
// host is made, read by the service's listeners when they are made.
void setServiceOptions(const ServiceOptions& options);
ServiceOptions serviceOptions();

}  // namespace kiv
