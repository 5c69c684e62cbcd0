#include "core/kiv_server.h"

#include <chrono>
#include <limits>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>

#include "core/debug_log.h"
#include "core/event_text.h"
#include "core/host_network.h"
#include "core/text_helpers.h"
#include "metrics/os_description.h"
#include "net/udp_bound_socket.h"
#include "net/udp_kiv_server.h"

namespace kiv {
namespace {

std::atomic<KivServer*> gKivServer{nullptr};

}  // namespace

KivServer* KivServer::instance()
{
    return gKivServer.load();
}

KivServer::KivServer()
    : mUdpServer(std::make_unique<UdpKivServer>(mIoService)),
      mMulticast(mIoService, kBeaconGroup),
      mMulticastCloud(mIoService, kCloudGroup),
      mTickTimer(mIoService, std::chrono::seconds(5))
{
    debugLog("==>  KivServer::KivServer\n");
    gKivServer.store(this);
    try {
        getNumIpAddresses();

        std::string hostName;
        int error = 0;
        std::vector<std::uint32_t> addresses;
        if (!localHostName(hostName, error)) {
            debugLog("Error [%i]  when getting local host name.\n", error);
        } else if (!localIpv4Addresses(addresses)) {
            debugLog("Yikes! Bad host lookup.\n");
        } else {
            int filled = 0;
            for (std::uint32_t address : addresses) {
                debugLog("Address [%s]\n", getIpAddrString(address).c_str());
                if (filled < kMaxLinks) {
                    mLocalEndpoints[filled] = boost::asio::ip::udp::endpoint(
                        boost::asio::ip::address_v4(address), kWatchdogPort);
                    ++filled;
                }
            }
            for (int i = 0; i < filled; ++i)
                mBoundSockets[i] = std::make_unique<UdpBoundSocket>(mIoService, mLocalEndpoints[i]);
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
        mIoService.run();
        mRunExited.store(true);
        debugLog("KivServer::run HAS EXITED CORRECTLY\n");
        debugLog("<==  KivServer::run\n");
    } catch (...) {
        reportException("KivServer::run");
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
    mTickTimer.expires_at(mTickTimer.expiry() + std::chrono::seconds(1));
    mTickTimer.async_wait([this](const boost::system::error_code& error) { onTick(error); });
}

void KivServer::onTick(const boost::system::error_code& error)
{
    if (!mTickRunning || error == boost::asio::error::operation_aborted)
        return;
    onPeriodic();
    // From the previous expiry, not from now: the tick never drifts, and a
    // late tick is followed at once by the next.
    mTickTimer.expires_at(mTickTimer.expiry() + std::chrono::seconds(mTickSeconds));
    mTickTimer.async_wait([this](const boost::system::error_code& e) { onTick(e); });
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
    for (const auto& socket : mBoundSockets) {
        if (socket && socket->localEndpoint().address() == local.address())
            return socket.get();
    }
    return nullptr;
}

void KivServer::keepAlivePass()
{
    if (mTickCount % kKeepAliveTicks != 0 || !mCrossOverSet || !mUdpServer)
        return;
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
    if (mTickCount % kReportTicks != 0 && !(mCrossOverSet && !mReportSent))
        return;
    for (int k = 0; k < mNumLinks; ++k) {
        debugLog("sendData for watchdog [%i] \n", k);
        if (UdpBoundSocket* socket = boundSocketFor(mLocalEndpoints[k])) {
            const std::string text = getReportXml(mLocalEndpoints[k].address().to_string());
            socket->sendData(text, mServerEndpoints[k]);
        }
        mReportSent = true;
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
    for (int k = 0; k < mNumLinks; ++k) {
        debugLog("sendData for network [%i] \n", k);
        if (UdpBoundSocket* socket = boundSocketFor(mLocalEndpoints[k]))
            socket->sendData(getAlarmXml(), mServerEndpoints[k]);
    }
    mAlarmHoldoff = kAlarmHoldoffTicks;
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
