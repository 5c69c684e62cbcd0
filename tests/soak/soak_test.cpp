// The soak: the whole service (KivSrv and its worker) runs for a bounded time
// in the harness's peers namespaces under steady traffic on every port, with
// the status panel refreshing on this thread as the dialog would. Then it
// checks that
//   - resident memory, the heap in use and the open descriptors stopped
//     growing after the warm-up,
//   - every status request was answered, each reply well formed,
//   - keep-alives reached both watchdog servers every 30 s without drift,
//   - every announcement, configuration, cloud datagram and command was taken,
//   - the service shut down cleanly: the destructor returned, the worker was
//     joined and the log says "KivServer::run HAS EXITED CORRECTLY".
//
// VARN_SOAK_SECONDS sets the duration: 100 s by default (three keep-alives),
// 1800 s for the long run (tests/soak/run-long.sh).
//
// Traffic (datagrams per second, all bounded, all stopping by themselves):
//   3 beacons (10.1.2.11-13, the peer side)     10 each, a configuration every 10 s
//   3 extra senders (10.1.2.14, 10.0.0.9-10)     2 each, a configuration every 15 s
//   cloud group (10.1.2.14, 10.0.0.11)          40
//   STATUS_REQUEST from 10.1.2.1, 192.168.7.1   40 each, one in flight
//   command port: other texts, an alarm command   1
//   unicast to the bound sockets' 34543           3 (2 island, 1 plant)
//   panel: refresh every 500 ms, radar every 100 ms, ping target every 10 s
#include <arpa/inet.h>
#include <dirent.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/debug_log.h"
#include "metrics/os_description.h"
#include "service/kiv_server.h"
#include "service/kiv_srv.h"
#include "shell/resource_ids.h"
#include "shell/status_panel.h"
#include "support/udp_peer.h"
#include "support/wait.h"

// Under a sanitizer the allocator keeps freed memory in quarantine and its
// shadow grows with use: resident memory says nothing about leaks there (the
// leak checker does), so the memory rules are only reported.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARN_SOAK_SANITIZED 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#ifndef VARN_SOAK_SANITIZED
#define VARN_SOAK_SANITIZED 1
#endif
#endif
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using kiv::KivServer;
using kiv::KivSrv;
using kiv::test::Datagram;
using kiv::test::UdpPeer;
using kiv::test::waitFor;
using Where = UdpPeer::Where;

constexpr std::uint16_t kBeaconPort = kiv::kWatchdogPort;
constexpr std::uint16_t kStatusPort = kiv::kCommandPort;
constexpr std::uint16_t kServerPort = 5000;  // the watchdog servers' port in the configuration
constexpr int kDefaultSeconds = 100;
constexpr int kMinSeconds = 40;
constexpr int kMaxSeconds = 24 * 3600;

// Keep-alive timing: the tick is armed 5 s after construction plus 1 s and
// then re-armed from its previous expiry, so keep-alive k comes at tick 30k,
// about 5 + 30k s after construction, and must not drift from that grid.
constexpr double kKeepAlivePeriod = 30.0;
constexpr double kFirstTickOffset = 5.0;
constexpr double kKeepAliveTolerance = 1.5;

// Memory: after a warm-up of the first third, the highest resident size of
// the last third may exceed the highest of the middle third by this much, and
// the highest heap in use by the second, finer margin.
constexpr long kRssMarginBytes = 512 * 1024;
constexpr long kHeapMarginBytes = 64 * 1024;
constexpr auto kSamplePeriod = 2s;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

int soakSeconds()
{
    const char* text = std::getenv("VARN_SOAK_SECONDS");
    const int value = (text != nullptr && *text != '\0') ? std::atoi(text) : kDefaultSeconds;
    return std::clamp(value, kMinSeconds, kMaxSeconds);
}

long residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Bytes the allocator has handed out and not got back, all arenas; -1 where
// it cannot be told. Much finer than the resident size: it does not move with
// the pages the allocator keeps for reuse.
long heapInUse()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long>(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

int threadCount()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    }
    return -1;
}

int openDescriptors()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1;  // the directory stream itself
}

// What each open descriptor refers to ("socket:[1234]", "/proc/stat", ...).
std::multiset<std::string> descriptorTargets()
{
    std::multiset<std::string> targets;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr)
        return targets;
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own)
            continue;
        char target[512] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        targets.insert(n > 0 ? std::string(target, static_cast<std::size_t>(n)) : path);
    }
    ::closedir(dir);
    return targets;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// `before`, a whole percent 0..100, `after`: the shape of the texts whose only
// varying part is the CPU load.
bool matchesWithPercent(const std::string& text, const std::string& before, const std::string& after)
{
    if (text.size() < before.size() + after.size() + 1 || !startsWith(text, before) ||
        !endsWith(text, after))
        return false;
    const std::string number = text.substr(before.size(), text.size() - before.size() - after.size());
    if (number.empty() || number.size() > 3 ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return std::atoi(number.c_str()) <= 100;
}

std::string localHostName()
{
    char buffer[256] = {};
    ::gethostname(buffer, sizeof buffer - 1);
    return buffer;
}

// Counts the service's log lines instead of printing them: a half-hour run
// would write gigabytes to standard error, and keeping them would be the
// very growth the soak looks for.
class LogCounters
{
public:
    LogCounters()
    {
        kiv::setDebugLogWriter([this](const std::string& text) { take(text); });
        kiv::setConsoleWriter([this](const char*, std::size_t size) {
            consoleBytes += static_cast<long>(size);
        });
    }
    ~LogCounters()
    {
        kiv::setDebugLogWriter(nullptr);
        kiv::setConsoleWriter(nullptr);
    }
    LogCounters(const LogCounters&) = delete;
    LogCounters& operator=(const LogCounters&) = delete;

    std::vector<std::string> exceptionLines() const
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mExceptions;
    }

    std::atomic<long> lines{0};
    std::atomic<long> consoleBytes{0};
    std::atomic<long> runExited{0};
    std::atomic<long> runLeft{0};
    std::atomic<long> exceptions{0};
    std::atomic<long> statusRequests{0};
    std::atomic<long> alarmCommands{0};
    std::atomic<long> cloudDatagrams{0};
    std::atomic<long> crossOvers{0};
    std::atomic<long> commandEchoes{0};
    std::atomic<long> boundDatagrams{0};

private:
    void take(const std::string& text)
    {
        ++lines;
        if (text == "KivServer::run HAS EXITED CORRECTLY\n")
            ++runExited;
        else if (text == "<==  KivServer::run\n")
            ++runLeft;
        else if (text == "STATUS_REQUEST")
            ++statusRequests;
        else if (text == "UdpKivServer::handle_BEACON_CFG_ALARM")
            ++alarmCommands;
        else if (text == "MulticastReceiverCloud::handle_receive_from\n")
            ++cloudDatagrams;
        else if (text == "<==  KivServer::setCrossOver\n")
            ++crossOvers;
        else if (text == "==>  UdpBoundSocket::handle_receive\n")
            ++boundDatagrams;
        else if (startsWith(text, "cmd=["))
            ++commandEchoes;
        else if (startsWith(text, "*** EXCEPTION")) {
            ++exceptions;
            std::lock_guard<std::mutex> lock(mMutex);
            if (mExceptions.size() < 10)
                mExceptions.push_back(text);
        }
    }

    mutable std::mutex mMutex;
    std::vector<std::string> mExceptions;
};

