// The host's interface list and the crossover: pairing local addresses with
// the watchdog servers on the same /24 network.
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "base/text_helpers.h"
#include "net/host_network.h"
#include "service/kiv_server.h"
#include "service/local_network.h"

namespace kiv {
namespace {

// One element's value as the message holds it; `closed` is false when its
// closing tag is not there (the datagram was cut inside the value).
struct ElementValue {
    std::string text;
    bool closed = false;
};

// Values of the elements called `name`, in document order: each search
// starts behind the value read before; stops at a missing element, an empty
// value or the end of the text. Every value counts: a long list is matched
// whole and only the pairs are capped.
std::vector<ElementValue> readElementValues(const std::string& name, const std::string& text)
{
    std::vector<ElementValue> values;
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
        ElementValue value;
        value.closed = end != std::string::npos;
        value.text = value.closed ? text.substr(start, end - start) : text.substr(start);
        if (value.text.empty())
            break;
        values.push_back(std::move(value));
        position = value.closed ? end + closing.size() : text.size();
    }
    return values;
}

// The first element called `name`, read as getXmlValue reads it.
ElementValue elementValue(const std::string& name, const std::string& text)
{
    ElementValue value;
    const std::string::size_type found = text.find(name);
    if (found == std::string::npos)
        return value;
    const std::string::size_type start = found + name.size() + 1;
    if (start >= text.size())
        return value;
    const std::string::size_type end = text.find("</" + name, start);
    value.closed = end != std::string::npos;
    value.text = value.closed ? text.substr(start, end - start) : text.substr(start);
    return value;
}

// A value from the network as a log line quotes it: at most 60 bytes, bytes
// outside printable ASCII as \xHH.
std::string quoted(const std::string& text)
{
    constexpr std::size_t kShown = 60;
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0xf]);
        }
    }
    if (text.size() > kShown)
        out += "...";
    return out;
}

// An element's value without the blanks, tabs, CR and LF around it, as
// inet_addr and atoi read past them.
std::string trimmed(const std::string& text)
{
    const char* const blanks = " \t\r\n";
    const std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A trimmed value of plain decimal digits from `low` to `high`; nullopt
// for anything else (a sign, a blank inside, another character, too many
// digits).
std::optional<int> plainNumber(const std::string& text, int low, int high)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < low || value > high)
        return std::nullopt;
    return static_cast<int>(value);
}

// The port of a trimmed "<srvIpPort>" value: decimal digits only, 1 to
// 65535; 0 when it is no port at all.
int portValue(const std::string& text)
{
    return plainNumber(text, 1, 65535).value_or(0);
}

// The CPU threshold takes 0 to 100 %, and 101, which no load reaches: no
// alarm. The delay takes up to one day (0 and 1 both let the first high
// sample raise the alarm).
constexpr int kMaxAlarmPercent = 101;
constexpr int kMaxAlarmSeconds = 24 * 60 * 60;

// A dotted IPv4 address (four decimal parts), the only form a pair can hold.
bool isDotted(const std::string& text)
{
    boost::system::error_code error;
    boost::asio::ip::make_address_v4(text, error);
    return !error;
}

// A dotted address no watchdog server can have: no address, a broadcast
// (everyone's or the /24's own), a multicast group or this host's loopback.
bool isServerAddress(const std::string& dotted)
{
    const std::uint32_t address = boost::asio::ip::make_address_v4(dotted).to_uint();
    const boost::asio::ip::address_v4 v4(address);
    return address != 0 && !v4.is_multicast() && !v4.is_loopback() && (address & 0xffu) != 0xffu;
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
        configurationFault("*** ERROR   getNetOctsInt   (IpAddr == 0)\r\n");
    return value & 0xFFFFFF00u;
}

void KivServer::configurationFault(const char* format, ...)
{
    char buffer[kDebugLogBufferSize];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    const std::string line(buffer, n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buffer - 1));
    logRepeat(LogLevel::warning, !mConfigFaults.failed(line, SenderFaults::Clock::now()), "%s", line.c_str());
}

