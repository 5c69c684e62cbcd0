// The beacon channel's datagram handling on a real watchdog server whose
// worker does not run: slot binding, updates, the command echo and the
// crossover, with the real records. Each frame of the input is one datagram;
// its first byte picks the sender (or, for '7', lets one tick pass), the rest
// is the datagram. The server opens its sockets, so this runs in a private
// network namespace.
#include <array>
#include <optional>

#include "base/event_text.h"
#include "base/text_helpers.h"
#include "fuzz_support.h"
#include "service/kiv_server.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using kiv::fuzz::quoted;

// Beacons on this host and on others; two share an address but not a port.
const std::array<udp::endpoint, 7> kSenders = {{
    {asio::ip::make_address_v4("10.0.0.9"), 34543},
    {asio::ip::make_address_v4("10.0.0.10"), 34543},
    {asio::ip::make_address_v4("10.0.0.11"), 34543},
    {asio::ip::make_address_v4("10.0.0.12"), 34543},
    {asio::ip::make_address_v4("10.1.2.1"), 40000},
    {asio::ip::make_address_v4("10.0.0.9"), 5000},
    {asio::ip::make_address_v4("192.168.7.1"), 34543},
}};
constexpr std::size_t kTickSelector = 7;  // '7' in the seeds

struct Slot {
    std::uint32_t address = 0;
    std::string addressText, name, location, pingTarget;
    std::int32_t health = 0, missed = 0, count = 0, index = 0;

    bool sameBinding(const Slot& o) const
    {
        return address == o.address && addressText == o.addressText && name == o.name &&
               location == o.location && index == o.index;
    }
    bool operator==(const Slot& o) const
    {
        return sameBinding(o) && pingTarget == o.pingTarget && health == o.health &&
               missed == o.missed && count == o.count;
    }
    bool operator!=(const Slot& o) const { return !(*this == o); }
};
using Slots = std::array<Slot, kiv::kBeaconSlotCount>;

struct Harness {
    Harness()
    {
        kiv::fuzz::silenceService();
        CpuUsage::setSampler([this] { return kCpuCycle[cpuStep++ % kCpuCycle.size()]; });
        server = new kiv::KivServer();
        probe = new kiv::test::KivServerProbe(*server);
        reset();
    }
    static constexpr std::array<int, 3> kCpuCycle{{0, 100, 55}};
    std::size_t cpuStep = 0;
    // Addresses on loopback: the keep-alives and reports of a tick find
    // their server at once or fail at once (no neighbour to wait for).
    kiv::test::FakeHostNetwork host{{"10.0.0.9", "10.0.0.10"}};
    kiv::KivServer* server = nullptr;
    kiv::test::KivServerProbe* probe = nullptr;

    Slots slots()
    {
        return server->withBeacons([](kiv::BeaconSlots& b) {
            Slots s;
            for (std::size_t i = 0; i < b.size(); ++i)
                s[i] = Slot{b[i].mIpAddress,  b[i].mIpAddressText,    b[i].mName,
                            b[i].mLocation,   b[i].mPingTarget,       b[i].mPingTargetHealth,
                            b[i].mMissedTicks, b[i].mMessageCount,     b[i].mSlotIndex};
            return s;
        });
    }

    // Back to a fresh server after each input, giving back what the input
    // made, so that libFuzzer's leak check sees nothing held over.
    void reset()
    {
        cpuStep = 0;
        server->withBeacons([](kiv::BeaconSlots& b) {
            for (kiv::BeaconTracker& t : b) {
                t.mIpAddress = 0;
                t.mIpAddressText = std::string();
                t.mName = std::string();
                t.mLocation = std::string();
                t.mPingTarget = std::string();
                t.mPingTargetHealth = -1;
                t.mMissedTicks = 0;
                t.mMessageCount = 0;
                t.mSlotIndex = -1;
            }
        });
        probe->clearCrossOver();
        gEventText.take();
    }
};

Harness& harness()
{
    static Harness* h = new Harness();  // lives to the end of the process
    return *h;
}

void checkShape(const Slots& s, const std::string& context)
{
    bool freeSeen = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i].address == 0) {
            freeSeen = true;
            continue;
        }
        // Slots are taken from the lowest free one and never given back.
        VARN_FUZZ_CHECK(!freeSeen, context);
        VARN_FUZZ_CHECK(s[i].index == static_cast<std::int32_t>(i), context);
        VARN_FUZZ_CHECK(s[i].addressText == getIpAddrString(s[i].address), context);
        for (std::size_t j = 0; j < i; ++j)
            VARN_FUZZ_CHECK(s[j].address != s[i].address, context);
    }
}

void checkDatagram(const Slots& before, const Slots& after, std::uint32_t sender,
                   std::string_view datagram)
{
    const std::string context = "datagram " + quoted(datagram) + " from " + getIpAddrString(sender);
    const std::string_view taken = datagram.substr(0, MulticastReceiver::kRecvBufferSize);
    const bool parsed = datagram.size() > MulticastReceiver::kParseThreshold &&
                        taken.find("</setPingTarget>") == std::string_view::npos;
    if (!parsed) {
        for (std::size_t i = 0; i < before.size(); ++i)
            VARN_FUZZ_CHECK(before[i] == after[i], context);
        return;
    }
    std::optional<std::size_t> known, bound;
    for (std::size_t i = 0; i < before.size() && !known; ++i) {
        if (before[i].address == sender)
            known = i;
    }
    if (!known) {
        for (std::size_t i = 0; i < before.size() && !bound; ++i) {
            if (before[i].address == 0)
                bound = i;
        }
    }
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (known == i) {
            // A slot bound without a name or location takes both from the
            // first datagram that carries them.
            Slot named = before[i];
            if (named.name.empty() && named.location.empty()) {
                named.name = getXmlValue("name", std::string(taken));
                named.location = getXmlValue("location", std::string(taken));
            }
            VARN_FUZZ_CHECK(after[i].sameBinding(named), context);
            VARN_FUZZ_CHECK(after[i].count == before[i].count + 1, context);
            VARN_FUZZ_CHECK(after[i].missed == 0, context);
        } else if (bound == i) {
            VARN_FUZZ_CHECK(after[i].address == sender, context);
            VARN_FUZZ_CHECK(after[i].count == before[i].count, context);
        } else {
            VARN_FUZZ_CHECK(after[i] == before[i], context);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Harness& h = harness();
    for (std::string_view frame : kiv::fuzz::splitFrames(data, size)) {
        if (frame.empty())
            continue;
        const std::size_t selector = static_cast<unsigned char>(frame[0]) % (kSenders.size() + 1);
        const std::string_view datagram = frame.substr(1);
        const Slots before = h.slots();
        if (selector == kTickSelector) {
            h.server->onPeriodic();
            const Slots after = h.slots();
            for (std::size_t i = 0; i < before.size(); ++i)
                VARN_FUZZ_CHECK(after[i].sameBinding(before[i]), "tick");
        } else {
            const udp::endpoint& sender = kSenders[selector];
            h.server->multicast().handleDatagram(datagram.data(), datagram.size(), sender);
            checkDatagram(before, h.slots(), sender.address().to_v4().to_uint(), datagram);
        }
        checkShape(h.slots(), "after " + quoted(frame));
        VARN_FUZZ_CHECK(h.probe->numLinks() >= 0 && h.probe->numLinks() <= kiv::kMaxLinks,
                        quoted(frame));
    }
    h.reset();
    return 0;
}