// The dialog's controls, reduced to counters and the last text of each.
class CountingView : public kiv::StatusView
{
public:
    void setControlText(int controlId, const std::string& text) override
    {
        ++textWrites;
        texts[controlId] = text;
    }
    void addListEntry(int, const std::string& text) override
    {
        if (startsWith(text, " MulticastRX= "))
            ++cloudEntries;
        else
            ++otherEntries;
    }
    void removeListEntry(int, const std::string&) override { ++removedEntries; }
    void clearList(int) override {}
    void repaintIndicator(int) override { ++repaints; }
    void loadStaticResources() override { ++staticLoads; }
    void showRadarFrame(int) override { ++radarFrames; }
    kiv::PingAddressEntry readPingAddress() override
    {
        return {4, {int(pingAddress >> 24), int(pingAddress >> 16 & 0xff), int(pingAddress >> 8 & 0xff), int(pingAddress & 0xff)}};
    }
    void showNotice(const std::string&, const std::string& text) override { notices.push_back(text); }
    std::vector<std::string> notices;

    std::map<int, std::string> texts;
    long textWrites = 0;
    long cloudEntries = 0;
    long otherEntries = 0;
    long removedEntries = 0;
    long repaints = 0;
    long staticLoads = 0;
    long radarFrames = 0;
    std::uint32_t pingAddress = 0;
};

// A steady schedule: each step waits for the next slot of a fixed grid. After
// a stall of more than a second it goes on from now instead of catching up in
// a burst.
class Pacer
{
public:
    explicit Pacer(Clock::duration period) : mPeriod(period), mNext(Clock::now()) {}

    // False once `stop` is set or `end` has come.
    bool next(const std::atomic<bool>& stop, Clock::time_point end)
    {
        mNext += mPeriod;
        const Clock::time_point now = Clock::now();
        if (now - mNext > 1s) {
            mNext = now;
            ++stalls;
        }
        std::this_thread::sleep_until(std::min(mNext, end));
        return !stop.load() && Clock::now() < end;
    }

    int stalls = 0;

private:
    Clock::duration mPeriod;
    Clock::time_point mNext;
};

std::string announcement(const std::string& name, const std::string& pingTarget, int health)
{
    return "<beacon><name>" + name + "</name><location>hall " + name + "</location><pingTarget>" +
           pingTarget + "</pingTarget><pingTargetHealth>" + std::to_string(health) +
           "</pingTargetHealth></beacon>";
}

// The two watchdog servers, always the same pairs; the third server shares
// no network with the program and must pair with nothing.
std::string configuration(const std::string& name)
{
    return announcement(name, "10.1.2.1", 2) +
           "<beaconCfgAlarm><srvIpAddr>10.1.2.1</srvIpAddr><srvIpAddr>192.168.7.1</srvIpAddr>"
           "<srvIpAddr>172.16.9.1</srvIpAddr><srvIpPort>5000</srvIpPort>"
           "<cpuPercent>100</cpuPercent><alarmSeconds>5</alarmSeconds></beaconCfgAlarm>";
}

std::optional<Datagram> readNow(int fd)
{
    char buffer[70000];
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0)
        return std::nullopt;
    Datagram d;
    d.data.assign(buffer, static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    d.fromAddress = text;
    d.fromPort = ntohs(from.sin_port);
    return d;
}

// What one watchdog server (a peer-side socket on port 5000) received.
struct WatchdogSide {
    std::string name;
    std::string local;  // the program's address on this network
    std::unique_ptr<UdpPeer> peer;
    std::vector<Clock::time_point> keepAlives;
    long reports = 0;
    long alarms = 0;
    long bad = 0;
    std::string firstBad;
};

// A beacon on the peer side: announces from its own address and port 34543,
// and receives the ping-target commands sent to it.
struct BeaconSide {
    std::string name;
    std::string address;
    std::unique_ptr<UdpPeer> peer;
    long sent = 0;                  // datagrams to the group: announcements and configurations
    std::atomic<long> commands{0};  // ping-target commands received
    long bad = 0;
    std::string firstBad;
};

struct RequesterSide {
    std::string destination;
    std::unique_ptr<UdpPeer> peer;
    long sent = 0;
    long answered = 0;
    long timeouts = 0;
    long sendFailures = 0;
    long bad = 0;
    std::string firstBad;
    double rttMin = 1e9;
    double rttMax = 0;
    double rttSum = 0;
    long rttCount = 0;
    int stalls = 0;
};

struct ResourceSample {
    double at;  // seconds after the start
    long bytes;
    long heap;
    int descriptors;
};

struct Window {
    long maxRss = 0;
    long maxHeap = 0;
    int minDescriptors = 1 << 30;
    int samples = 0;
};

class Soak
{
public:
    explicit Soak(int durationSeconds) : mDuration(std::chrono::seconds(durationSeconds)) {}