void KivServer::setCrossOver(const std::string& message)
{
    KivServer* server = instance();
    if (server == nullptr)
        return;
    server->applyCrossOver(0, message);
}

void KivServer::applyCrossOver(std::uint32_t sender, const std::string& message)
{
    debugLog("==>  KivServer::setCrossOver\n");
    const Settings before = settings();
    // A beacon sends its configuration again and again: its faults are
    // written when they start or change, at most hourly, and when they end.
    mConfigFaults.begin(sender);
    try {
        std::string localList;
        getIpAddressesXml(localList);

        // The pairs are made from the addresses that have their sockets, so
        // that an address found here first is paired when its socket is
        // there (and then reports as a new pair).
        std::vector<std::string> locals;
        if (mLocalNetwork) {
            for (std::uint32_t address : mLocalNetwork->addresses())
                locals.push_back(getIpAddrString(address));
        } else {
            for (const ElementValue& local : readElementValues("ipAddr", localList))
                locals.push_back(local.text);
        }
        for (const std::string& local : locals)
            debugLog("Add to Local list [%s]\n", local.c_str());
        std::vector<ElementValue> servers = readElementValues("srvIpAddr", message);
        for (ElementValue& server : servers) {
            server.text = trimmed(server.text);
            debugLog("Add to Server list [%s]\n", server.text.c_str());
        }
        // Only a dotted address can be paired: a host name or inet_addr's
        // other forms (hex, octal, fewer parts) are named once and left out,
        // and so are an entry cut off before its closing tag (10.1.2.123 cut
        // to 10.1.2.1 names another host) and an address no server has.
        std::vector<std::string> usable;
        for (const ElementValue& server : servers) {
            const char* const name = server.text.c_str();
            if (!server.closed)
                configurationFault("*** SKIPPED server entry [%s]: cut off before its closing tag\n", name);
            else if (!isDotted(server.text))
                configurationFault("*** SKIPPED server entry [%s]: not a dotted address\n", name);
            else if (!isServerAddress(server.text))
                configurationFault("*** SKIPPED server entry [%s]: not an address a server can have\n", name);
            else
                usable.push_back(server.text);
        }

        // A configuration that would leave the station silent towards its
        // servers changes no pair: no port, a port outside 1-65535 (70000
        // is 4464 on the wire), or server entries none of which is usable.
        const bool portGiven = message.find("<srvIpPort>") != std::string::npos;
        const ElementValue portElement = elementValue("srvIpPort", message);
        const std::string portText = trimmed(portElement.text);
        const int port = portValue(portText);
        if (!portGiven && message.size() >= MulticastReceiver::kRecvBufferSize) {
            configurationFault("*** REFUSED configuration: no srvIpPort in the [%zu] bytes read (the rest was cut), "
                     "the pairs in place stay\n",
                     message.size());
        } else if (!portGiven) {
            configurationFault("*** REFUSED configuration: no srvIpPort, the pairs in place stay\n");
        } else if (!portElement.closed) {
            // 50001 cut to 5000 is another port: the reports would go there.
            configurationFault("*** REFUSED srvIpPort [%s]: cut off before its closing tag, the pairs in place stay\n",
                       quoted(portText).c_str());
        } else if (port == 0) {
            configurationFault("*** REFUSED srvIpPort [%s]: not a port from 1 to 65535, the pairs in place stay\n",
                     portText.c_str());
        } else if (!servers.empty() && usable.empty()) {
            configurationFault("*** REFUSED configuration: none of the [%zu] server entries is usable, "
                     "the pairs in place stay\n",
                     servers.size());
        } else {
            mPairServers = usable;
            mPairPort = port;
            mPairsConfigured = true;
            mPairSender = sender;
            // A configuration on the group reaches every station at once:
            // with --spread their reports are spread over that many seconds.
            makePairs(locals, usable, port, mSpreadTicks);
        }

        mCrossOverSet = true;
        // A message that leaves a setting out keeps the one in force: a
        // missing threshold must not turn into a 0 % alarm. The settings of
        // a message refused for its pairs still hold.
        // So must a value that is no plain number in range, or one cut off
        // before its closing tag: junk is no 0 % threshold.
        if (message.find("<cpuPercent>") != std::string::npos) {
            const ElementValue value = elementValue("cpuPercent", message);
            const std::optional<int> percent =
                value.closed ? plainNumber(trimmed(value.text), 0, kMaxAlarmPercent) : std::nullopt;
            if (percent)
                mAlarmPercent = *percent;
            else
                configurationFault("*** REFUSED cpuPercent [%s]: not a whole number from 0 to %i, [%i] stays in force\n",
                           quoted(value.text).c_str(), kMaxAlarmPercent, mAlarmPercent);
        }
        if (message.find("<alarmSeconds>") != std::string::npos) {
            const ElementValue value = elementValue("alarmSeconds", message);
            const std::optional<int> seconds =
                value.closed ? plainNumber(trimmed(value.text), 0, kMaxAlarmSeconds) : std::nullopt;
            if (!seconds) {
                configurationFault("*** REFUSED alarmSeconds [%s]: not a whole number from 0 to %i, [%i] stays in force\n",
                           quoted(value.text).c_str(), kMaxAlarmSeconds, mAlarmSeconds);
            } else {
                // A new delay counts from its start, also while the load is
                // already high: the old count must not raise the alarm early.
                if (*seconds != mAlarmSeconds)
                    mAlarmCountdown = *seconds;
                mAlarmSeconds = *seconds;
            }
        }
        debugLog("mRemotePort=[%i]  mAlarmPercent=[%i]  mAlarmSeconds=[%i]\n", mRemotePort,
                 mAlarmPercent, mAlarmSeconds);
        if (const unsigned faulty = mConfigFaults.end())
            infoLog("Configuration from [%s] without faults again, after [%u] with them\n",
                    getIpAddrString(sender).c_str(), faulty);
        logConfigurationApplied(before);
    } catch (...) {
        reportException("KivServer::setCrossOver");
    }
    debugLog("<==  KivServer::setCrossOver\n");
}

