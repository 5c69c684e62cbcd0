// The host's interface list and the crossover: pairing local addresses with
// the watchdog servers on the same /24 network.
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/debug_log.h"
#include "core/event_text.h"
#include "core/host_network.h"
#include "core/kiv_server.h"
#include "core/text_helpers.h"

namespace kiv {
namespace {

// Values of the elements called `name`, in document order: each search
// starts behind the value read before; stops at a missing element, an empty
// value or the end of the text. Every value counts: a long list is matched
// whole and only the pairs are capped.
std::vector<std::string> readElementValues(const std::string& name, const std::string& text)
{
    std::vector<std::string> values;
    const std::string closing = "</" + name;
    std::string::size_type position = 0;
    while (position < text.size()) {
        const std::string::size_type found = text.find(name, position);
        if (found == std::string::npos)
            break;
        const std::string::size_type start = found + name.size() + 1;
        if (start >= text.size())
            break;
        const std::string::size_type end = text.find(closing, start);
        std::string value = (end == std::string::npos) ? text.substr(start)
                                                       : text.substr(start, end - start);
        if (value.empty())
            break;
        values.push_back(std::move(value));
        position = (end == std::string::npos) ? text.size() : end + closing.size();
    }
    return values;
}

// The port of a "<srvIpPort>" value read as atoi reads it (leading blanks,
// digits up to the first other character); 0 when it is no port at all.
int portValue(const std::string& text)
{
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < 1 || value > 65535)
        return 0;
    return static_cast<int>(value);
}

using Endpoint = boost::asio::ip::udp::endpoint;

}  // namespace

int KivServer::getNumIpAddresses()
{
    int count = 0;
    try {
        std::string hostName;
        int error = 0;
        if (!localHostName(hostName, error)) {
            warningLog("Error [%i]  when getting local host name.\n", error);
            return 0;
        }
        debugLog("Host name is [%s]\n", hostName.c_str());
        std::vector<std::uint32_t> addresses;
        if (!localIpv4Addresses(addresses)) {
            warningLog("Yow! Bad host lookup.\n");
            return 0;
        }
        for (std::uint32_t address : addresses) {
            debugLog("Address [%s]\n", getIpAddrString(address).c_str());
            ++count;
        }
    } catch (...) {
        reportException("KivServer::getNumIpAddresses");
    }
    return count;
}

std::string KivServer::getIpAddressesXml(std::string& work)
{
    try {
        work = "<localIpInterfaces>";
        std::string hostName;
        int error = 0;
        if (!localHostName(hostName, error)) {
            warningLog("Error [%i]  when getting local host name.\n", error);
            work += "</localIpInterfaces>";
            return work;
        }
        {
            std::lock_guard<std::mutex> lock(mStateMutex);
            mHostName = hostName;
        }
        debugLog("Host name is [%s]\n", hostName.c_str());
        std::vector<std::uint32_t> addresses;
        if (!localIpv4Addresses(addresses)) {
            warningLog("Yikes! Bad host lookup.\n");
            work += "</localIpInterfaces>";
            return work;
        }
        for (std::uint32_t address : addresses) {
            const std::string text = getIpAddrString(address);
            debugLog("Address [%s]\n", text.c_str());
            work += "<ipAddr>" + text + "</ipAddr>";
        }
        work += "</localIpInterfaces>";
    } catch (...) {
        reportException("KivServer::getIpAddressesXml");
    }
    return work;
}

std::uint32_t KivServer::getNetOctsInt(const std::string& text)
{
    const std::uint32_t value = parseInetAddr(text);
    if (value == 0)
        warningLog("*** ERROR   getNetOctsInt   (IpAddr == 0)\r\n");
    return value & 0xFFFFFF00u;
}

void KivServer::setCrossOver(const std::string& message)
{
    KivServer* server = instance();
    if (server == nullptr)
        return;
    server->applyCrossOver(message);
}