    void run();

private:
    void makePeers();
    void bindBeacons();
    void beaconTraffic();
    void extraTraffic();
    void cloudTraffic();
    void noiseTraffic();
    void statusTraffic(RequesterSide& side);
    void listenPeers();
    void takeWatchdog(WatchdogSide& side, const Datagram& d);
    void guiLoop(kiv::StatusPanel& panel);
    void sampleResources();
    void finishTraffic();
    void shutDown();
    void check();
    std::string summary() const;
    std::string expectedReplyBefore() const;

    Clock::duration mDuration;
    Clock::time_point mStart;
    Clock::time_point mConstructed;
    Clock::time_point mEnd;
    std::atomic<bool> mStop{false};
    std::atomic<bool> mListen{true};

    LogCounters mLog;
    std::unique_ptr<KivSrv> mHost;
    KivSrv* mHostPointer = nullptr;  // what the panel reads; cleared before the host goes
    KivServer* mServer = nullptr;
    CountingView mView;
    std::string mOs;
    std::string mHostName;

    std::array<BeaconSide, 3> mBeacons;
    std::array<WatchdogSide, 2> mWatchdogs;
    std::array<RequesterSide, 2> mRequesters;
    std::unique_ptr<UdpPeer> mGroupListener;
    std::unique_ptr<UdpPeer> mExtraRemote;
    std::unique_ptr<UdpPeer> mExtraLocalA;
    std::unique_ptr<UdpPeer> mExtraLocalB;
    std::unique_ptr<UdpPeer> mCloudRemote;
    std::unique_ptr<UdpPeer> mCloudLocal;
    std::unique_ptr<UdpPeer> mNoiseIsland;
    std::unique_ptr<UdpPeer> mNoisePlant;

    // Written by their own traffic thread, read after it was joined.
    long mExtraSent = 0;
    long mConfigsSent = 0;
    std::atomic<long> mConfigsSentTotal{0};
    long mCloudSent = 0;
    long mNoiseCommandPort = 0;
    long mAlarmCommandsSent = 0;
    long mBoundSent = 0;
    std::atomic<int> mTrafficStalls{0};

    // Written by the listener thread, read after it was joined.
    std::atomic<long> mGroupCommands{0};
    long mGroupOther = 0;
    long mGroupBad = 0;

    // The GUI thread's own.
    long mRefreshes = 0;
    long mPingCommands = 0;
    double mRefreshMax = 0;
    int mGuiStalls = 0;
    std::vector<ResourceSample> mSamples;
    std::map<int, std::string> mLastTexts;  // the dialog as last refreshed with the service up

    int mThreadsBefore = 0;
    int mDescriptorsBefore = 0;
    int mThreadsAfter = 0;
    int mDescriptorsAfter = 0;
    std::multiset<std::string> mTargetsBefore;
    std::vector<std::string> mLeftOpen;  // opened during the run and still open after it
    double mShutdownMs = 0;
    bool mInstanceGone = false;
    long mSlotCounts[3] = {-1, -1, -1};
};

std::string Soak::expectedReplyBefore() const
{
    return "<status><ipAddr>10.1.2.5</ipAddr>\n<ipPort>45654</ipPort>\n<cpuPercent>";
}

void Soak::makePeers()
{
    const char* beaconAddresses[] = {"10.1.2.11", "10.1.2.12", "10.1.2.13"};
    for (int i = 0; i < 3; ++i) {
        BeaconSide& b = mBeacons[i];
        b.name = "beacon-" + std::to_string(i + 1);
        b.address = beaconAddresses[i];
        b.peer = std::make_unique<UdpPeer>(b.address, kBeaconPort, Where::PeerNamespace, true);
        b.peer->setMulticastInterface(b.address);
    }
    mWatchdogs[0].name = "island";
    mWatchdogs[0].local = "10.1.2.5";
    mWatchdogs[0].peer = std::make_unique<UdpPeer>("10.1.2.1", kServerPort, Where::PeerNamespace);
    mWatchdogs[1].name = "plant";
    mWatchdogs[1].local = "192.168.7.20";
    mWatchdogs[1].peer = std::make_unique<UdpPeer>("192.168.7.1", kServerPort, Where::PeerNamespace);
    mRequesters[0].destination = "10.1.2.5";
    mRequesters[0].peer = std::make_unique<UdpPeer>("10.1.2.1", 0, Where::PeerNamespace);
    mRequesters[1].destination = "192.168.7.20";
    mRequesters[1].peer = std::make_unique<UdpPeer>("192.168.7.1", 0, Where::PeerNamespace);

    mGroupListener = std::make_unique<UdpPeer>("0.0.0.0", kBeaconPort, Where::PeerNamespace, true);
    mGroupListener->joinGroup(kiv::kBeaconGroup, "10.1.2.1");

    mExtraRemote = std::make_unique<UdpPeer>("10.1.2.14", 0, Where::PeerNamespace);
    mExtraRemote->setMulticastInterface("10.1.2.14");
    mExtraLocalA = std::make_unique<UdpPeer>("10.0.0.9", 0);
    mExtraLocalA->setMulticastInterface("10.1.2.5");
    mExtraLocalB = std::make_unique<UdpPeer>("10.0.0.10", 0);
    mExtraLocalB->setMulticastInterface("10.1.2.5");
    mCloudRemote = std::make_unique<UdpPeer>("10.1.2.14", 0, Where::PeerNamespace);
    mCloudRemote->setMulticastInterface("10.1.2.14");
    mCloudLocal = std::make_unique<UdpPeer>("10.0.0.11", 0);
    mCloudLocal->setMulticastInterface("10.1.2.5");
    mNoiseIsland = std::make_unique<UdpPeer>("10.1.2.14", 0, Where::PeerNamespace);
    mNoisePlant = std::make_unique<UdpPeer>("192.168.7.1", 0, Where::PeerNamespace);
}

