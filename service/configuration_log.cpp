// The line that says what a configuration (or the re-pairing after an
// address change) changed: the pairs made, kept and dropped, and the
// settings in force.
#include <string>

#include "base/debug_log.h"
#include "service/kiv_server.h"

namespace kiv {
namespace {

std::string pairText(const boost::asio::ip::udp::endpoint& local, const boost::asio::ip::udp::endpoint& server)
{
    return "[" + local.address().to_string() + " > " + server.address().to_string() + ":" +
           std::to_string(server.port()) + "]";
}

bool holds(const KivServer::Settings& s, const boost::asio::ip::udp::endpoint& local,
           const boost::asio::ip::udp::endpoint& server)
{
    for (int k = 0; k < s.pairs; ++k) {
        if (s.locals[k] == local && s.servers[k] == server)
            return true;
    }
    return false;
}

// The pairs of `from` that `other` holds (or does not), as text; "none".
std::string pairsText(const KivServer::Settings& from, const KivServer::Settings& other, bool held)
{
    std::string text;
    for (int k = 0; k < from.pairs; ++k) {
        if (holds(other, from.locals[k], from.servers[k]) != held)
            continue;
        if (!text.empty())
            text += " ";
        text += pairText(from.locals[k], from.servers[k]);
    }
    return text.empty() ? "none" : text;
}

}  // namespace

KivServer::Settings KivServer::settings() const
{
    Settings s;
    s.set = mCrossOverSet;
    s.pairs = mNumLinks;
    s.locals = mLocalEndpoints;
    s.servers = mServerEndpoints;
    s.port = mRemotePort;
    s.alarmPercent = mAlarmPercent;
    s.alarmSeconds = mAlarmSeconds;
    return s;
}

void KivServer::logConfigurationApplied(const Settings& before, bool held) const
{
    // At debug the trace lines before it (TEST, SETTING COMMON NETWORK, the
    // settings) say all of it already.
    if (logLevel() == LogLevel::debug)
        return;
    const Settings now = settings();
    const std::string made = pairsText(now, before, false);
    const std::string dropped = pairsText(before, now, false);
    const bool changed = made != "none" || dropped != "none" || now.set != before.set ||
                         now.port != before.port || now.alarmPercent != before.alarmPercent ||
                         now.alarmSeconds != before.alarmSeconds;
    if (!changed || !logWanted(LogLevel::info))
        return;
    logRepeat(LogLevel::info, held,
              "Configuration applied: pairs made %s, kept %s, dropped %s; port %i, CPU alarm at %i %% for %i s\n",
              made.c_str(), pairsText(now, before, true).c_str(), dropped.c_str(), now.port, now.alarmPercent,
              now.alarmSeconds);
}

}  // namespace kiv
