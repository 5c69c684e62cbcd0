// Reaches into the watchdog server's private state for the tests.
#pragma once

#include "net/udp_bound_socket.h"
#include "service/kiv_server.h"
#include "service/local_network.h"

namespace kiv::test {

struct KivServerProbe {
    explicit KivServerProbe(KivServer& server) : s(server) {}
    KivServer& s;

    int tickCount() const { return s.mTickCount; }
    int numLinks() const { return s.mNumLinks; }
    bool crossOverSet() const { return s.mCrossOverSet; }
    bool reportPending(int k) const { return s.mReportPending.at(k); }
    int remotePort() const { return s.mRemotePort; }
    int alarmPercent() const { return s.mAlarmPercent; }
    int alarmSeconds() const { return s.mAlarmSeconds; }
    int alarmHoldoff() const { return s.mAlarmHoldoff; }
    int alarmCountdown() const { return s.mAlarmCountdown; }
    int cpuUsage() const { return s.mCpuUsage; }
    bool tickRunning() const { return s.mTickRunning; }
    int tickSeconds() const { return s.mTickSeconds; }
    bool hasUdpServer() const { return s.mUdpServer != nullptr; }
    const boost::asio::ip::udp::endpoint& localEndpoint(int k) const { return s.mLocalEndpoints.at(k); }
    const boost::asio::ip::udp::endpoint& serverEndpoint(int k) const { return s.mServerEndpoints.at(k); }
    bool hasBoundSocket(const std::string& address) const
    {
        return s.mLocalNetwork && s.mLocalNetwork->socketFor(boost::asio::ip::make_address(address));
    }
    bool socketBound(const std::string& address) const
    {
        const UdpBoundSocket* socket =
            s.mLocalNetwork ? s.mLocalNetwork->socketFor(boost::asio::ip::make_address(address)) : nullptr;
        return socket != nullptr && socket->bound();
    }
    // Reads the host's addresses again now, as a reported change would.
    void refreshLocalNetwork() { s.mLocalNetwork->refresh(); }
    void setSafetyPoll(std::chrono::milliseconds period) { s.mLocalNetwork->setSafetyPoll(period); }
    std::size_t localAddressCount() const { return s.mLocalNetwork->addresses().size(); }
    std::chrono::steady_clock::time_point tickExpiry() const { return s.mTickDue; }
    void setAlarm(int percent, int seconds)
    {
        s.mAlarmPercent = percent;
        s.mAlarmSeconds = seconds;
        s.mAlarmCountdown = seconds;
    }
    void setTickCount(int ticks) { s.mTickCount = ticks; }
    void fireTick() { s.onTick(); }
    void setTickExpiry(std::chrono::steady_clock::time_point expiry) { s.mTickDue = expiry; }
    MulticastReceiverCloud& cloud() { return s.mMulticastCloud; }
    // A configuration from `sender` (IPv4, host order), as the group hands it over.
    void configure(std::uint32_t sender, const std::string& message) { s.onConfiguration(sender, message); }
    // Back to the state of a fresh server: no pairs, no crossover, the
    // alarm settings and counters of construction, tick 0.
    void clearCrossOver()
    {
        s.mNumLinks = 0;
        s.mCrossOverSet = false;
        s.mReportPending = {};
        s.mReportDelay = {};
        s.mPairServers.clear();
        s.mPairPort = 0;
        s.mPairsConfigured = false;
        s.mRemotePort = 0;
        s.mAlarmPercent = 100;
        s.mAlarmSeconds = 5;
        s.mAlarmCountdown = 5;
        s.mAlarmHoldoff = 0;
        s.mTickCount = 0;
        std::lock_guard<std::mutex> lock(s.mStateMutex);
        s.mLocalIpInCommon.clear();
    }
};

}  // namespace kiv::test
