// The command line of varn-beacon.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/arguments.h"
#include "tools/common/wire_text.h"

namespace kiv::tools {

enum class BeaconCommand { Announce, Configure, PingTarget, Listen };

struct BeaconOptions {
    bool help = false;
    bool version = false;
    BeaconCommand command = BeaconCommand::Announce;

    // Sending: one beacon per --from address (none: one beacon, the system
    // picks the address), the group's outgoing interface and TTL.
    std::vector<std::uint32_t> from;
    bool hasInterface = false;
    std::uint32_t interfaceAddress = 0;  // also the interface listen joins on
    int ttl = 1;
    bool quiet = false;

    // announce: every beacon's text (one per --from, or one), its rate and
    // how long it goes on.
    std::vector<Announcement> announcements;
    double rate = 1.0;
    RunLimit limit;

    // configure and ping-target: the datagram and its back-to-back copies.
    Configuration configuration;
    std::uint32_t pingTarget = 0;
    int copies = 1;
};

// Throws UsageError for anything it cannot use; `help` or `version` set
// means print that and nothing else was checked.
BeaconOptions parseBeaconOptions(const std::vector<std::string>& tokens);

// The options of varn-beacon, as its help and manual page list them.
const ProgramOptions& beaconProgramOptions();
std::string beaconHelp();

}  // namespace kiv::tools
