// The datagram texts the tools send and read: built from the same address
// helpers and element reader as the program, and from the fixed texts of the
// beacons and watchdog servers where a tool plays one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::tools {

constexpr const char* kStatusRequest = "STATUS_REQUEST ";
// The program reads at most this much of a beacon datagram, and drops
// datagrams of kShortDatagram bytes or fewer unread.
constexpr std::size_t kBeaconDatagramLimit = 1024;
constexpr std::size_t kShortDatagram = 10;

// ---- beacon side -----------------------------------------------------------

struct Announcement {
    std::string name;
    std::string location;
    std::uint32_t pingTarget = 0;  // 0: none
    int pingTargetHealth = 0;
};

struct Configuration {
    std::vector<std::uint32_t> servers;
    std::uint16_t serverPort = 0;
    bool hasCpuPercent = false;
    int cpuPercent = 0;
    bool hasAlarmSeconds = false;
    int alarmSeconds = 0;
};

std::string announcementText(const Announcement& announcement);
std::string configurationText(const Configuration& configuration);
std::string pingTargetCommandText(std::uint32_t address);

// Empty when `value` can stand as the name or location of an announcement;
// otherwise why not. The program finds each element by the first occurrence
// of its bare name and ends a value at the first "</", so a value may hold
// neither angle brackets nor the names of the elements that follow it, and
// nothing that turns the datagram into a configuration or a command.
std::string announcementValueProblem(const std::string& value);

// What the program makes of a datagram on the beacon group, in its order of
// precedence: a ping-target command, a configuration (which also counts as
// an announcement of its sender), an announcement, or too short to be read.
enum class GroupKind { Command, Configuration, Announcement, Short };

struct GroupMessage {
    GroupKind kind = GroupKind::Short;
    // "key=value" fields for a printed line, in a fixed order.
    std::vector<std::pair<std::string, std::string>> fields;
};

GroupMessage readGroupMessage(const std::string& datagram);
const char* groupKindName(GroupKind kind);

// ---- watchdog server side ---------------------------------------------------

enum class WatchdogKind { KeepAlive, Report, Alarm, Other };

struct WatchdogMessage {
    WatchdogKind kind = WatchdogKind::Other;
    std::string ipAddr;                   // the pair's local address (keep-alive, report)
    std::vector<std::string> interfaces;  // the workstation's addresses (report, alarm)
    std::string cpuUsage;
    std::string hostName;
};

WatchdogMessage readWatchdogMessage(const std::string& datagram);
const char* watchdogKindName(WatchdogKind kind);

// ---- status requester side --------------------------------------------------

struct StatusReply {
    bool valid = false;  // the text is a "<status>" block
    std::string ipAddr;
    std::string ipPort;
    std::string cpuPercent;
    std::string os;
};

StatusReply readStatusReply(const std::string& datagram);

}  // namespace kiv::tools
