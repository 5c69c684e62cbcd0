#include "tools/probe/probe_view.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>

#include "beacon/beacon_tracker.h"
#include "service/view_client.h"
#include "tools/common/output.h"
#include "tools/common/tool_main.h"

namespace asio = boost::asio;

namespace kiv::tools {

namespace {

// How long --once waits for the service to answer.
constexpr std::chrono::seconds kOnceWait{5};
// After the state, the latest events follow at once; --once takes what
// comes until the stream has been quiet this long (bounded by kSettleLimit).
constexpr std::chrono::milliseconds kSettleQuiet{200};
constexpr std::chrono::milliseconds kSettleLimit{1000};

// The words of the dialog's indicators: a beacon heard in the last tick or
// two is current, after two missed ticks late, after three lost.
const char* beaconWord(const view::SlotState& slot)
{
    if (slot.address.empty())
        return "none";
    if (slot.missedTicks >= 3)
        return "lost";
    if (slot.missedTicks == 2)
        return "late";
    return "current";
}

// A slot's ping health as the dialog takes it: no ping target, no health.
std::int32_t effectiveHealth(const view::SlotState& slot)
{
    return slot.pingTarget.size() < kMinPingTargetLength ? 0 : slot.pingTargetHealth;
}

// Health 1 leaves the indicator as it was.
const char* pingWord(const view::SlotState& slot, const char* before)
{
    const std::int32_t health = effectiveHealth(slot);
    if (health <= 0)
        return "bad";
    if (health >= 2)
        return "good";
    return before;
}

using PingWords = std::array<const char*, view::kSlotCount>;

PingWords freshPingWords()
{
    PingWords words;
    words.fill("none");
    return words;
}

Fields slotFields(int slot, const view::SlotState& state, const char* ping)
{
    return {{"slot", std::to_string(slot + 1)},
            {"state", beaconWord(state)},
            {"address", state.address},
            {"name", state.name},
            {"location", state.location},
            {"count", std::to_string(state.messageCount)},
            {"missedTicks", std::to_string(state.missedTicks)},
            {"pingTarget", state.pingTarget},
            {"health", std::to_string(effectiveHealth(state))},
            {"pingState", ping}};
}

Fields stationFields(const view::ViewState& state)
{
    return {{"cpu", state.cpuText},
            {"host", state.hostName},
            {"inCommon", state.localIpInCommon},
            {"os", state.osDescription}};
}

// An event item as the dialog lists it: without the carriage returns that
// frame it in the event text.
std::string eventText(const std::string& item)
{
    const std::size_t first = item.find_first_not_of('\r');
    if (first == std::string::npos)
        return std::string();
    return item.substr(first, item.find_last_not_of('\r') - first + 1);
}

void printEvent(const std::string& item)
{
    printLine("event" + fieldsText({{"text", eventText(item)}}));
}

std::string jsonSnapshot(const view::ViewState& state, const PingWords& ping, const std::vector<std::string>& events)
{
    std::string json = "{\"slots\": [";
    for (int slot = 0; slot < view::kSlotCount; ++slot) {
        const Fields fields = slotFields(slot, state.slots[static_cast<std::size_t>(slot)],
                                         ping[static_cast<std::size_t>(slot)]);
        json += slot == 0 ? "{" : ", {";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            const auto& [key, value] = fields[i];
            const bool number = key == "slot" || key == "count" || key == "missedTicks" || key == "health";
            json += (i == 0 ? "" : ", ") + jsonString(key) + ": " + (number ? value : jsonString(value));
        }
        json += "}";
    }
    json += "], \"cpu\": " + jsonString(state.cpuText);
    json += ", \"hostName\": " + jsonString(state.hostName);
    json += ", \"localIpInCommon\": " + jsonString(state.localIpInCommon);
    json += ", \"osDescription\": " + jsonString(state.osDescription);
    json += ", \"events\": [";
    for (std::size_t i = 0; i < events.size(); ++i)
        json += (i == 0 ? "" : ", ") + jsonString(eventText(events[i]));
    return json + "]}";
}

int once(const ProbeOptions& options)
{
    std::mutex mutex;
    std::condition_variable changed;
    ViewClient client(options.viewSocket);
    client.setObserver([&] {
        std::lock_guard<std::mutex> lock(mutex);
        changed.notify_all();
    });
    client.start();
    if (client.waitForFirstAnswer(kOnceWait) != ViewLink::connected) {
        std::fprintf(stderr, "varn-probe: %s\n", client.problem().c_str());
        return kExitFailure;
    }
    // The events a new viewer gets come right behind the state.
    const auto limit = std::chrono::steady_clock::now() + kSettleLimit;
    {
        std::unique_lock<std::mutex> lock(mutex);
        std::uint64_t seen = client.generation();
        while (std::chrono::steady_clock::now() < limit) {
            changed.wait_for(lock, kSettleQuiet);
            const std::uint64_t now = client.generation();
            if (now == seen)
                break;
            seen = now;
        }
    }
    const view::ViewState state = client.state();
    const std::vector<std::string> events = client.takeEvents();
    PingWords ping = freshPingWords();
    for (int slot = 0; slot < view::kSlotCount; ++slot)
        ping[static_cast<std::size_t>(slot)] = pingWord(state.slots[static_cast<std::size_t>(slot)], "none");
    if (options.json) {
        printLine(jsonSnapshot(state, ping, events));
        return 0;
    }
    for (int slot = 0; slot < view::kSlotCount; ++slot)
        printLine("slot" + fieldsText(slotFields(slot, state.slots[static_cast<std::size_t>(slot)],
                                                 ping[static_cast<std::size_t>(slot)])));
    printLine("station" + fieldsText(stationFields(state)));
    for (const std::string& item : events)
        printEvent(item);
    return 0;
}

// The live view: prints what changed each time the client has news, on
// this thread; ends on SIGINT or SIGTERM.
class LiveView
{
public:
    LiveView(asio::io_context& io, ViewClient& client) : mIo(io), mClient(client) {}