void KivServer::applyCrossOver(const std::string& message)
{
    debugLog("==>  KivServer::setCrossOver\n");
    const Settings before = settings();
    try {
        std::string localList;
        getIpAddressesXml(localList);

        const std::vector<std::string> locals = readElementValues("ipAddr", localList);
        for (const std::string& local : locals)
            debugLog("Add to Local list [%s]\n", local.c_str());
        const std::vector<std::string> servers = readElementValues("srvIpAddr", message);
        for (const std::string& server : servers)
            debugLog("Add to Server list [%s]\n", server.c_str());

        // A port given but outside 1-65535 would send somewhere nobody
        // named (70000 is 4464 on the wire): no pairs from this message.
        const bool portGiven = message.find("<srvIpPort>") != std::string::npos;
        const int port = portValue(getXmlValue("srvIpPort", message));
        if (portGiven && port == 0) {
            warningLog("*** REFUSED srvIpPort [%s]: not a port from 1 to 65535, the pairs in place stay\n",
                       getXmlValue("srvIpPort", message).c_str());
        } else {
            makePairs(message, locals, servers, port);
        }

        mCrossOverSet = true;
        // A message that leaves a setting out keeps the one in force: a
        // missing threshold must not turn into a 0 % alarm.
        if (message.find("<cpuPercent>") != std::string::npos)
            mAlarmPercent = getXmlValueInt("cpuPercent", message);
        if (message.find("<alarmSeconds>") != std::string::npos)
            mAlarmSeconds = getXmlValueInt("alarmSeconds", message);
        debugLog("mRemotePort=[%i]  mAlarmPercent=[%i]  mAlarmSeconds=[%i]\n", mRemotePort,
                 mAlarmPercent, mAlarmSeconds);
        logConfigurationApplied(before);
    } catch (...) {
        reportException("KivServer::setCrossOver");
    }
    debugLog("<==  KivServer::setCrossOver\n");
}

void KivServer::makePairs(const std::string& message, const std::vector<std::string>& locals,
                          const std::vector<std::string>& servers, int port)
{
    std::vector<Endpoint> localEnds, serverEnds;
    std::string inCommon;
    std::string leftOut;
    std::vector<bool> unusable(servers.size(), false);

    for (std::size_t i = 0; i < locals.size(); ++i) {
        const std::uint32_t localNet = getNetOctsInt(locals[i]);
        for (std::size_t j = 0; j < servers.size(); ++j) {
            const std::uint32_t serverNet = getNetOctsInt(servers[j]);
            debugLog("TEST [%s][%u] ? [%u][%s]\n", locals[i].c_str(), localNet, serverNet,
                     servers[j].c_str());
            if (localNet != serverNet || unusable[j])
                continue;
            debugLog("FOUND A COMMON NETWORK [%i] [%i]\n", static_cast<int>(i), static_cast<int>(j));
            // inet_addr reads forms that an endpoint cannot hold (a trailing
            // blank, hex or octal parts): such an entry is named once and
            // skipped, the other entries still pair.
            boost::system::error_code error;
            const auto serverAddress = boost::asio::ip::make_address_v4(servers[j], error);
            const auto localAddress = boost::asio::ip::make_address_v4(locals[i]);
            if (error) {
                warningLog("*** SKIPPED server entry [%s]: not a dotted address\n", servers[j].c_str());
                unusable[j] = true;
                continue;
            }
            const Endpoint local(localAddress, static_cast<unsigned short>(port));
            const Endpoint server(serverAddress, static_cast<unsigned short>(port));
            bool known = false;
            for (std::size_t k = 0; k < localEnds.size(); ++k)
                known = known || (localEnds[k] == local && serverEnds[k] == server);
            if (known)
                continue;  // a server listed twice is paired once
            if (localEnds.size() >= static_cast<std::size_t>(kMaxLinks)) {
                leftOut += " [" + locals[i] + "] [" + servers[j] + "]";
                continue;
            }
            debugLog("SETTING COMMON NETWORK [%s] [%s]\n", locals[i].c_str(), servers[j].c_str());
            if (!inCommon.empty())
                inCommon += ",  ";
            inCommon += locals[i];
            localEnds.push_back(local);
            serverEnds.push_back(server);
        }
    }
    if (!leftOut.empty())
        warningLog("*** TOO MANY PAIRS, [%i] KEPT, LEFT OUT:%s\n", kMaxLinks, leftOut.c_str());

    // A pair that existed before keeps its schedule (and a report it still
    // owes); a new one reports at the next tick.
    std::array<bool, kMaxLinks> pending{};
    for (std::size_t k = 0; k < localEnds.size(); ++k) {
        pending[k] = true;
        for (int old = 0; old < mNumLinks; ++old) {
            if (mLocalEndpoints[old] == localEnds[k] && mServerEndpoints[old] == serverEnds[k])
                pending[k] = mReportPending[old];
        }
    }
    for (std::size_t k = 0; k < localEnds.size(); ++k) {
        mLocalEndpoints[k] = localEnds[k];
        mServerEndpoints[k] = serverEnds[k];
    }
    mReportPending = pending;
    mNumLinks = static_cast<int>(localEnds.size());
    if (mNumLinks > 0)
        mRemotePort = port;
    mCrossOverMessage = message;
    std::lock_guard<std::mutex> lock(mStateMutex);
    mLocalIpInCommon = inCommon;
}

}  // namespace kiv
