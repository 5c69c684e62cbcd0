// The crossover configuration: the whole input is one configuration message
// for setCrossOver on a real watchdog server. The host has six addresses on
// four networks, so pairs, shared networks, duplicates and the five-pair
// limit are all within reach. The server opens its sockets: run in a private namespace.
#include <set>

#include "base/event_text.h"
#include "base/text_helpers.h"
#include "fuzz_support.h"
#include "service/kiv_server.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"

namespace {

using kiv::fuzz::quoted;

const std::vector<std::string> kLocals = {"10.1.2.5",  "10.1.2.6",  "192.168.7.20",
                                          "172.16.0.1", "10.1.2.7", "10.0.0.9"};

struct Harness {
    Harness()
    {
        kiv::setDebugLogWriter([this](const std::string& line) {
            if (line.rfind("*** EXCEPTION  KivServer::setCrossOver", 0) == 0)
                failed = true;
        });
        kiv::setConsoleWriter([](const char*, std::size_t) {});
        server = new kiv::KivServer();
        probe = new kiv::test::KivServerProbe(*server);
    }
    kiv::test::FakeCpu cpu{{0}};
    kiv::test::FakeHostNetwork host{kLocals};
    kiv::KivServer* server = nullptr;
    kiv::test::KivServerProbe* probe = nullptr;
    bool failed = false;
};

Harness& harness()
{
    static Harness* h = new Harness();  // lives to the end of the process
    return *h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Harness& h = harness();
    h.probe->clearCrossOver();
    h.failed = false;
    const std::string message(reinterpret_cast<const char*>(data), size);
    const std::string context = "configuration " + quoted(message);

    kiv::KivServer::setCrossOver(message);

    // An entry that cannot be used is skipped: the scan always completes.
    VARN_FUZZ_CHECK(h.probe->crossOverSet() && !h.failed, context);
    const int links = h.probe->numLinks();
    VARN_FUZZ_CHECK(links >= 0 && links <= kiv::kMaxLinks, context);
    const std::set<std::string> locals(kLocals.begin(), kLocals.end());
    std::set<std::string> pairs;
    std::string inCommon;
    for (int k = 0; k < links; ++k) {
        const auto& local = h.probe->localEndpoint(k);
        const auto& remote = h.probe->serverEndpoint(k);
        VARN_FUZZ_CHECK(local.address().is_v4() && remote.address().is_v4(), context);
        const std::string localText = local.address().to_string();
        // Local addresses of the host, each paired with a server on its own
        // /24 network, all on the one server port (a real one), no pair twice.
        VARN_FUZZ_CHECK(locals.count(localText) == 1, context);
        VARN_FUZZ_CHECK(pairs.insert(localText + ">" + remote.address().to_string()).second, context);
        VARN_FUZZ_CHECK(remote.port() != 0, context);  // never a pair that sends nowhere
        VARN_FUZZ_CHECK((remote.address().to_v4().to_uint() & 0xffu) != 0xffu, context);  // no broadcast
        VARN_FUZZ_CHECK((local.address().to_v4().to_uint() & 0xFFFFFF00u) ==
                            (remote.address().to_v4().to_uint() & 0xFFFFFF00u),
                        context);
        VARN_FUZZ_CHECK(local.port() == remote.port(), context);
        VARN_FUZZ_CHECK(local.port() == static_cast<unsigned short>(h.probe->remotePort()), context);
        if (!inCommon.empty())
            inCommon += ",  ";
        inCommon += localText;
    }
    VARN_FUZZ_CHECK(h.server->localIpInCommonText() == inCommon, context);
    // Junk never becomes a threshold or a delay.
    VARN_FUZZ_CHECK(h.probe->alarmPercent() >= 0 && h.probe->alarmPercent() <= 101, context);
    VARN_FUZZ_CHECK(h.probe->alarmSeconds() >= 0 && h.probe->alarmSeconds() <= 86400, context);
    gEventText.take();  // the exception items of this input
    return 0;
}
