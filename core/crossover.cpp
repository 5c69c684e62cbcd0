// The host's interface list and the crossover: pairing local addresses with
// the watchdog servers on the same /24 network.
#include <vector>

#include "core/debug_log.h"
#include "core/event_text.h"
#include "core/host_network.h"
#include "core/kiv_server.h"
#include "core/text_helpers.h"

namespace kiv {
namespace {

constexpr std::size_t kMaxListValues = 5;

// Values of the elements called `name`, in document order: each search
// starts behind the value read before; stops at a missing element, an empty
// value, the end of the text or after `maxValues` values.
std::vector<std::string> readElementValues(const std::string& name, const std::string& text,
                                           std::size_t maxValues)
{
    std::vector<std::string> values;
    const std::string closing = "</" + name;
    std::string::size_type position = 0;
    while (values.size() < maxValues && position < text.size()) {
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

}  // namespace

int KivServer::getNumIpAddresses()
{
    int count = 0;
    try {
        std::string hostName;
        int error = 0;
        if (!localHostName(hostName, error)) {
            debugLog("Error [%i]  when getting local host name.\n", error);
            return 0;
        }
        debugLog("Host name is [%s]\n", hostName.c_str());
        std::vector<std::uint32_t> addresses;
        if (!localIpv4Addresses(addresses)) {
            debugLog("Yow! Bad host lookup.\n");
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
            debugLog("Error [%i]  when getting local host name.\n", error);
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
            debugLog("Yikes! Bad host lookup.\n");
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
        debugLog("*** ERROR   getNetOctsInt   (IpAddr == 0)\r\n");
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
    try {
        std::string localList;
        getIpAddressesXml(localList);

        const std::vector<std::string> locals = readElementValues("ipAddr", localList, kMaxListValues);
        for (const std::string& local : locals)
            debugLog("Add to Local list [%s]\n", local.c_str());
        const std::vector<std::string> servers = readElementValues("srvIpAddr", message, kMaxListValues);
        for (const std::string& server : servers)
            debugLog("Add to Server list [%s]\n", server.c_str());

        {
            std::lock_guard<std::mutex> lock(mStateMutex);
            mLocalIpInCommon.clear();
        }
        mNumLinks = 0;

        for (std::size_t i = 0; i < locals.size(); ++i) {
            const std::uint32_t localNet = getNetOctsInt(locals[i]);
            for (std::size_t j = 0; j < servers.size(); ++j) {
                const std::uint32_t serverNet = getNetOctsInt(servers[j]);
                debugLog("TEST [%s][%u] ? [%u][%s]\n", locals[i].c_str(), localNet, serverNet,
                         servers[j].c_str());
                if (localNet != serverNet)
                    continue;
                debugLog("FOUND A COMMON NETWORK [%i] [%i]\n", static_cast<int>(i), static_cast<int>(j));
                if (mNumLinks >= kMaxLinks) {
                    // Five pairs fill the endpoint tables; later ones are
                    // reported and left out rather than overwriting the first.
                    debugLog("*** TOO MANY PAIRS, DROPPED [%s] [%s]\n", locals[i].c_str(),
                             servers[j].c_str());
                    continue;
                }
                // Both addresses are made before anything of the pair is
                // stored: a server text that only inet_addr reads (hex or
                // octal parts, trailing blanks) fails here and must not leave
                // its local address listed as in common without a pair.
                const boost::asio::ip::address localAddress = boost::asio::ip::make_address(locals[i]);
                const boost::asio::ip::address serverAddress = boost::asio::ip::make_address(servers[j]);
                {
                    std::lock_guard<std::mutex> lock(mStateMutex);
                    if (!mLocalIpInCommon.empty())
                        mLocalIpInCommon += ",  ";
                    mLocalIpInCommon += locals[i];
                }
                mRemotePort = getXmlValueInt("srvIpPort", message);
                debugLog("SETTING COMMON NETWORK [%s] [%s]\n", locals[i].c_str(), servers[j].c_str());
                const auto port = static_cast<unsigned short>(mRemotePort);
                mLocalEndpoints[mNumLinks] = boost::asio::ip::udp::endpoint(localAddress, port);
                mServerEndpoints[mNumLinks] = boost::asio::ip::udp::endpoint(serverAddress, port);
                ++mNumLinks;
            }
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
    } catch (...) {
        reportException("KivServer::setCrossOver");
    }
    debugLog("<==  KivServer::setCrossOver\n");
}

}  // namespace kiv
