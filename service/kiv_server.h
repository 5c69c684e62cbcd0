// The watchdog server: owns every socket, timer and record of the service and
// runs the one-second tick on the worker thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "base/debug_log.h"
#include "base/repeated_warning.h"
#include "beacon/beacon_tracker.h"
#include "metrics/cpu_usage.h"
#include "net/multicast_receiver.h"
#include "net/multicast_receiver_cloud.h"
#include "net/receiver_owner.h"
#include "net/view_wire.h"

namespace kiv {

class UdpKivServer;
class UdpBoundSocket;
class LocalNetwork;

namespace test {
struct KivServerProbe;
}

constexpr int kBeaconSlotCount = 3;
constexpr int kMaxLinks = 5;
constexpr unsigned short kWatchdogPort = 34543;
constexpr unsigned short kCommandPort = 45654;
constexpr int kKeepAliveTicks = 30;
constexpr int kReportTicks = 600;
constexpr int kAlarmHoldoffTicks = 180;
// A tick that comes later than this many periods does not replay the ticks
// it missed (a paused machine or process): it runs once and goes on from now.
constexpr int kMaxCatchUpTicks = 2;

using BeaconSlots = std::array<BeaconTracker, kBeaconSlotCount>;

// Owns the group listeners and takes what they hand over (ReceiverOwner).
class KivServer : public ReceiverOwner
{
public:
    KivServer();
    virtual ~KivServer();
    KivServer(const KivServer&) = delete;
    KivServer& operator=(const KivServer&) = delete;

    // The process-wide instance (set by the constructor, cleared by the
    // destructor); null while there is none. setCrossOver, which is static,
    // finds the server through it; the listeners have their owner instead.
    static KivServer* instance();

    void run();
    void handle_stop();

    // True once run() has returned normally after a stop.
    bool runExited() const { return mRunExited.load(); }

    boost::asio::io_context& ioContext() { return mIoService; }

    std::string getOsDescription();
    std::string getCpuUsageText() const;

    static int getNumIpAddresses();
    std::string getIpAddressesXml(std::string& work);
    // A configuration as if from 0.0.0.0 (the tests' and fuzzers' way in).
    static void setCrossOver(const std::string& message);
    // The /24 network of a dotted address; 0 with a fault line when it does
    // not parse.
    std::uint32_t getNetOctsInt(const std::string& text);

    // Health of a slot's ping target as the dialog shows it: 0 (and the
    // stored health zeroed) when the slot has no usable ping target.
    int getPingHealth(int slot);

    std::string getKeepAliveXml(std::string ipAddress);
    std::string getReportXml(std::string ipAddress);
    std::string getAlarmXml();

    // The ping-target command, sent from the worker thread: three times to
    // the beacon group, then once to each bound beacon. Callable from any
    // thread.
    void postPingTarget(std::uint32_t address);

    // Runs `f` with the beacon slots under the state lock. The lock is held
    // only for the call: copy what you need, do no I/O inside.
    template <typename F>
    decltype(auto) withBeacons(F&& f)
    {
        std::lock_guard<std::mutex> lock(mStateMutex);
        return f(mBeacons);
    }

    std::string hostNameText() const;
    std::string localIpInCommonText() const;
    std::string cloudSrvIpAddrText() const;
    void setCloudSrvIpAddr(const std::string& address);

    MulticastReceiver& multicast() { return mMulticast; }

    // One tick's work: ageing, keep-alives, reports, CPU alarm. Normally
    // driven by the tick timer; tests call it directly.
    void onPeriodic();

    // Called on the worker thread after each timer tick; may be set from any
    // thread (the change reaches the worker as a handler).
    void setTickObserver(std::function<void()> observer);

    // What a view of the service shows: the slots as their records hold
    // them, the CPU text, the OS description, the host name and the local
    // address in common, copied under the state lock. On the worker.
    view::ViewState viewState();
    // Called on the worker after each handler that may have changed what
    // viewState() returns (a tick, an announcement, a configuration, an
    // address change). Set it on the worker; empty: none.
    void setStateObserver(std::function<void()> observer) { mStateObserver = std::move(observer); }

    // What a configuration sets, to say in the log what it changed.
    struct Settings {
        bool set = false;
        int pairs = 0;
        std::array<boost::asio::ip::udp::endpoint, kMaxLinks> locals;
        std::array<boost::asio::ip::udp::endpoint, kMaxLinks> servers;
        int port = 0;
        int alarmPercent = 0;
        int alarmSeconds = 0;
    };

private:
    friend struct test::KivServerProbe;

