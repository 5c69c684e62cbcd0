// Test doubles for the host's addresses and the CPU load.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/text_helpers.h"
#include "metrics/cpu_usage.h"
#include "net/host_network.h"

namespace kiv::test {

// Installs a host name and address list for the life of the object; the
// list may be changed while it lives (the server sees it at its next look).
class FakeHostNetwork
{
public:
    explicit FakeHostNetwork(std::vector<std::string> addresses, std::string hostName = "plant-ws7",
                             bool nameFails = false, bool lookupFails = false)
    {
        setAddresses(addresses);
        HostNetwork fake;
        fake.hostName = [hostName, nameFails](std::string& name, int& error) {
            if (nameFails) {
                error = 10093;
                return false;
            }
            name = hostName;
            return true;
        };
        fake.localAddresses = [state = mState, lookupFails](std::vector<std::uint32_t>& out) {
            if (lookupFails)
                return false;
            std::lock_guard<std::mutex> lock(state->mutex);
            out = state->addresses;
            return true;
        };
        fake.resolveName = [](const std::string& name) -> std::uint32_t {
            return name == "watchdog-1" ? 0xC0A80701u : 0u;
        };
        setHostNetwork(std::move(fake));
    }
    ~FakeHostNetwork() { setHostNetwork(HostNetwork{}); }
    FakeHostNetwork(const FakeHostNetwork&) = delete;
    FakeHostNetwork& operator=(const FakeHostNetwork&) = delete;

    void setAddresses(const std::vector<std::string>& addresses)
    {
        std::vector<std::uint32_t> values;
        for (const std::string& a : addresses)
            values.push_back(getIpAddrInt(a));
        std::lock_guard<std::mutex> lock(mState->mutex);
        mState->addresses = std::move(values);
    }

private:
    struct State {
        std::mutex mutex;
        std::vector<std::uint32_t> addresses;
    };
    std::shared_ptr<State> mState = std::make_shared<State>();
};

// Feeds CPU samples in order; repeats the last one when they run out.
class FakeCpu
{
public:
    explicit FakeCpu(std::vector<int> samples = {0}) : mSamples(samples.begin(), samples.end())
    {
        CpuUsage::setSampler([this] { return next(); });
    }
    ~FakeCpu() { CpuUsage::setSampler(nullptr); }
    FakeCpu(const FakeCpu&) = delete;
    FakeCpu& operator=(const FakeCpu&) = delete;

    void push(int sample)
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mSamples.push_back(sample);
    }

private:
    int next()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mSamples.size() > 1) {
            const int v = mSamples.front();
            mSamples.pop_front();
            return v;
        }
        return mSamples.empty() ? 0 : mSamples.front();
    }
    std::mutex mMutex;
    std::deque<int> mSamples;
};

}  // namespace kiv::test