// The three beacons take slots 0, 1 and 2 in this order before anything else
// is sent, and the first configuration sets up both pairs.
void Soak::bindBeacons()
{
    for (int i = 0; i < 3; ++i) {
        BeaconSide& b = mBeacons[i];
        ASSERT_TRUE(b.peer->sendTo(announcement(b.name, "10.1.2.1", 2), kiv::kBeaconGroup, kBeaconPort));
        ++b.sent;
        ASSERT_TRUE(waitFor([&] {
            return mServer->withBeacons(
                [&](kiv::BeaconSlots& slots) { return slots[i].mIpAddressText == b.address; });
        })) << b.name << " did not take slot " << i;
    }
    ASSERT_TRUE(mBeacons[0].peer->sendTo(configuration(mBeacons[0].name), kiv::kBeaconGroup, kBeaconPort));
    ++mBeacons[0].sent;
    ++mConfigsSentTotal;
    ASSERT_TRUE(waitFor([&] { return mLog.crossOvers.load() == 1; }));
    ASSERT_EQ("10.1.2.5,  192.168.7.20", mServer->localIpInCommonText());
}

void Soak::beaconTraffic()
{
    // 10 announcements per second from each beacon, in turn; every 10 s one
    // of them sends a configuration instead.
    Pacer pacer(std::chrono::microseconds(1000000 / 30));
    long step = 0;
    while (pacer.next(mStop, mEnd)) {
        BeaconSide& b = mBeacons[step % 3];
        const int health = static_cast<int>((step / 90) % 4);  // the ping indicators change now and then
        const bool config = step % 300 == 299;
        const std::string text = config ? configuration(b.name)
                                        : announcement(b.name, "10.1.2." + std::to_string(20 + step % 3), health);
        if (b.peer->sendTo(text, kiv::kBeaconGroup, kBeaconPort)) {
            ++b.sent;
            if (config) {
                ++mConfigsSent;
                ++mConfigsSentTotal;
            }
        }
        ++step;
    }
    mTrafficStalls += pacer.stalls;
}

void Soak::extraTraffic()
{
    // Senders that find every slot taken; one of them configures now and then.
    UdpPeer* senders[] = {mExtraRemote.get(), mExtraLocalA.get(), mExtraLocalB.get()};
    Pacer pacer(std::chrono::microseconds(1000000 / 6));
    long step = 0;
    while (pacer.next(mStop, mEnd)) {
        const int who = static_cast<int>(step % 3);
        const bool config = who == 0 && step % 90 == 0;
        const std::string name = "extra-" + std::to_string(who);
        const std::string text = config ? configuration(name) : announcement(name, "10.1.2.30", 1);
        if (senders[who]->sendTo(text, kiv::kBeaconGroup, kBeaconPort)) {
            ++mExtraSent;
            if (config)
                ++mConfigsSentTotal;
        }
        ++step;
    }
    mTrafficStalls += pacer.stalls;
}

void Soak::cloudTraffic()
{
    UdpPeer* senders[] = {mCloudRemote.get(), mCloudLocal.get()};
    Pacer pacer(25ms);
    long step = 0;
    while (pacer.next(mStop, mEnd)) {
        // Mostly server addresses, now and then a datagram too short to parse.
        const std::string text =
            step % 10 == 9 ? std::string("ping!")
                           : "<cloud><srvIpAddr>10.1.2.1</srvIpAddr><seq>" + std::to_string(step) +
                                 "</seq></cloud>";
        if (senders[step % 2]->sendTo(text, kiv::kCloudGroup, kBeaconPort))
            ++mCloudSent;
        ++step;
    }
}

void Soak::noiseTraffic()
{
    // Three datagrams per second to the bound sockets' port 34543 (two to the
    // island address, one to the plant's), and one to the command port with a
    // text that is no status request: no reply is due.
    Pacer pacer(250ms);
    long step = 0;
    while (pacer.next(mStop, mEnd)) {
        switch (step % 4) {
        case 0:
            if (mNoiseIsland->sendTo("<junk for the island socket/>", "10.1.2.5", kBeaconPort))
                ++mBoundSent;
            break;
        case 1:
            if (mNoisePlant->sendTo("<junk for the plant socket/>", "192.168.7.20", kBeaconPort))
                ++mBoundSent;
            break;
        case 2: {
            const bool alarm = step % 40 == 2;
            const std::string text = alarm ? "BEACON_CFG_ALARM cpu=90 seconds=5"
                                           : (step % 8 == 2 ? "short" : "HELLO WATCHDOG, nothing to do");
            if (mNoiseIsland->sendTo(text, "10.1.2.5", kStatusPort)) {
                ++mNoiseCommandPort;
                if (alarm)
                    ++mAlarmCommandsSent;
            }
            break;
        }
        default:
            if (mNoiseIsland->sendTo("<more junk for the island socket/>", "10.1.2.5", kBeaconPort))
                ++mBoundSent;
            break;
        }
        ++step;
    }
}

void Soak::statusTraffic(RequesterSide& side)
{
    const std::string before = expectedReplyBefore();
    const std::string after = "</cpuPercent>\n<os>" + mOs + "</os>\n</status>";
    auto take = [&](const Datagram& reply) {
        ++side.answered;
        if (reply.fromAddress != side.destination || reply.fromPort != kStatusPort ||
            !matchesWithPercent(reply.data, before, after)) {
            if (side.bad++ == 0)
                side.firstBad = reply.fromAddress + ":" + std::to_string(reply.fromPort) + " " + reply.data;
        }
    };
    // One request in flight: send, wait for its reply, keep the rate.
    Pacer pacer(25ms);
    long step = 0;
    while (pacer.next(mStop, mEnd)) {
        const std::string request = step % 10 == 5 ? "seq=" + std::to_string(step) + " STATUS_REQUEST tail"
                                                   : std::string("STATUS_REQUEST ");
        ++step;
        const Clock::time_point sentAt = Clock::now();
        if (!side.peer->sendTo(request, side.destination, kStatusPort)) {
            ++side.sendFailures;
            continue;
        }
        ++side.sent;
        const std::optional<Datagram> reply = side.peer->receive(2s);
        if (!reply) {
            ++side.timeouts;
            continue;
        }
        const double rtt = seconds(Clock::now() - sentAt);
        side.rttMin = std::min(side.rttMin, rtt);
        side.rttMax = std::max(side.rttMax, rtt);
        side.rttSum += rtt;
        ++side.rttCount;
        take(*reply);
    }
    // Replies that came later than the wait (there should be none).
    while (side.answered < side.sent) {
        const std::optional<Datagram> late = side.peer->receive(1s);
        if (!late)
            break;
        take(*late);
    }
    side.stalls = pacer.stalls;
}