    // From the listeners, on the worker thread: a beacon-group datagram
    // binds or updates its sender's slot, an allowed configuration makes the
    // pairs, a cloud datagram's srvIpAddr is kept.
    void onBeaconMessage(std::uint32_t sender, const std::string& message) override;
    void onConfiguration(std::uint32_t sender, const std::string& message) override;
    void onCloudServerAddress(const std::string& address) override;

    void startTickTimer();
    void onTick();
    void catchUpAfterStall(int missedTicks);
    void ageBeacons();
    void keepAlivePass();
    void reportPass();
    void alarmPass();
    UdpBoundSocket* boundSocketFor(const boost::asio::ip::udp::endpoint& local) const;
    void sendPingTargetNow(std::uint32_t address);
    // `spreadTicks` > 0: a pair made new reports at a random one of the
    // next `spreadTicks` ticks instead of at the next.
    void applyCrossOver(std::uint32_t sender, const std::string& message);
    // A warning line of the configuration in hand, under the repeat rule of
    // its sender.
    void configurationFault(const char* format, ...) VARN_PRINTF(2, 3);
    void makePairs(const std::vector<std::string>& locals, const std::vector<std::string>& servers,
                   int port, int spreadTicks);
    void onLocalNetworkChanged();
    void stateMayHaveChanged()
    {
        if (mStateObserver)
            mStateObserver();
    }

    Settings settings() const;
    // One info line with the pairs made, kept and dropped and the settings
    // in force, when anything changed since `before` (not at debug level,
    // where the trace lines say it). `held`: caused by an address that keeps
    // coming and going, whose own line tells it.
    void logConfigurationApplied(const Settings& before, bool held = false) const;

    // Guards the state the dialog reads from its own thread: the beacon
    // slots, mCpuUsage, mHostName, mLocalIpInCommon and mCloudSrvIpAddr.
    mutable std::mutex mStateMutex;

    BeaconSlots mBeacons;
    CpuUsage mCpuSampler;
    std::array<boost::asio::ip::udp::endpoint, kMaxLinks> mServerEndpoints;
    std::array<boost::asio::ip::udp::endpoint, kMaxLinks> mLocalEndpoints;
    // Pair k gets a status report at the next tick (a pair that the last
    // configuration or address change made new).
    std::array<bool, kMaxLinks> mReportPending{};
    // Ticks a pending report of pair k still waits (0: it goes at the next
    // tick); drawn when a configuration from the group makes the pair, with
    // --spread.
    std::array<int, kMaxLinks> mReportDelay{};
    // --spread in seconds (ticks): 0 keeps the schedule counted from the
    // start and every new pair's report at the next tick.
    int mSpreadTicks = 0;
    // This station's own draws: the schedule's phase, the reports' delays.
    std::mt19937 mRandom;
    boost::asio::io_context mIoService;
    std::unique_ptr<UdpKivServer> mUdpServer;
    std::atomic<bool> mRunExited{false};
    std::atomic<bool> mRunActive{false};
    MulticastReceiver mMulticast;
    MulticastReceiverCloud mMulticastCloud;
    // The local addresses with their bound sockets, and the group joins.
    std::unique_ptr<LocalNetwork> mLocalNetwork;
    int mTickSeconds = 5;
    bool mTickRunning = false;
    // When the next tick is due. The worker's loop waits for the io_context's
    // handlers until then (see run()).
    std::chrono::steady_clock::time_point mTickDue;
    std::function<void()> mTickObserver;
    std::function<void()> mStateObserver;
    std::string mHostName;
    std::string mOsDescription;
    std::string mLocalIpInCommon;
    std::string mCloudSrvIpAddr;
    int mAlarmSeconds = 5;
    int mAlarmPercent = 100;
    int mCpuUsage = 0;
    int mTickCount = 0;
    int mRemotePort = 0;
    int mAlarmCountdown = 5;
    int mAlarmHoldoff = 0;
    int mNumLinks = 0;
    bool mCrossOverSet = false;
    // The servers and port of the configuration in force, from which the
    // pairs are made again when the local addresses change (the alarm
    // settings are not touched then).
    std::vector<std::string> mPairServers;
    int mPairPort = 0;
    bool mPairsConfigured = false;
    // Who sent the configuration in force, and the faults of each sender's
    // configurations (and of the pairs made again from them).
    std::uint32_t mPairSender = 0;
    SenderFaults mConfigFaults;
    // Set for one tick after a stall: the keep-alive or report that fell
    // due while the tick could not run goes out once.
    bool mKeepAliveMissed = false;
    bool mReportMissed = false;
};

}  // namespace kiv
