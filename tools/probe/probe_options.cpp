#include "tools/probe/probe_options.h"

#include "net/view_endpoint.h"
#include "service/kiv_server.h"

namespace kiv::tools {
namespace {

constexpr long long kMaxInFlight = 1024;
constexpr double kMaxRate = 1000000;
constexpr long long kMaxTimeoutMs = 60000;
constexpr double kDefaultListenSeconds = 60;

ProgramOptions makeProbeProgram()
{
    return {
        "varn-probe",
        {"status", "listen", "view"},
        {
            {"status",
             {"status"},
             {
                 {"port", "PORT", false, "the workstation's command port (default 45654)"},
                 {"from", "ADDR", false, "local address to send from (default: the system's choice)"},
                 {"count", "N", false, "requests (default 1)"},
                 {"duration", "S", false, "send for S seconds instead"},
                 {"forever", nullptr, false, "send until Ctrl+C"},
                 {"rate", "PER_S", false, "requests per second in all (default: each as soon as a reply is in)"},
                 {"in-flight", "K", false, "requests awaiting their reply at once, 1 to 1024 (default 1)"},
                 {"timeout", "MS", false, "a request without reply after MS milliseconds is lost (default 1000)"},
                 {"quiet", nullptr, false, "print only the summary"},
                 {"text", nullptr, false, "print the whole reply text as well"},
             }},
            {"listen",
             {"listen"},
             {
                 {"port", "PORT", false, "the port of the configuration's servers (required)"},
                 {"bind", "ADDR", false, "listen on this local address only (default: all)"},
                 {"count", "N", false, "stop after N datagrams"},
                 {"duration", "S", false, "stop after S seconds (default 60)"},
                 {"forever", nullptr, false, "no time limit; stop with Ctrl+C"},
                 {"quiet", nullptr, false, "print only the summary"},
                 {"text", nullptr, false, "print the whole text of each message as well"},
             }},
            {"view",
             {"view"},
             {
                 {"view-socket", "PATH", false, "the service's view socket (default /run/varnwin32/view)"},
                 {"once", nullptr, false, "print one snapshot and exit (waits up to 5 s for the service)"},
                 {"json", nullptr, false, "print that snapshot as one JSON object (implies --once)"},
             }},
        },
        "",
        R"(varn-probe: asks a VarnWin32 workstation for its status, plays a watchdog server
that prints the workstation's keep-alives, reports and CPU alarms, and shows the live
state of the VarnWin32 service on this station.

Usage:
  varn-probe status ADDR [--port PORT] [--from ADDR] [--count N | --duration S | --forever]
                    [--rate PER_S] [--in-flight K] [--timeout MS] [--quiet] [--text]
  varn-probe listen --port PORT [--bind ADDR] [--count N] [--duration S | --forever]
                    [--quiet] [--text]
  varn-probe view [--view-socket PATH] [--once] [--json]
  varn-probe --version

Commands:
  status   send "STATUS_REQUEST " to the workstation at ADDR and print each reply with
           its round-trip time, then a summary. Each request in flight has a socket
           of its own, so every reply is matched to its request.
  listen   receive on PORT as a watchdog server does and print every keep-alive
           (every 30 s), status report (right after a configuration, then every
           600 s) and CPU alarm, with the sender, the arrival time and the time since
           the previous one of its kind from that sender.
  view     attach to the service's view channel, as the dialog does, and print the
           three beacon slots with their state words, the ping targets, CPU, host
           name, the address in common, and each event item as it comes. While the
           service is away it prints "The VarnWin32 service is not running; waiting
           for it" and carries on by itself when the service is back.

)",
        R"(
Output: one line per event, then one line "summary ..."; fields are key=value, times
in microseconds (_us) or seconds (_s). For status:
  reply seq=1 from=10.1.2.5:45654 rtt_us=212 ipAddr=10.1.2.5 ipPort=45654 cpuPercent=3 os="..."
  summary target=10.1.2.5:45654 sent=1 replies=1 lost=0 refused=0 duration_s=0.000 rate=... p50_us=212 p99_us=212 ...
"lost" counts requests without reply in time, "refused" those the workstation's host
turned away (nothing listens on the port). Exit status: 0 at least one reply, or
listen heard what --count asked for; 1 no reply at all, or fewer datagrams than
--count; 2 the command line is wrong.

For view, one line per slot and one for the station, again when they change:
  slot slot=1 state=current address=10.1.2.11 name=press-4 location=hall count=12
       missedTicks=0 pingTarget=10.1.2.3 health=2 pingState=good
  station cpu=3 host=ws-17 inCommon=10.1.2.5 os="..."
  event text="..."
A slot's state is current (heard within two ticks), late (two missed), lost (three
or more) or none (no beacon); pingState good (health 2 or more), bad (0 or less,
or no ping target) or, at health 1, as it was. view runs until Ctrl+C or SIGTERM
(exit 0); it exits 1 when this user may not view the service or the service refuses
it, and with --once also when no service answers within 5 s.

Examples:
  varn-probe status 10.1.2.5
  varn-probe status 10.1.2.5 --count 10000 --in-flight 8 --quiet
  varn-probe status 10.1.2.5 --rate 500 --in-flight 16 --duration 60 --quiet
  varn-probe listen --port 5000 --duration 120
  varn-probe listen --port 5000 --bind 10.1.2.1 --count 1 --text
  varn-probe view
  varn-probe view --json | python3 -m json.tool
)",
    };
}

}  // namespace