void Soak::takeWatchdog(WatchdogSide& side, const Datagram& d)
{
    auto bad = [&](const std::string& why) {
        if (side.bad++ == 0)
            side.firstBad = why + ": " + d.fromAddress + ":" + std::to_string(d.fromPort) + " " + d.data;
    };
    if (d.fromAddress != side.local || d.fromPort != kBeaconPort) {
        bad("wrong sender");
        return;
    }
    if (startsWith(d.data, "<wdKA>\n")) {
        side.keepAlives.push_back(Clock::now());
        if (!matchesWithPercent(d.data, "<wdKA>\n<ipAddr>" + side.local + "</ipAddr>\n<cpuUsage>",
                                "</cpuUsage>\n<osDesc>" + mOs + "</osDesc>\n<hostName>" + mHostName +
                                    "</hostName>\n<wdVer>1.0</wdVer>\n</wdKA>\n"))
            bad("keep-alive");
    } else if (startsWith(d.data, "<wdStatus>\n<localIpInterfaces>")) {
        ++side.reports;
        if (d.data.find("<ipAddr>" + side.local + "</ipAddr>\n<ipPort>34543</ipPort>") == std::string::npos ||
            !endsWith(d.data, "</wdStatus>\n"))
            bad("report");
    } else if (startsWith(d.data, "<CPU_ALARM>\n")) {
        ++side.alarms;  // only when this host really ran at 100 % for 5 s
    } else {
        bad("unknown");
    }
}

void Soak::listenPeers()
{
    std::vector<pollfd> fds;
    for (WatchdogSide& w : mWatchdogs)
        fds.push_back({w.peer->fd(), POLLIN, 0});
    for (BeaconSide& b : mBeacons)
        fds.push_back({b.peer->fd(), POLLIN, 0});
    fds.push_back({mGroupListener->fd(), POLLIN, 0});
    const std::string commandStart = "<setPingTarget>10.1.2.";
    const std::string commandEnd = "</setPingTarget>";

    while (mListen.load()) {
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0)
                continue;
            while (const std::optional<Datagram> d = readNow(fds[i].fd)) {
                if (i < 2) {
                    takeWatchdog(mWatchdogs[i], *d);
                } else if (i < 5) {
                    BeaconSide& b = mBeacons[i - 2];
                    if (startsWith(d->data, commandStart) && endsWith(d->data, commandEnd) &&
                        d->fromAddress == "10.1.2.5" && d->fromPort == kBeaconPort) {
                        ++b.commands;
                    } else if (b.bad++ == 0) {
                        b.firstBad = d->fromAddress + ":" + std::to_string(d->fromPort) + " " + d->data;
                    }
                } else if (startsWith(d->data, "<setPingTarget>")) {
                    if (startsWith(d->data, commandStart) && endsWith(d->data, commandEnd) &&
                        d->fromPort == kBeaconPort)
                        ++mGroupCommands;
                    else
                        ++mGroupBad;
                } else {
                    ++mGroupOther;  // the beacons' own announcements, looped back
                }
            }
        }
    }
}

void Soak::sampleResources()
{
    mSamples.push_back({seconds(Clock::now() - mStart), residentBytes(), heapInUse(), openDescriptors()});
}

// This thread plays the dialog: the radar every 100 ms, the refresh every
// 500 ms, "Set Ping Target IP" every 10 s, and the resource samples.
void Soak::guiLoop(kiv::StatusPanel& panel)
{
    const std::atomic<bool> never{false};
    Pacer pacer(100ms);
    long step = 0;
    auto nextSample = Clock::now();
    while (pacer.next(never, mEnd)) {
        ++step;
        panel.advanceAnimation();
        if (step % 5 == 0) {
            const Clock::time_point before = Clock::now();
            panel.refreshStatusPanel();
            mRefreshMax = std::max(mRefreshMax, seconds(Clock::now() - before));
            ++mRefreshes;
        }
        if (step % 100 == 50) {
            mView.pingAddress = 0x0A010264u + static_cast<std::uint32_t>(mPingCommands % 50);  // 10.1.2.100..149
            panel.onSetPingTarget();
            ++mPingCommands;
        }
        if (Clock::now() >= nextSample) {
            sampleResources();
            nextSample += kSamplePeriod;
        }
    }
    mGuiStalls = pacer.stalls;
}

void Soak::finishTraffic()
{
    // Everything sent must have been taken; the datagrams still in flight
    // need a moment. Read the slots first: a beacon silent for three ticks
    // has its count cleared.
    waitFor([&] {
        return mServer->withBeacons([&](kiv::BeaconSlots& slots) {
            for (int i = 0; i < 3; ++i) {
                if (slots[i].mMessageCount != mBeacons[i].sent - 1)
                    return false;
            }
            return true;
        });
    }, 1500ms);
    mServer->withBeacons([&](kiv::BeaconSlots& slots) {
        for (int i = 0; i < 3; ++i)
            mSlotCounts[i] = slots[i].mMessageCount;
    });
    waitFor([&] {
        return mLog.cloudDatagrams.load() >= mCloudSent && mLog.crossOvers.load() >= mConfigsSentTotal.load() &&
               mLog.boundDatagrams.load() >= mBoundSent && mLog.alarmCommands.load() >= mAlarmCommandsSent &&
               mLog.commandEchoes.load() >= 3 * mPingCommands;
    }, 5s);
    waitFor([&] {
        // The listener still runs; its counters only grow.
        return mBeacons[0].commands >= mPingCommands && mBeacons[1].commands >= mPingCommands &&
               mBeacons[2].commands >= mPingCommands && mGroupCommands >= 3 * mPingCommands;
    }, 5s);
    mListen.store(false);
}

void Soak::shutDown()
{
    // "Exit": the panel sees no host any more, then the host goes.
    mHostPointer = nullptr;
    gServiceHost = nullptr;
    const Clock::time_point before = Clock::now();
    mHost.reset();
    mShutdownMs = seconds(Clock::now() - before) * 1000.0;
    mInstanceGone = KivServer::instance() == nullptr;
    mServer = nullptr;
}

