#include "service/kiv_server.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

#include "base/debug_log.h"
#include "base/event_text.h"
#include "base/service_options.h"
#include "base/text_helpers.h"
#include "metrics/os_description.h"
#include "net/group_membership.h"
#include "net/host_network.h"
#include "net/udp_bound_socket.h"
#include "net/udp_kiv_server.h"
#include "service/local_network.h"

namespace kiv {
namespace {

std::atomic<KivServer*> gKivServer{nullptr};

}  // namespace

KivServer* KivServer::instance()
{
    return gKivServer.load();
}

KivServer::KivServer()
    : mSpreadTicks(static_cast<int>(serviceOptions().spreadSeconds)),
      mRandom(std::random_device{}()),
      mUdpServer(std::make_unique<UdpKivServer>(mIoService)),
      mMulticast(mIoService, kBeaconGroup, *this),
      mMulticastCloud(mIoService, kCloudGroup, *this),
      mTickDue(std::chrono::steady_clock::now() + std::chrono::seconds(5))
{
    debugLog("==>  KivServer::KivServer\n");
    gKivServer.store(this);
    if (mSpreadTicks > 0) {
        // Stations started together do not stay together: the keep-alives
        // and reports keep their periods from a phase of this station's own.
        mTickCount = std::uniform_int_distribution<int>(0, kReportTicks - 1)(mRandom);
        debugLog("SCHEDULE PHASE [%i] TICKS, REPORTS SPREAD OVER [%i] TICKS\n", mTickCount, mSpreadTicks);
    }
    try {
        getNumIpAddresses();

        std::string hostName;
        int error = 0;
        std::vector<std::uint32_t> addresses;
        if (!localHostName(hostName, error)) {
            warningLog("Error [%i]  when getting local host name.\n", error);
        } else if (!localIpv4Addresses(addresses)) {
            warningLog("Yikes! Bad host lookup.\n");
        } else {
            for (std::size_t i = 0; i < addresses.size(); ++i) {
                infoLog("Address [%s]\n", getIpAddrString(addresses[i]).c_str());
                if (i < mLocalEndpoints.size())
                    mLocalEndpoints[i] = boost::asio::ip::udp::endpoint(
                        boost::asio::ip::address_v4(addresses[i]), kWatchdogPort);
            }
        }
        // One bound socket per local address, opened and closed as addresses
        // come and go; the groups joined on each.
        mLocalNetwork = std::make_unique<LocalNetwork>(
            mIoService, kWatchdogPort,
            std::vector<GroupMembership*>{&mMulticast.membership(), &mMulticastCloud.membership()},
            [this] { onLocalNetworkChanged(); });
        mLocalNetwork->refresh();
        {
            // The dialog shows the name from its first refresh on.
            std::lock_guard<std::mutex> lock(mStateMutex);
            mHostName = mLocalNetwork->hostName();
        }
        startTickTimer();
    } catch (...) {
        reportException("KivServer::KivServer");
    }
    debugLog("<==  KivServer::KivServer\n");
}

KivServer::~KivServer()
{
    debugLog("KivServer::~KivServer\n");
    // Wait only for a loop that is still running: a worker that never ran
    // or left through an exception has nothing more to finish.
    while (mRunActive.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    KivServer* self = this;
    gKivServer.compare_exchange_strong(self, nullptr);
}

void KivServer::run()
{
    mRunActive.store(true);
    debugLog("==>  KivServer::run\n");
    try {
        // The tick is not a timer of the io_context: the loop runs the
        // handlers until the tick is due, then the tick. Waiting so costs
        // one system call a tick (the wait itself, with the tick's time as
        // its timeout); an Asio timer re-armed every second costs two more,
        // and a wake-up through its timer descriptor.
        auto work = boost::asio::make_work_guard(mIoService);
        while (!mIoService.stopped()) {
            if (mTickRunning && std::chrono::steady_clock::now() >= mTickDue)
                onTick();
            else if (mTickRunning)
                mIoService.run_one_until(mTickDue);
            else
                mIoService.run_one();
        }
        mRunExited.store(true);
        infoLog("KivServer::run HAS EXITED CORRECTLY\n");
        debugLog("<==  KivServer::run\n");
    } catch (...) {
        reportException("KivServer::run", LogLevel::error);
    }
    mRunActive.store(false);
}

void KivServer::handle_stop()
{
    debugLog("KivServer::handle_stop\n");
    mIoService.stop();
}

std::string KivServer::getOsDescription()
{
    if (mOsDescription.empty())
        mOsDescription = buildOsDescription();
    return mOsDescription;
}

std::string KivServer::getCpuUsageText() const
{
    std::lock_guard<std::mutex> lock(mStateMutex);
    return std::to_string(mCpuUsage);
}

std::string KivServer::hostNameText() const
{
    std::lock_guard<std::mutex> lock(mStateMutex);
    return mHostName;
}

std::string KivServer::localIpInCommonText() const
{
    std::lock_guard<std::mutex> lock(mStateMutex);
    return mLocalIpInCommon;
}

std::string KivServer::cloudSrvIpAddrText() const
{
    std::lock_guard<std::mutex> lock(mStateMutex);
    return mCloudSrvIpAddr;
}

void KivServer::setCloudSrvIpAddr(const std::string& address)
{
    std::lock_guard<std::mutex> lock(mStateMutex);
    mCloudSrvIpAddr = address;
}

void KivServer::onBeaconMessage(std::uint32_t sender, const std::string& message)
{
    withBeacons([&](BeaconSlots& beacons) {
        for (BeaconTracker& beacon : beacons) {
            if (beacon.mIpAddress == sender) {
                // Saturates: the count shown stops at its largest value.
                if (beacon.mMessageCount < std::numeric_limits<std::int32_t>::max())
                    beacon.mMessageCount += 1;
                beacon.mMissedTicks = 0;
                // A slot bound by a configuration message has neither;
                // the first announcement that carries them names it.
                if (beacon.mName.empty() && beacon.mLocation.empty()) {
                    beacon.mName = getXmlValue("name", message);
                    beacon.mLocation = getXmlValue("location", message);
                }
                beacon.mPingTarget = getXmlValue("pingTarget", message);
                beacon.mPingTargetHealth = getXmlValueInt("pingTargetHealth", message);
                return;
            }
        }
        for (std::size_t i = 0; i < beacons.size(); ++i) {
            BeaconTracker& beacon = beacons[i];
            if (beacon.mIpAddress != 0)
                continue;
            beacon.mIpAddress = sender;
            beacon.mIpAddressText = getIpAddrString(sender);
            beacon.mName = getXmlValue("name", message);
            beacon.mLocation = getXmlValue("location", message);
            beacon.mSlotIndex = static_cast<std::int32_t>(i);
            return;
        }
    });
    stateMayHaveChanged();
}

void KivServer::onConfiguration(std::uint32_t sender, const std::string& message)
{
    applyCrossOver(sender, message);
    stateMayHaveChanged();
}

void KivServer::onCloudServerAddress(const std::string& address)
{
    setCloudSrvIpAddr(address);
}

int KivServer::getPingHealth(int slot)
{
    debugLog("KivServer::getPingHealth=[%i] \n", slot);
    int slotIndex = -1;
    {
        std::lock_guard<std::mutex> lock(mStateMutex);
        BeaconTracker& beacon = mBeacons.at(static_cast<std::size_t>(slot));
        if (beacon.mPingTarget.size() >= kMinPingTargetLength)
            return beacon.mPingTargetHealth;
        beacon.mPingTargetHealth = 0;
        slotIndex = beacon.mSlotIndex;
    }
    debugLog("RETURN HEALTH=[%i][%i] \n", 0, slotIndex);
    return 0;
}

void KivServer::startTickTimer()
{
    mTickRunning = true;
    mTickSeconds = 1;
    mTickDue += std::chrono::seconds(1);
}

void KivServer::setTickObserver(std::function<void()> observer)
{
    boost::asio::post(mIoService, [this, observer = std::move(observer)]() mutable {
        mTickObserver = std::move(observer);
    });
}

void KivServer::onTick()
{
    if (!mTickRunning)
        return;
    const auto period = std::chrono::seconds(mTickSeconds);
    const auto now = std::chrono::steady_clock::now();
    const auto missed = (now - mTickDue) / period;
    const bool stalled = missed > kMaxCatchUpTicks;
    if (stalled)
        catchUpAfterStall(static_cast<int>(missed));
    onPeriodic();
    mKeepAliveMissed = false;
    mReportMissed = false;
    if (mTickObserver)
        mTickObserver();
    stateMayHaveChanged();
    // From the previous due time, not from now: the tick never drifts, and a
    // tick a little late is followed at once by the next. After a stall
    // (a suspended machine, a stopped process) the schedule goes on from now.
    mTickDue = stalled ? now + period : mTickDue + period;
}

void KivServer::catchUpAfterStall(int missedTicks)
{
    infoLog("KivServer::onTick  [%i] ticks missed, not replayed\n", missedTicks);
    const int before = mTickCount;
    const int after = before + missedTicks;
    // Whatever fell due in the gap goes out once, with this tick.
    mKeepAliveMissed = after / kKeepAliveTicks != before / kKeepAliveTicks;
    mReportMissed = after / kReportTicks != before / kReportTicks;
    mTickCount = after % kReportTicks;
    // A spread report whose moment fell in the gap goes with this tick.
    for (int& delay : mReportDelay)
        delay = std::max(0, delay - missedTicks);
    mAlarmHoldoff = std::max(0, mAlarmHoldoff - missedTicks);
}

void KivServer::onPeriodic()
{
    ageBeacons();
    // Counted round the report period, which the keep-alive period divides:
    // the schedule is the same and the count never overflows.
    static_assert(kReportTicks % kKeepAliveTicks == 0, "keep-alives fall on report ticks");
    mTickCount = (mTickCount + 1) % kReportTicks;
    keepAlivePass();
    reportPass();
    alarmPass();
}

void KivServer::ageBeacons()
{
    std::lock_guard<std::mutex> lock(mStateMutex);
    for (BeaconTracker& beacon : mBeacons) {
        if (beacon.mMissedTicks < std::numeric_limits<std::int32_t>::max())
            beacon.mMissedTicks += 1;  // saturates
        if (beacon.mMissedTicks >= 3) {
            beacon.mMessageCount = 0;
            beacon.mPingTargetHealth = 0;
        }
        if (beacon.mPingTarget == "0.0.0.0" || beacon.mPingTarget.size() < kMinPingTargetLength)
            beacon.mPingTargetHealth = 0;
    }
}

UdpBoundSocket* KivServer::boundSocketFor(const boost::asio::ip::udp::endpoint& local) const
{
    UdpBoundSocket* socket = mLocalNetwork ? mLocalNetwork->socketFor(local.address()) : nullptr;
    if (socket == nullptr)
        warningLog("*** NOT SENT: no socket on [%s]\n", local.address().to_string().c_str());
    return socket;
}

void KivServer::onLocalNetworkChanged()
{
    {
        std::lock_guard<std::mutex> lock(mStateMutex);
        mHostName = mLocalNetwork->hostName();
    }
    // The pairs follow the addresses: made again from the configuration in
    // force, new ones report at the next tick.
    if (mPairsConfigured) {
        std::vector<std::string> locals;
        for (std::uint32_t address : mLocalNetwork->addresses())
            locals.push_back(getIpAddrString(address));
        const Settings before = settings();
        mConfigFaults.begin(mPairSender);
        try {
            makePairs(locals, mPairServers, mPairPort, 0);
        } catch (...) {
            reportException("KivServer::setCrossOver");
        }
        logConfigurationApplied(before, mLocalNetwork->changeHeld());
    }
    // After the pairs: the address in common is part of what views show.
    stateMayHaveChanged();
}

void KivServer::keepAlivePass()
{
    const bool due = mTickCount % kKeepAliveTicks == 0 || mKeepAliveMissed;
    if (!due || !mCrossOverSet || !mUdpServer)
        return;
    // The name as it is now: a renamed host shows in its next keep-alive.
    std::string hostName;
    int error = 0;
    if (localHostName(hostName, error)) {
        std::lock_guard<std::mutex> lock(mStateMutex);
        mHostName = hostName;
    }
    for (int k = 0; k < mNumLinks; ++k) {
        debugLog("sendData for watchdog KEEP ALIVE[%i] \n", k);
        if (UdpBoundSocket* socket = boundSocketFor(mLocalEndpoints[k])) {
            const std::string text =
                getKeepAliveXml(mLocalEndpoints[k].address().to_string());
            socket->sendData(text, mServerEndpoints[k]);
        }
    }
}

void KivServer::reportPass()
{
    if (!mUdpServer)
        return;
    // Every pair on the ten-minute schedule; a pair made new since the last
    // tick (by a configuration or an address change) at once, or when its
    // spread delay has run out.
    const bool all = mTickCount % kReportTicks == 0 || mReportMissed;
    for (int k = 0; k < mNumLinks; ++k) {
        if (!all && !mReportPending[k])
            continue;
        if (!all && mReportDelay[k] > 0) {
            mReportDelay[k] -= 1;
            continue;
        }
        debugLog("sendData for watchdog [%i] \n", k);
        UdpBoundSocket* socket = boundSocketFor(mLocalEndpoints[k]);
        if (socket != nullptr) {
            const std::string text = getReportXml(mLocalEndpoints[k].address().to_string());
            socket->sendData(text, mServerEndpoints[k]);
        }
        // A report that could not leave from its pair's address (no socket
        // there, or not bound yet) is still owed: it goes at the first tick
        // that can send it. One the network refused is not sent again.
        mReportPending[k] = socket == nullptr || !socket->bound();
        mReportDelay[k] = 0;
    }
}

void KivServer::alarmPass()
{
    if (mAlarmHoldoff > 0)
        mAlarmHoldoff -= 1;  // stops at zero: no alarm held off
    const int sample = CpuUsage::getCpuUsage();
    {
        std::lock_guard<std::mutex> lock(mStateMutex);
        mCpuUsage = sample;
    }
    if (sample < mAlarmPercent) {
        mAlarmCountdown = mAlarmSeconds;
        return;
    }
    // A count from the configuration at zero or below already lets the
    // first high sample through; counting further down would overflow.
    if (mAlarmCountdown > 0)
        mAlarmCountdown -= 1;
    if (mAlarmCountdown > 0)
        return;
    mAlarmCountdown = 0;
    if (mAlarmHoldoff > 0 || !mUdpServer)
        return;
    // The alarm's one line at info level (the Windows service's Event Log
    // takes it), once however many pairs it goes to; at debug the trace
    // lines below say it.
    if (mNumLinks > 0 && logLevel() != LogLevel::debug)
        infoLog("CPU alarm: CPU at [%i] %%, sending CPU_ALARM\n", sample);
    bool sent = false;
    for (int k = 0; k < mNumLinks; ++k) {
        debugLog("sendData for network [%i] \n", k);
        if (UdpBoundSocket* socket = boundSocketFor(mLocalEndpoints[k])) {
            socket->sendData(getAlarmXml(), mServerEndpoints[k]);
            sent = sent || socket->bound();
        }
    }
    // Held off only once an alarm went out: a station configured while
    // busy alarms as soon as it has a pair, not three minutes later.
    if (sent)
        mAlarmHoldoff = kAlarmHoldoffTicks;
}

view::ViewState KivServer::viewState()
{
    view::ViewState state;
    state.osDescription = getOsDescription();
    std::lock_guard<std::mutex> lock(mStateMutex);
    for (int slot = 0; slot < kBeaconSlotCount; ++slot) {
        const BeaconTracker& beacon = mBeacons[static_cast<std::size_t>(slot)];
        view::SlotState& s = state.slots[static_cast<std::size_t>(slot)];
        s.address = beacon.mIpAddressText;
        s.name = beacon.mName;
        s.location = beacon.mLocation;
        s.messageCount = beacon.mMessageCount;
        s.missedTicks = beacon.mMissedTicks;
        s.pingTarget = beacon.mPingTarget;
        s.pingTargetHealth = beacon.mPingTargetHealth;
    }
    state.cpuText = std::to_string(mCpuUsage);
    state.hostName = mHostName;
    state.localIpInCommon = mLocalIpInCommon;
    return state;
}

void KivServer::postPingTarget(std::uint32_t address)
{
    boost::asio::post(mIoService, [this, address] { sendPingTargetNow(address); });
}

void KivServer::sendPingTargetNow(std::uint32_t address)
{
    const std::string command = "<setPingTarget>" + getIpAddrString(address) + "</setPingTarget>";
    mMulticast.sendData(command);
    for (int slot = 0; slot < kBeaconSlotCount; ++slot) {
        const std::string destination =
            withBeacons([slot](BeaconSlots& beacons) { return beacons[slot].mIpAddressText; });
        mMulticast.sendData(command, destination, kWatchdogPort);
    }
}

}  // namespace kiv