ProbeOptions parseProbeOptions(const std::vector<std::string>& tokens)
{
    ProbeOptions options;
    const ParsedArguments arguments = parseOptions(probeProgramOptions(), tokens);
    if (arguments.help || arguments.version) {
        options.help = arguments.help;
        options.version = arguments.version;
        return options;
    }
    if (arguments.command == "status")
        options.command = ProbeCommand::Status;
    else if (arguments.command == "listen")
        options.command = ProbeCommand::Listen;
    else
        options.command = ProbeCommand::View;

    options.quiet = arguments.has("quiet");
    options.showText = arguments.has("text");

    if (options.command == ProbeCommand::View) {
        if (!arguments.positional.empty())
            throw unexpectedArgument(arguments.positional[0]);
        options.viewSocket = arguments.value("view-socket", view::defaultAddress());
        if (options.viewSocket.empty())
            throw UsageError("--view-socket needs a path");
        options.json = arguments.has("json");
        options.once = arguments.has("once") || options.json;
        return options;
    }

    if (options.command == ProbeCommand::Listen) {
        if (!arguments.positional.empty())
            throw unexpectedArgument(arguments.positional[0]);
        if (!arguments.has("port"))
            throw UsageError("listen needs --port, the watchdog servers' port of the configuration");
        options.port = toPort("--port", arguments.value("port"));
        if (arguments.has("bind"))
            options.bindAddress = toAddress("--bind", arguments.value("bind"));
        options.limit = listenerLimit(arguments, kDefaultListenSeconds);
        return options;
    }

    if (arguments.positional.empty())
        throw UsageError("status needs the workstation's address");
    if (arguments.positional.size() > 1)
        throw unexpectedArgument(arguments.positional[1]);
    options.target = toAddress("address", arguments.positional[0]);
    options.port = arguments.has("port") ? toPort("--port", arguments.value("port")) : kCommandPort;
    if (arguments.has("from"))
        options.bindAddress = toAddress("--from", arguments.value("from"));
    if (arguments.has("in-flight"))
        options.inFlight = static_cast<int>(toWholeNumber("--in-flight", arguments.value("in-flight"), 1, kMaxInFlight));
    if (arguments.has("rate"))
        options.rate = toDecimal("--rate", arguments.value("rate"), 0.001, kMaxRate);
    if (arguments.has("timeout"))
        options.timeoutMs = static_cast<int>(toWholeNumber("--timeout", arguments.value("timeout"), 1, kMaxTimeoutMs));
    options.limit = senderLimit(arguments, 1);
    return options;
}

const ProgramOptions& probeProgramOptions()
{
    static const ProgramOptions program = makeProbeProgram();
    return program;
}

std::string probeHelp()
{
    return helpText(probeProgramOptions());
}


}  // namespace kiv::tools