void Soak::run()
{
    mOs = buildOsDescription();
    mHostName = localHostName();
    mThreadsBefore = threadCount();
    mDescriptorsBefore = openDescriptors();
    mTargetsBefore = descriptorTargets();
    mSamples.reserve(static_cast<std::size_t>(seconds(mDuration) / 2) + 16);
    for (WatchdogSide& w : mWatchdogs)
        w.keepAlives.reserve(static_cast<std::size_t>(seconds(mDuration) / kKeepAlivePeriod) + 8);

    mStart = Clock::now();
    mEnd = mStart + mDuration;
    mHost = std::make_unique<KivSrv>();
    mConstructed = Clock::now();
    mHostPointer = mHost.get();
    gServiceHost = mHost.get();
    mServer = mHost->server();
    ASSERT_NE(nullptr, mServer);
    sampleResources();

    {
        makePeers();
        std::thread listener([this] { listenPeers(); });
        bindBeacons();
        if (::testing::Test::HasFatalFailure()) {
            mListen.store(false);
            listener.join();
            shutDown();
            return;
        }
        std::vector<std::thread> traffic;
        traffic.emplace_back([this] { beaconTraffic(); });
        traffic.emplace_back([this] { extraTraffic(); });
        traffic.emplace_back([this] { cloudTraffic(); });
        traffic.emplace_back([this] { noiseTraffic(); });
        for (RequesterSide& r : mRequesters)
            traffic.emplace_back([this, &r] { statusTraffic(r); });

        kiv::StatusPanel panel(mView, mHostPointer);
        guiLoop(panel);

        mStop.store(true);
        for (std::thread& t : traffic)
            t.join();
        finishTraffic();
        listener.join();
        panel.refreshStatusPanel();  // the last event lines
        ++mRefreshes;
        mLastTexts = mView.texts;
        shutDown();
        panel.refreshStatusPanel();  // "Exit" seen: no server, nothing read
    }
    // All peers are gone now; so must be the service's threads and sockets.
    for (BeaconSide& b : mBeacons)
        b.peer.reset();
    mWatchdogs[0].peer.reset();
    mWatchdogs[1].peer.reset();
    mRequesters[0].peer.reset();
    mRequesters[1].peer.reset();
    mGroupListener.reset();
    mExtraRemote.reset();
    mExtraLocalA.reset();
    mExtraLocalB.reset();
    mCloudRemote.reset();
    mCloudLocal.reset();
    mNoiseIsland.reset();
    mNoisePlant.reset();
    mThreadsAfter = threadCount();
    mDescriptorsAfter = openDescriptors();
    std::multiset<std::string> before = mTargetsBefore;
    bool cpuMeterSeen = false;
    for (const std::string& target : descriptorTargets()) {
        const auto known = before.find(target);
        if (known != before.end()) {
            before.erase(known);
        } else if (target == "/proc/stat" && !cpuMeterSeen) {
            cpuMeterSeen = true;  // the process-wide CPU meter keeps it open by design
        } else {
            mLeftOpen.push_back(target);
        }
    }

    check();
    const std::string line = summary();
    std::printf("%s", line.c_str());
    std::fflush(stdout);
}

std::string Soak::summary() const
{
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(3);
    long statusSent = 0;
    long answered = 0;
    double rttMax = 0;
    double rttSum = 0;
    long rttCount = 0;
    for (const RequesterSide& r : mRequesters) {
        statusSent += r.sent;
        answered += r.answered;
        rttMax = std::max(rttMax, r.rttMax);
        rttSum += r.rttSum;
        rttCount += r.rttCount;
    }
    long beaconSent = 0;
    for (const BeaconSide& b : mBeacons)
        beaconSent += b.sent;
    double intervalMin = 1e9;
    double intervalMax = 0;
    double deviationMax = 0;
    std::string keepAliveCounts;
    for (const WatchdogSide& w : mWatchdogs) {
        keepAliveCounts += " " + w.name + "=" + std::to_string(w.keepAlives.size());
        for (std::size_t k = 1; k < w.keepAlives.size(); ++k) {
            const double interval = seconds(w.keepAlives[k] - w.keepAlives[k - 1]);
            intervalMin = std::min(intervalMin, interval);
            intervalMax = std::max(intervalMax, interval);
            const double deviation =
                seconds(w.keepAlives[k] - w.keepAlives[0]) - kKeepAlivePeriod * static_cast<double>(k);
            deviationMax = std::max(deviationMax, std::abs(deviation));
        }
    }
    const double duration = seconds(mDuration);
    const long inbound = beaconSent + mExtraSent + mCloudSent + statusSent + mNoiseCommandPort + mBoundSent;
    // The first sample after the warm-up.
    const auto warmSample = std::find_if(mSamples.begin(), mSamples.end(),
                                         [&](const ResourceSample& s) { return s.at >= duration / 3; });
    auto kib = [](long bytes) { return bytes / 1024; };

    out << "SOAK duration=" << static_cast<int>(duration) << "s"
        << " sent{beacons=" << beaconSent << " (configs " << mConfigsSent << ") extra=" << mExtraSent
        << " cloud=" << mCloudSent << " status=" << statusSent << " command_port_other=" << mNoiseCommandPort
        << " bound_34543=" << mBoundSent << " ping_target_cmds=" << mPingCommands << "}"
        << " rate=" << static_cast<long>(static_cast<double>(inbound) / duration) << "/s"
        << " replies=" << answered << "/" << statusSent;
    if (rttCount > 0)
        out << " rtt_ms{avg=" << rttSum / static_cast<double>(rttCount) * 1000.0 << " max=" << rttMax * 1000.0 << "}";
    if (!mSamples.empty()) {
        const ResourceSample& warm = warmSample != mSamples.end() ? *warmSample : mSamples.back();
        out << " rss_kib{first=" << kib(mSamples.front().bytes) << " warm=" << kib(warm.bytes)
            << " last=" << kib(mSamples.back().bytes) << "} heap_kib{first=" << kib(mSamples.front().heap)
            << " warm=" << kib(warm.heap) << " last=" << kib(mSamples.back().heap) << "}";
    }
    out << " keepalives{" << keepAliveCounts.substr(1);
    if (intervalMax > 0)
        out << " interval_s min=" << intervalMin << " max=" << intervalMax << " max_drift_s=" << deviationMax;
    out << "}"
        << " shutdown_ms=" << mShutdownMs << "\n";

    const std::vector<Clock::time_point>& island = mWatchdogs[0].keepAlives;
    out << "SOAK detail: reports=" << mWatchdogs[0].reports << "/" << mWatchdogs[1].reports
        << " first_keepalive_s=" << (island.empty() ? -1.0 : seconds(island.front() - mStart))
        << " cpu_alarms=" << mWatchdogs[0].alarms << "/" << mWatchdogs[1].alarms
        << " slots_counted=" << mSlotCounts[0] << "," << mSlotCounts[1] << "," << mSlotCounts[2]
        << " crossovers=" << mLog.crossOvers.load() << " cloud_taken=" << mLog.cloudDatagrams.load()
        << " cloud_event_lines=" << mView.cloudEntries << " bound_taken=" << mLog.boundDatagrams.load()
        << " cmd_echoes=" << mLog.commandEchoes.load() << " group_cmds=" << mGroupCommands.load()
        << " beacon_cmds=" << mBeacons[0].commands.load() << "," << mBeacons[1].commands.load() << ","
        << mBeacons[2].commands.load()
        << " refreshes=" << mRefreshes << " refresh_max_ms=" << mRefreshMax * 1000.0
        << " repaints=" << mView.repaints << " log_lines=" << mLog.lines.load()
        << " console_bytes=" << mLog.consoleBytes.load() << " stalls{gui=" << mGuiStalls
        << " traffic=" << mTrafficStalls.load() << " status=" << mRequesters[0].stalls + mRequesters[1].stalls << "}"
        << " threads=" << mThreadsBefore << "->" << mThreadsAfter << " fds=" << mDescriptorsBefore << "->"
        << mDescriptorsAfter << " left_open=" << mLeftOpen.size() << "\n";

    out << "SOAK over time (s: rss KiB/heap in use KiB):";
    const std::size_t stride = std::max<std::size_t>(1, mSamples.size() / 12);
    for (std::size_t i = 0; i < mSamples.size(); i += stride)
        out << " " << static_cast<int>(mSamples[i].at) << ":" << kib(mSamples[i].bytes) << "/" << kib(mSamples[i].heap);
    if (!mSamples.empty())
        out << " " << static_cast<int>(mSamples.back().at) << ":" << kib(mSamples.back().bytes) << "/"
            << kib(mSamples.back().heap);
    out << "\n";
    return out.str();
}

