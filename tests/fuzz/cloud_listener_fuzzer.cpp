// The cloud listener's datagram handling on a real watchdog server whose
// worker does not run. Each frame of the input is one datagram; the echo,
// the event line and the kept server address are checked for each. The
// server opens its sockets: run in a private network namespace.
#include <cstring>

#include "base/event_text.h"
#include "base/text_helpers.h"
#include "fuzz_support.h"
#include "service/kiv_server.h"
#include "support/fake_host.h"
#include "support/kiv_server_probe.h"

namespace {

using kiv::fuzz::quoted;

struct Harness {
    Harness()
    {
        kiv::setDebugLogWriter([](const std::string&) {});
        kiv::setConsoleWriter([this](const char* data, std::size_t size) { console.append(data, size); });
        server = new kiv::KivServer();
        probe = new kiv::test::KivServerProbe(*server);
    }
    kiv::test::FakeCpu cpu{{0}};
    kiv::test::FakeHostNetwork host{{"10.1.2.5"}};
    kiv::KivServer* server = nullptr;
    kiv::test::KivServerProbe* probe = nullptr;
    std::string console;
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
    h.server->setCloudSrvIpAddr("unset");
    gEventText.take();
    for (std::string_view datagram : kiv::fuzz::splitFrames(data, size)) {
        const std::string context = "datagram " + quoted(datagram);
        const std::string before = h.server->cloudSrvIpAddrText();
        h.console.clear();
        h.probe->cloud().handleDatagram(datagram.data(), datagram.size());

        // Echoed whole (as far as the buffer holds it), shown and kept only
        // up to a zero byte.
        const std::string_view taken = datagram.substr(0, MulticastReceiverCloud::kRecvBufferSize);
        VARN_FUZZ_CHECK(h.console == std::string(taken) + "\n", context);
        const std::string shown(taken.data(), strnlen(taken.data(), taken.size()));
        VARN_FUZZ_CHECK(gEventText.take() == "\r MulticastRX= " + shown + "\r", context);
        const std::string kept = h.server->cloudSrvIpAddrText();
        if (datagram.size() > MulticastReceiverCloud::kParseThreshold) {
            VARN_FUZZ_CHECK(kept.find('\0') == std::string::npos, context);
            VARN_FUZZ_CHECK(taken.find(kept) != std::string_view::npos, context + " kept " + quoted(kept));
        } else {
            VARN_FUZZ_CHECK(kept == before, context);
        }
    }
    return 0;
}
