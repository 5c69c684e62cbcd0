// The command line of varn-probe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/arguments.h"

namespace kiv::tools {

enum class ProbeCommand { Status, Listen, View };

struct ProbeOptions {
    bool help = false;
    bool version = false;
    ProbeCommand command = ProbeCommand::Status;
    std::uint32_t target = 0;     // status: the workstation
    std::uint16_t port = 0;       // status: its command port; listen: the servers' port
    std::uint32_t bindAddress = 0;  // status: --from; listen: --bind (0: any)
    int inFlight = 1;
    double rate = 0;  // requests per second; 0: each as soon as a slot is free
    int timeoutMs = 1000;
    RunLimit limit;
    bool quiet = false;     // no line per event, only the summary
    bool showText = false;  // the whole text of each datagram as well
    std::string viewSocket;  // view: where the service's view channel is
    bool once = false;       // view: one snapshot, then exit
    bool json = false;       // view: that snapshot as one JSON object
};

// Throws UsageError; `help` or `version` set means print that and nothing
// else was checked.
ProbeOptions parseProbeOptions(const std::vector<std::string>& tokens);

// The options of varn-probe, as its help and manual page list them.
const ProgramOptions& probeProgramOptions();
std::string probeHelp();

}  // namespace kiv::tools