void Soak::check()
{
    const double duration = seconds(mDuration);

    // (1) Memory and descriptors stop growing after the warm-up. Windows by
    // time: [0, D/3) warm-up (the bounded event list and the allocator's
    // arenas fill), [D/3, 2D/3) middle, [2D/3, D] last. A steady leak raises
    // the last third's peak above the middle third's by a third of the whole
    // run's leak; a bounded structure does not. Two measures:
    //  - heap in use (all arenas): flat to the KiB at a steady load, so a
    //    64 KiB margin, which still covers a full event text (the GUI thread
    //    late), catches about 2 KiB/s in the short run and 0.1 KiB/s in the
    //    long one;
    //  - resident size, which also sees what bypasses the allocator (thread
    //    stacks, mappings) but moves with pages touched for the first time:
    //    512 KiB margin.
    // Descriptors come and go while a sample is taken (the CPU sampler's
    // /proc/stat, the address lookups), so their floor is compared: the
    // fewest open in the last third must not exceed the fewest in the middle.
    Window middle;
    Window last;
    for (const ResourceSample& s : mSamples) {
        Window* w = s.at < duration / 3 ? nullptr : (s.at < 2 * duration / 3 ? &middle : &last);
        if (w == nullptr)
            continue;
        w->maxRss = std::max(w->maxRss, s.bytes);
        w->maxHeap = std::max(w->maxHeap, s.heap);
        w->minDescriptors = std::min(w->minDescriptors, s.descriptors);
        ++w->samples;
    }
    EXPECT_GE(middle.samples, 3);
    EXPECT_GE(last.samples, 3);
    const bool residentFlat = last.maxRss <= middle.maxRss + kRssMarginBytes;
    const bool heapFlat = last.maxHeap <= middle.maxHeap + kHeapMarginBytes;
#ifdef VARN_SOAK_SANITIZED
    std::printf("SOAK memory rules reported only under a sanitizer: resident %ld -> %ld KiB (%s), heap %ld -> "
                "%ld KiB (%s)\n",
                middle.maxRss / 1024, last.maxRss / 1024, residentFlat ? "flat" : "GROWING",
                middle.maxHeap / 1024, last.maxHeap / 1024, heapFlat ? "flat" : "GROWING");
#else
    EXPECT_TRUE(residentFlat) << "resident memory still grows after the warm-up: middle third max "
                              << middle.maxRss / 1024 << " KiB, last third max " << last.maxRss / 1024 << " KiB";
    if (last.maxHeap >= 0) {
        EXPECT_TRUE(heapFlat) << "heap in use still grows after the warm-up: middle third max " << middle.maxHeap
                              << " bytes, last third max " << last.maxHeap << " bytes";
    }
#endif
    EXPECT_LE(last.minDescriptors, middle.minDescriptors) << "open descriptors still grow";

    // (2) Every status request answered, each reply well formed.
    for (const RequesterSide& r : mRequesters) {
        EXPECT_GT(r.sent, static_cast<long>(duration * 20)) << r.destination << ": too few requests went out";
        EXPECT_EQ(0, r.sendFailures) << r.destination;
        EXPECT_EQ(r.sent, r.answered) << "requests to " << r.destination << " without a reply";
        EXPECT_EQ(0, r.timeouts) << r.destination << ": replies later than 2 s";
        EXPECT_EQ(0, r.bad) << r.destination << ": first bad reply: " << r.firstBad;
    }
    EXPECT_EQ(mRequesters[0].sent + mRequesters[1].sent, mLog.statusRequests.load());

    // (3) Keep-alives every 30 s on the tick's grid, to both servers.
    const auto expectedKeepAlives = static_cast<std::size_t>(
        (duration - kFirstTickOffset - kKeepAliveTolerance) / kKeepAlivePeriod);
    for (const WatchdogSide& w : mWatchdogs) {
        EXPECT_GE(w.keepAlives.size(), expectedKeepAlives) << w.name << ": keep-alives missing";
        EXPECT_GE(w.keepAlives.size(), 1u) << w.name;
        EXPECT_EQ(0, w.bad) << w.name << ": " << w.firstBad;
        EXPECT_GE(w.reports, 1) << w.name << ": no report after the configuration";
        EXPECT_LE(w.reports, 1 + static_cast<long>(duration / kiv::kReportTicks) + 1) << w.name;
        if (w.keepAlives.empty())
            continue;
        const double first = seconds(w.keepAlives.front() - mStart);
        const double firstLatest = seconds(mConstructed - mStart) + kFirstTickOffset + kKeepAlivePeriod;
        EXPECT_GE(first, kFirstTickOffset + kKeepAlivePeriod - kKeepAliveTolerance) << w.name;
        EXPECT_LE(first, firstLatest + kKeepAliveTolerance) << w.name;
        for (std::size_t k = 1; k < w.keepAlives.size(); ++k) {
            const double offset = seconds(w.keepAlives[k] - w.keepAlives.front());
            EXPECT_NEAR(kKeepAlivePeriod * static_cast<double>(k), offset, kKeepAliveTolerance)
                << w.name << ": keep-alive " << k + 1 << " off the 30 s grid";
        }
    }

    // Everything else that was sent was taken.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(mBeacons[i].sent - 1, mSlotCounts[i]) << mBeacons[i].name << ": announcements not counted";
        EXPECT_EQ(mPingCommands, mBeacons[i].commands.load()) << mBeacons[i].name << ": ping-target commands";
        EXPECT_EQ(0, mBeacons[i].bad) << mBeacons[i].name << ": " << mBeacons[i].firstBad;
    }
    EXPECT_GE(mPingCommands, static_cast<long>(duration / 10) - 1);
    EXPECT_EQ(3 * mPingCommands, mGroupCommands.load()) << "ping-target commands on the group";
    EXPECT_EQ(0, mGroupBad);
    EXPECT_EQ(3 * mPingCommands, mLog.commandEchoes.load()) << "own commands heard back from the group";
    EXPECT_EQ(mConfigsSentTotal.load(), mLog.crossOvers.load()) << "configurations taken";
    EXPECT_EQ(mCloudSent, mLog.cloudDatagrams.load()) << "cloud datagrams taken";
    EXPECT_EQ(mCloudSent, mView.cloudEntries) << "cloud datagrams shown as event lines";
    EXPECT_EQ(mBoundSent, mLog.boundDatagrams.load()) << "datagrams to the bound sockets";
    EXPECT_EQ(mAlarmCommandsSent, mLog.alarmCommands.load());
    EXPECT_EQ(0, mLog.exceptions.load()) << "first: "
                                         << (mLog.exceptionLines().empty() ? "" : mLog.exceptionLines().front());

    // The panel kept showing what the service had.
    EXPECT_GE(mRefreshes, static_cast<long>(duration * 2) - 2);
    EXPECT_EQ(1, mView.staticLoads);
    std::map<int, std::string> shown = mLastTexts;
    for (int i = 0; i < 3; ++i) {
        const BeaconSide& b = mBeacons[i];
        const std::string text = shown[IDC_BEACON_TEXT0 + i];
        EXPECT_TRUE(startsWith(text, b.address + " : " + b.name + " : hall " + b.name + " : ")) << text;
    }
    EXPECT_EQ("10.1.2.5,  192.168.7.20", shown[IDC_LOCAL_IP_IN_COMMON]);
    EXPECT_EQ(mHostName, shown[IDC_HOST_NAME]);
    EXPECT_EQ(mOs, shown[IDC_OS_DESC]);
    EXPECT_TRUE(startsWith(shown[IDC_PING_TARGET_SHOWN], "10.1.2.1")) << shown[IDC_PING_TARGET_SHOWN];
    EXPECT_TRUE(mView.texts[IDC_BEACON_TEXT0].empty()) << "the panel still showed a slot after \"Exit\"";
    EXPECT_LT(mRefreshMax, 0.25) << "a refresh held the GUI thread";

    // (4) A clean end: the destructor returned, the worker left run() the
    // normal way and was joined, nothing of the service is left open (but
    // the process-wide CPU meter's /proc/stat, which stays open by design).
    EXPECT_EQ(1, mLog.runExited.load()) << "no \"KivServer::run HAS EXITED CORRECTLY\"";
    EXPECT_EQ(1, mLog.runLeft.load());
    EXPECT_TRUE(mInstanceGone);
    EXPECT_LT(mShutdownMs, 2000.0);
    EXPECT_EQ(mThreadsBefore, mThreadsAfter) << "a thread outlived the service";
    std::string leftOpen;
    for (const std::string& target : mLeftOpen)
        leftOpen += " " + target;
    EXPECT_TRUE(mLeftOpen.empty()) << "descriptors left open:" << leftOpen;
}

// A guard for the whole run: if anything hangs (the shut-down above all), the
// program ends itself well before the test's time limit, with a reason.
class HangGuard
{
public:
    explicit HangGuard(Clock::duration limit)
        : mThread([this, limit] {
              std::unique_lock<std::mutex> lock(mMutex);
              if (!mDone.wait_for(lock, limit, [this] { return mFinished; })) {
                  std::fprintf(stderr, "SOAK: still running %.0f s after the start: hung\n", seconds(limit));
                  std::_Exit(3);
              }
          })
    {
    }
    ~HangGuard()
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mFinished = true;
        }
        mDone.notify_all();
        mThread.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    std::mutex mMutex;
    std::condition_variable mDone;
    bool mFinished = false;
    std::thread mThread;
};

TEST(Soak, SteadyTrafficOnEveryPort)
{
    if (kiv::test::peerNamespace().empty())
        GTEST_SKIP() << "needs the harness's peers mode (tests/netns/run-in-netns.sh peers)";
    const int duration = soakSeconds();
    HangGuard guard(std::chrono::seconds(duration + 120));
    auto soak = std::make_unique<Soak>(duration);
    soak->run();
}

}  // namespace