void KivServer::makePairs(const std::vector<std::string>& locals, const std::vector<std::string>& servers,
                          int port, int spreadTicks)
{
    // Every local address against every server on its /24 network, in the
    // order of the addresses, then of the servers; a pair found twice (a
    // server listed twice) counts once.
    struct Candidate {
        std::size_t local;
        std::size_t server;
        Endpoint localEnd;
        Endpoint serverEnd;
    };
    // The network of a dotted text, as getNetOctsInt gives it but without
    // its line: the trace of the scan is written once the pairs are known.
    const auto networkOf = [](const std::string& text) { return parseInetAddr(text) & 0xFFFFFF00u; };
    std::vector<Candidate> found;
    // Per local and server entry: the candidate it made, if any.
    std::vector<std::vector<std::size_t>> made(locals.size(), std::vector<std::size_t>(servers.size(), SIZE_MAX));
    for (std::size_t i = 0; i < locals.size(); ++i) {
        const std::uint32_t localNet = networkOf(locals[i]);
        for (std::size_t j = 0; j < servers.size(); ++j) {
            if (localNet != networkOf(servers[j]))
                continue;
            const Endpoint local(boost::asio::ip::make_address_v4(locals[i]), static_cast<unsigned short>(port));
            const Endpoint server(boost::asio::ip::make_address_v4(servers[j]), static_cast<unsigned short>(port));
            const bool known = std::any_of(found.begin(), found.end(), [&](const Candidate& c) {
                return c.localEnd == local && c.serverEnd == server;
            });
            if (!known) {
                made[i][j] = found.size();
                found.push_back({i, j, local, server});
            }
        }
    }

    // At most kMaxLinks pairs: each server that can be reached gets its first
    // pair before any server gets a second (many addresses on one network
    // must not crowd out another network's server), then the rest in order.
    std::vector<bool> kept(found.size(), false);
    std::vector<Endpoint> served;
    int keptCount = 0;
    for (std::size_t k = 0; k < found.size() && keptCount < kMaxLinks; ++k) {
        if (std::find(served.begin(), served.end(), found[k].serverEnd) != served.end())
            continue;
        served.push_back(found[k].serverEnd);
        kept[k] = true;
        ++keptCount;
    }
    for (std::size_t k = 0; k < found.size() && keptCount < kMaxLinks; ++k) {
        if (!kept[k]) {
            kept[k] = true;
            ++keptCount;
        }
    }

    // The scan's trace in its own order: each match, and right behind it
    // the pair it set.
    for (std::size_t i = 0; i < locals.size(); ++i) {
        const std::uint32_t localNet = getNetOctsInt(locals[i]);
        for (std::size_t j = 0; j < servers.size(); ++j) {
            const std::uint32_t serverNet = getNetOctsInt(servers[j]);
            debugLog("TEST [%s][%u] ? [%u][%s]\n", locals[i].c_str(), localNet, serverNet, servers[j].c_str());
            if (localNet != serverNet)
                continue;
            debugLog("FOUND A COMMON NETWORK [%i] [%i]\n", static_cast<int>(i), static_cast<int>(j));
            if (made[i][j] != SIZE_MAX && kept[made[i][j]])
                debugLog("SETTING COMMON NETWORK [%s] [%s]\n", locals[i].c_str(), servers[j].c_str());
        }
    }

    std::vector<Endpoint> localEnds, serverEnds;
    std::string inCommon;
    std::string leftOut;
    for (std::size_t k = 0; k < found.size(); ++k) {
        const std::string& local = locals[found[k].local];
        const std::string& server = servers[found[k].server];
        if (!kept[k]) {
            leftOut += " [" + local + "] [" + server + "]";
            continue;
        }
        if (!inCommon.empty())
            inCommon += ",  ";
        inCommon += local;
        localEnds.push_back(found[k].localEnd);
        serverEnds.push_back(found[k].serverEnd);
    }
    if (!leftOut.empty())
        configurationFault("*** TOO MANY PAIRS, [%i] KEPT, LEFT OUT:%s\n", kMaxLinks, leftOut.c_str());

    // A pair that existed before keeps its schedule (and a report it still
    // owes, with its delay); a new one reports at the next tick, or with
    // `spreadTicks` at a random one of the next `spreadTicks`.
    std::array<bool, kMaxLinks> pending{};
    std::array<int, kMaxLinks> delay{};
    for (std::size_t k = 0; k < localEnds.size(); ++k) {
        bool known = false;
        for (int old = 0; old < mNumLinks; ++old) {
            if (mLocalEndpoints[old] == localEnds[k] && mServerEndpoints[old] == serverEnds[k]) {
                known = true;
                pending[k] = mReportPending[old];
                delay[k] = mReportDelay[old];
            }
        }
        if (known)
            continue;
        pending[k] = true;
        if (spreadTicks > 0) {
            delay[k] = std::uniform_int_distribution<int>(0, spreadTicks - 1)(mRandom);
            debugLog("REPORT [%i] DUE IN [%i] TICKS\n", static_cast<int>(k), delay[k] + 1);
        }
    }
    for (std::size_t k = 0; k < localEnds.size(); ++k) {
        mLocalEndpoints[k] = localEnds[k];
        mServerEndpoints[k] = serverEnds[k];
    }
    mReportPending = pending;
    mReportDelay = delay;
    mNumLinks = static_cast<int>(localEnds.size());
    if (mNumLinks > 0)
        mRemotePort = port;
    std::lock_guard<std::mutex> lock(mStateMutex);
    mLocalIpInCommon = inCommon;
}

}  // namespace kiv
