// The UDP command server's datagram handling with its 1501-byte buffer: only
// 1500 bytes are zeroed before each receive, so a long datagram leaves its
// last byte behind for the next one. Each frame of the input is one datagram
// from a requester on loopback, whose socket collects the replies; the
// traced text and the replies are checked against the buffer rules. The
// reply bound is on, as it is in the field: a status request may go
// unanswered only when the bound says so, and the replies never exceed it.
// The server binds port 45654: run in a private network namespace.
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>

#include <poll.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include "base/service_options.h"
#include "fuzz_support.h"
#include "net/udp_kiv_server.h"
#include "support/fake_host.h"

namespace {

namespace asio = boost::asio;
using asio::ip::udp;
using kiv::UdpKivServer;
using kiv::fuzz::quoted;

using Clock = std::chrono::steady_clock;

constexpr std::string_view kDataLine = "SIP RX DATA  bytes_transferred=[";
constexpr std::string_view kStatusTaken = "UdpKivServer::handle_STATUS_REQUEST";
// Low enough that the fuzzer's pace meets it all the time.
constexpr unsigned kRate = 100;

kiv::ServiceOptions boundOn()
{
    kiv::ServiceOptions options;
    options.statusRate = kRate;
    return options;
}

struct Harness {
    Harness()
    {
        kiv::setDebugLogWriter([this](const std::string& line) {
            if (line.compare(0, kDataLine.size(), kDataLine) == 0)
                dataLines.push_back(line);
            if (line == kStatusTaken)
                statusTaken = true;
        });
        kiv::setConsoleWriter([](const char*, std::size_t) {});
        requester.open(udp::v4());
        requester.bind(udp::endpoint(asio::ip::make_address_v4("127.0.0.1"), 0));
        requester.non_blocking(true);
        requesterEndpoint = requester.local_endpoint();
        server = new UdpKivServer(io, boundOn());
    }
    kiv::test::FakeCpu cpu{{42}};
    kiv::test::FakeHostNetwork host{{"10.1.2.5"}};
    asio::io_context io;  // never run: the harness hands the datagrams in
    udp::socket requester{io};
    udp::endpoint requesterEndpoint;
    UdpKivServer* server = nullptr;
    std::vector<std::string> dataLines;
    bool statusTaken = false;
    std::deque<Clock::time_point> replyTimes;  // of the last two seconds and a bit

    // Replies sent since `since`.
    std::size_t repliesSince(Clock::time_point since) const
    {
        std::size_t count = 0;
        for (auto t = replyTimes.rbegin(); t != replyTimes.rend() && *t > since; ++t)
            ++count;
        return count;
    }

    // A reply over loopback is there when the send returns; one that is
    // due is still given a moment.
    std::optional<std::string> reply(bool due = false)
    {
        if (due) {
            pollfd p{requester.native_handle(), POLLIN, 0};
            ::poll(&p, 1, 1000);
        }
        std::array<char, 2048> buffer;
        udp::endpoint from;
        boost::system::error_code error;
        const std::size_t n = requester.receive_from(asio::buffer(buffer), from, 0, error);
        if (error)
            return std::nullopt;
        return std::string(buffer.data(), n);
    }
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
    while (h.reply()) {
    }
    for (std::string_view datagram : kiv::fuzz::splitFrames(data, size)) {
        const std::string context = "datagram " + quoted(datagram);
        h.dataLines.clear();
        h.statusTaken = false;
        const Clock::time_point before = Clock::now();
        h.server->handleDatagram(datagram.data(), datagram.size(), h.requesterEndpoint);

        // The text is what was received up to its first zero byte, never
        // more than the 1501 bytes a receive offers; the length logged is the
        // length handled.
        const std::size_t taken = std::min(datagram.size(), UdpKivServer::kReceiveSize);
        const std::string text(datagram.data(), strnlen(datagram.data(), taken));
        VARN_FUZZ_CHECK(h.dataLines.size() == 1, context);
        VARN_FUZZ_CHECK(h.dataLines[0] == std::string(kDataLine) + std::to_string(taken) +
                                              "] data=[" + text.c_str() + "]\n",
                        context + " traced as " + quoted(h.dataLines[0]));

        const bool answered = datagram.size() > UdpKivServer::kParseThreshold &&
                              text.find("BEACON_CFG_ALARM ") == std::string::npos &&
                              text.find("STATUS_REQUEST ") != std::string::npos;
        // A request the server did not take was held back by the bound: its
        // bucket of 2N is then empty, which takes at least 2N - 1 replies
        // within the last two seconds.
        const bool dropped = answered && !h.statusTaken;
        VARN_FUZZ_CHECK(!dropped || h.repliesSince(before - std::chrono::milliseconds(2100)) >= 2 * kRate - 1,
                        context + " dropped after " +
                            std::to_string(h.repliesSince(before - std::chrono::milliseconds(2100))) +
                            " replies in two seconds");
        const std::optional<std::string> reply = h.reply(answered && !dropped);
        VARN_FUZZ_CHECK((answered && !dropped) == reply.has_value(), context);
        if (reply) {
            h.replyTimes.push_back(before);
            while (h.replyTimes.front() < before - std::chrono::milliseconds(2100))
                h.replyTimes.pop_front();
            // Never more than the burst and a second's rate within a second.
            const std::size_t lastSecond = h.repliesSince(Clock::now() - std::chrono::seconds(1));
            VARN_FUZZ_CHECK(lastSecond <= 3 * kRate + 1,
                            context + ": " + std::to_string(lastSecond) + " replies within a second");
        }
        if (reply) {
            const std::string head = "<status><ipAddr>10.1.2.5</ipAddr>\n<ipPort>45654</ipPort>\n"
                                     "<cpuPercent>42</cpuPercent>\n<os>";
            VARN_FUZZ_CHECK(reply->compare(0, head.size(), head) == 0,
                            context + " answered " + quoted(*reply));
        }
        VARN_FUZZ_CHECK(!h.reply(), context + " answered twice");
    }
    return 0;
}