    void show()
    {
        const ViewLink link = mClient.link();
        if (link != ViewLink::connected) {
            const std::string problem = mClient.problem();
            if (!mShown || mLastLink != link || mLastProblem != problem)
                printLine(problem);
            mShown = true;
            mLastLink = link;
            mLastProblem = problem;
            mPing = freshPingWords();
            mPrinted = false;
            if (link == ViewLink::accessDenied || link == ViewLink::refused) {
                mStatus = kExitFailure;
                mIo.stop();
            }
            return;
        }
        const view::ViewState state = mClient.state();
        for (int slot = 0; slot < view::kSlotCount; ++slot) {
            const auto index = static_cast<std::size_t>(slot);
            const char* ping = pingWord(state.slots[index], mPing[index]);
            if (!mPrinted || mLastLink != link || state.slots[index] != mState.slots[index] || ping != mPing[index])
                printLine("slot" + fieldsText(slotFields(slot, state.slots[index], ping)));
            mPing[index] = ping;
        }
        if (!mPrinted || mLastLink != link || stationFields(state) != stationFields(mState))
            printLine("station" + fieldsText(stationFields(state)));
        for (const std::string& item : mClient.takeEvents())
            printEvent(item);
        mState = state;
        mPrinted = true;
        mShown = true;
        mLastLink = link;
        mLastProblem.clear();
    }

    int status() const { return mStatus; }

private:
    asio::io_context& mIo;
    ViewClient& mClient;
    bool mShown = false;
    bool mPrinted = false;
    ViewLink mLastLink = ViewLink::waiting;
    std::string mLastProblem;
    view::ViewState mState;
    PingWords mPing = freshPingWords();
    int mStatus = 0;
};

int live(const ProbeOptions& options)
{
    asio::io_context io;
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code& error, int) {
        if (!error)
            io.stop();
    });
    ViewClient client(options.viewSocket);
    LiveView shown(io, client);
    client.setObserver([&io, &shown] { asio::post(io, [&shown] { shown.show(); }); });
    client.start();
    // A service that is there answers at once; only one that is not gets
    // the waiting line.
    client.waitForFirstAnswer(kViewRetryInterval);
    asio::post(io, [&shown] { shown.show(); });
    io.run();
    return shown.status();
}

}  // namespace

int view(const ProbeOptions& options)
{
    return options.once ? once(options) : live(options);
}

}  // namespace kiv::tools
