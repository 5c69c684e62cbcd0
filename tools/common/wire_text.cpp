#include "tools/common/wire_text.h"

#include <cctype>

#include "base/text_helpers.h"

namespace kiv::tools {
namespace {

constexpr std::size_t kConfiguredServersUsed = 5;

// The names the program looks for after the name and location of an
// announcement, and the word that makes any datagram a configuration.
const char* const kReservedWords[] = {"location", "pingTarget", "beaconCfgAlarm"};

std::string trimmed(const std::string& text)
{
    std::string::size_type begin = 0;
    std::string::size_type end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The value between "<name>" and the next "</name>" at or after `from`;
// `from` moves past the closing tag. Empty, and `from` set to npos, when the
// element is not there. The watchdog's own messages are read this way: they
// are whole elements, and a bare-name search could stop inside a value.
std::string elementAt(const std::string& text, const std::string& name, std::string::size_type& from)
{
    const std::string open = "<" + name + ">";
    const std::string close = "</" + name + ">";
    const std::string::size_type start = text.find(open, from);
    if (start == std::string::npos) {
        from = std::string::npos;
        return std::string();
    }
    const std::string::size_type valueStart = start + open.size();
    const std::string::size_type end = text.find(close, valueStart);
    if (end == std::string::npos) {
        from = std::string::npos;
        return text.substr(valueStart);
    }
    from = end + close.size();
    return text.substr(valueStart, end - valueStart);
}

std::string element(const std::string& text, const std::string& name)
{
    std::string::size_type from = 0;
    return trimmed(elementAt(text, name, from));
}

std::vector<std::string> elements(const std::string& text, const std::string& name)
{
    std::vector<std::string> values;
    std::string::size_type from = 0;
    while (from < text.size()) {
        std::string value = trimmed(elementAt(text, name, from));
        if (from == std::string::npos && value.empty())
            break;
        values.push_back(std::move(value));
    }
    return values;
}

std::string joined(const std::vector<std::string>& values)
{
    std::string text;
    for (const std::string& value : values)
        text += (text.empty() ? "" : ",") + value;
    return text;
}

}  // namespace

std::string announcementText(const Announcement& announcement)
{
    return "<beacon><name>" + announcement.name + "</name><location>" + announcement.location +
           "</location><pingTarget>" + getIpAddrString(announcement.pingTarget) +
           "</pingTarget><pingTargetHealth>" + std::to_string(announcement.pingTargetHealth) +
           "</pingTargetHealth></beacon>";
}

std::string configurationText(const Configuration& configuration)
{
    std::string text = "<beaconCfgAlarm>";
    for (std::uint32_t server : configuration.servers)
        text += "<srvIpAddr>" + getIpAddrString(server) + "</srvIpAddr>";
    text += "<srvIpPort>" + std::to_string(configuration.serverPort) + "</srvIpPort>";
    if (configuration.hasCpuPercent)
        text += "<cpuPercent>" + std::to_string(configuration.cpuPercent) + "</cpuPercent>";
    if (configuration.hasAlarmSeconds)
        text += "<alarmSeconds>" + std::to_string(configuration.alarmSeconds) + "</alarmSeconds>";
    return text + "</beaconCfgAlarm>";
}

std::string pingTargetCommandText(std::uint32_t address)
{
    return "<setPingTarget>" + getIpAddrString(address) + "</setPingTarget>";
}

std::string announcementValueProblem(const std::string& value)
{
    if (value.find_first_of("<>") != std::string::npos)
        return "it may not contain '<' or '>'";
    for (const char* word : kReservedWords) {
        if (value.find(word) != std::string::npos)
            return std::string("it may not contain the element name '") + word + "'";
    }
    return std::string();
}

GroupMessage readGroupMessage(const std::string& datagram)
{
    GroupMessage message;
    if (datagram.size() <= kShortDatagram) {
        message.kind = GroupKind::Short;
        message.fields.emplace_back("bytes", std::to_string(datagram.size()));
        return message;
    }
    // From here on the program's own tests and element reader, so that what
    // is printed is what the program takes from the datagram.
    if (datagram.find("</setPingTarget>") != std::string::npos) {
        message.kind = GroupKind::Command;
        message.fields.emplace_back("pingTarget", getXmlValue("setPingTarget", datagram));
        return message;
    }
    if (datagram.find("beaconCfgAlarm") != std::string::npos) {
        message.kind = GroupKind::Configuration;
        std::vector<std::string> servers = elements(datagram, "srvIpAddr");
        const std::size_t extra = servers.size() > kConfiguredServersUsed ? servers.size() - kConfiguredServersUsed : 0;
        servers.resize(servers.size() - extra);
        message.fields.emplace_back("servers", joined(servers));
        if (extra > 0)
            message.fields.emplace_back("ignored_servers", std::to_string(extra));
        message.fields.emplace_back("port", std::to_string(getXmlValueInt("srvIpPort", datagram)));
        if (datagram.find("<cpuPercent>") != std::string::npos)
            message.fields.emplace_back("cpuPercent", std::to_string(getXmlValueInt("cpuPercent", datagram)));
        if (datagram.find("<alarmSeconds>") != std::string::npos)
            message.fields.emplace_back("alarmSeconds", std::to_string(getXmlValueInt("alarmSeconds", datagram)));
        return message;
    }
    message.kind = GroupKind::Announcement;
    message.fields.emplace_back("name", getXmlValue("name", datagram));
    message.fields.emplace_back("location", getXmlValue("location", datagram));
    message.fields.emplace_back("pingTarget", getXmlValue("pingTarget", datagram));
    message.fields.emplace_back("health", std::to_string(getXmlValueInt("pingTargetHealth", datagram)));
    return message;
}

const char* groupKindName(GroupKind kind)
{
    switch (kind) {
    case GroupKind::Command:
        return "command";
    case GroupKind::Configuration:
        return "configuration";
    case GroupKind::Announcement:
        return "announcement";
    case GroupKind::Short:
        break;
    }
    return "short";
}

WatchdogMessage readWatchdogMessage(const std::string& datagram)
{
    WatchdogMessage message;
    if (startsWith(datagram, "<wdKA>"))
        message.kind = WatchdogKind::KeepAlive;
    else if (startsWith(datagram, "<wdStatus>"))
        message.kind = WatchdogKind::Report;
    else if (startsWith(datagram, "<CPU_ALARM>"))
        message.kind = WatchdogKind::Alarm;
    else
        return message;

    std::string rest = datagram;
    const std::string::size_type listEnd = datagram.find("</localIpInterfaces>");
    if (listEnd != std::string::npos) {
        message.interfaces = elements(element(datagram, "localIpInterfaces"), "ipAddr");
        rest = datagram.substr(listEnd);
    }
    // The pair's own address follows the interface list in a report; the
    // alarm has none of its own.
    if (message.kind != WatchdogKind::Alarm)
        message.ipAddr = element(rest, "ipAddr");
    message.cpuUsage = element(rest, "cpuUsage");
    message.hostName = element(rest, "hostName");
    return message;
}

const char* watchdogKindName(WatchdogKind kind)
{
    switch (kind) {
    case WatchdogKind::KeepAlive:
        return "keep-alive";
    case WatchdogKind::Report:
        return "report";
    case WatchdogKind::Alarm:
        return "alarm";
    case WatchdogKind::Other:
        break;
    }
    return "other";
}

StatusReply readStatusReply(const std::string& datagram)
{
    StatusReply reply;
    reply.valid = startsWith(datagram, "<status>");
    if (!reply.valid)
        return reply;
    reply.ipAddr = element(datagram, "ipAddr");
    reply.ipPort = element(datagram, "ipPort");
    reply.cpuPercent = element(datagram, "cpuPercent");
    reply.os = element(datagram, "os");
    return reply;
}

}  // namespace kiv::tools
