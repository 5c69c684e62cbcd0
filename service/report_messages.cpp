// The watchdog's own messages: keep-alive, status report and CPU alarm.
#include "base/debug_log.h"
#include "base/event_text.h"
#include "service/kiv_server.h"

namespace kiv {
namespace {

constexpr const char* kWatchdogPortText = "34543";
constexpr const char* kVersionElement = "<wdVer>1.0</wdVer>\n";

}  // namespace

std::string KivServer::getKeepAliveXml(std::string ipAddress)
{
    debugLog("==>  KivServer::getKeepAliveXml\n");
    std::string xml;
    try {
        xml += "<wdKA>\n";
        xml += "<ipAddr>";
        xml += ipAddress;
        xml += "</ipAddr>\n";
        xml += "<cpuUsage>";
        xml += getCpuUsageText();
        xml += "</cpuUsage>\n";
        xml += "<osDesc>";
        xml += getOsDescription();
        xml += "</osDesc>\n";
        xml += "<hostName>";
        xml += hostNameText();
        xml += "</hostName>\n";
        xml += kVersionElement;
        xml += "</wdKA>\n";
    } catch (...) {
        reportException("KivServer::getKeepAliveXml");
        return xml;
    }
    debugLog("<==  KivServer::getKeepAliveXml\n");
    return xml;
}

std::string KivServer::getReportXml(std::string ipAddress)
{
    debugLog("==>  KivServer::getReportXml\n");
    std::string xml;
    try {
        xml += "<wdStatus>\n";
        std::string interfaces;
        xml += getIpAddressesXml(interfaces);
        xml += "<ipAddr>";
        xml += ipAddress;
        xml += "</ipAddr>\n";
        xml += "<ipPort>";
        xml += kWatchdogPortText;
        xml += "</ipPort>\n";
        xml += "<cpuUsage>";
        xml += getCpuUsageText();
        xml += "</cpuUsage>\n";
        xml += "<osDesc>";
        xml += getOsDescription();
        xml += "</osDesc>\n";
        xml += "<hostName>";
        xml += hostNameText();
        xml += "</hostName>\n";
        xml += kVersionElement;
        xml += "</wdStatus>\n";
    } catch (...) {
        reportException("KivServer::getReportXml");
        return xml;
    }
    debugLog("<==  KivServer::getReportXml\n");
    return xml;
}

std::string KivServer::getAlarmXml()
{
    debugLog("==>  KivServer::getAlarmXml\n");
    std::string xml;
    try {
        xml += "<CPU_ALARM>\n";
        std::string interfaces;
        xml += getIpAddressesXml(interfaces);
        xml += "<ipPort>\n";
        xml += kWatchdogPortText;
        xml += "</ipPort>\n";
        xml += "<cpuUsage>\n";
        xml += getCpuUsageText();
        xml += "</cpuUsage>\n";
        xml += "<osDesc>\n";
        xml += getOsDescription();
        xml += "</osDesc>\n";
        xml += "<hostName>\n";
        xml += hostNameText();
        xml += "</hostName>\n";
        xml += kVersionElement;
        xml += "</CPU_ALARM>\n";
    } catch (...) {
        reportException("KivServer::getAlarmXml");
        return xml;
    }
    debugLog("<==  KivServer::getAlarmXml\n");
    return xml;
}

}  // namespace kiv
