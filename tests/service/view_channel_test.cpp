// The view channel of the real service, on a socket in a temporary
// directory, with a raw viewer that speaks the frames itself.
#include "service/view_channel.h"

#include <atomic>
#include <filesystem>

#include <unistd.h>

#include "base/event_text.h"
#include "base/text_helpers.h"
#include "support/running_service.h"

namespace kiv::test {
namespace {

using namespace std::chrono_literals;
using Where = UdpPeer::Where;
constexpr std::uint16_t kBeaconPort = 34543;
constexpr const char* kGroup = "224.2.2.224";

std::string announcement(const std::string& name)
{
    return "<beacon><name>" + name + "</name><location>hall</location><pingTarget>10.9.9.9</pingTarget>"
           "<pingTargetHealth>2</pingTargetHealth></beacon>";
}

// One connection; every wait is bounded.
class RawViewer
{
public:
    explicit RawViewer(const std::string& path) { mStream = view::connectView(mIo, path, mError); }

    void write(const std::string& bytes)
    {
        std::size_t done = 0;
        // A failed write (the service closed first) is seen by the reads.
        bool failed = false;
        while (mStream && done < bytes.size() && !failed) {
            bool finished = false;
            mStream->asyncWriteSome(boost::asio::buffer(bytes.data() + done, bytes.size() - done),
                                    [&](const boost::system::error_code& e, std::size_t n) {
                                        finished = true;
                                        done += n;
                                        failed = static_cast<bool>(e);
                                    });
            mIo.restart();
            mIo.run_for(5s);
            if (!finished)
                return;
        }
    }

    // The next whole frame; nullopt at the end of the stream or after `timeout`.
    std::optional<view::Message> next(std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            if (std::optional<view::Message> m = mReader.next())
                return m;
            if (mEnded || std::chrono::steady_clock::now() >= deadline)
                return std::nullopt;
            if (!mReading) {
                mReading = true;
                mStream->asyncReadSome(boost::asio::buffer(mBuffer), [this](const boost::system::error_code& e,
                                                                            std::size_t n) {
                    mReading = false;
                    mReader.feed(mBuffer.data(), n);
                    mEnded = static_cast<bool>(e);
                });
            }
            mIo.restart();
            mIo.run_until(deadline);
        }
    }

    // Reads until `done` holds for the state or the events.
    template <typename Done>
    bool readUntil(Done done)
    {
        while (!done()) {
            const std::optional<view::Message> m = next();
            if (!m)
                return false;
            if (m->type == static_cast<std::uint8_t>(view::MessageType::state)) {
                lastDelta = view::ViewState();
                EXPECT_TRUE(view::applyState(m->body, state));
                view::applyState(m->body, lastDelta);
            } else if (std::optional<std::string> e = view::decodeEvent(m->body)) {
                events.push_back(*e);
            }
        }
        return true;
    }

    // Whether the service closed the connection (frames before the end are skipped).
    bool closedByService()
    {
        while (next())
            ;
        return mEnded;
    }

    view::ViewState state;
    view::ViewState lastDelta;  // the latest state message alone
    std::vector<std::string> events;

private:
    boost::asio::io_context mIo;
    boost::system::error_code mError;
    std::unique_ptr<view::ViewStream> mStream;
    view::FrameReader mReader;
    std::array<char, 4096> mBuffer{};
    bool mReading = false;
    bool mEnded = false;
};

class ViewChannelTest : public RunningService
{
protected:
    void SetUp() override
    {
        RunningService::SetUp();
        if (IsSkipped())
            return;
        mDirectory = std::filesystem::temp_directory_path() / ("varn-view-" + std::to_string(::getpid()));
        path = (mDirectory / "run" / "view").string();
        channel = std::make_unique<ViewChannel>(*server, view::openViewListener(server->ioContext(), path));
    }
    void TearDown() override
    {
        channel.reset();
        RunningService::TearDown();
        std::filesystem::remove_all(mDirectory);
    }

    // A viewer past the version exchange, with the whole state read.
    std::unique_ptr<RawViewer> attach()
    {
        auto viewer = std::make_unique<RawViewer>(path);
        viewer->write(view::encodeHello());
        const std::optional<view::Message> hello = viewer->next();
        EXPECT_TRUE(hello && view::decodeHello(hello->body) == view::kVersion);
        const std::optional<view::Message> whole = viewer->next();
        EXPECT_TRUE(whole && view::applyState(whole->body, viewer->state));
        return viewer;
    }

    std::size_t viewers() { return onWorker([this] { return channel->viewerCount(); }).value_or(99); }

    std::string path;
    std::unique_ptr<ViewChannel> channel;

private:
    std::filesystem::path mDirectory;
};

TEST_F(ViewChannelTest, AnnouncementInTheWholeStateThenAsADelta)
{
    UdpPeer beaconA("10.1.2.11", 0, Where::PeerNamespace);
    beaconA.setMulticastInterface("10.1.2.11");
    ASSERT_TRUE(beaconA.sendTo(announcement("a"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.1.2.11"));
    const auto viewer = attach();
    EXPECT_EQ("a", viewer->state.slots[0].name);
    EXPECT_EQ(server->hostNameText(), viewer->state.hostName);

    UdpPeer beaconB("10.1.2.12", 0, Where::PeerNamespace);
    beaconB.setMulticastInterface("10.1.2.12");
    ASSERT_TRUE(beaconB.sendTo(announcement("b"), kGroup, kBeaconPort));
    ASSERT_TRUE(viewer->readUntil([&] { return viewer->state.slots[1].name == "b"; }));
    EXPECT_EQ("10.1.2.12", viewer->lastDelta.slots[1].address);
    EXPECT_EQ("", viewer->lastDelta.slots[0].address);  // unchanged: not sent again
    EXPECT_EQ("", viewer->lastDelta.hostName);
}

TEST_F(ViewChannelTest, SetPingTargetFromAViewerGoesToTheGroupAndEachBeacon)
{
    UdpPeer group("0.0.0.0", kBeaconPort, Where::PeerNamespace, /*reuse=*/true);
    group.joinGroup(kGroup, "10.1.2.1");
    UdpPeer beaconA("10.1.2.11", kBeaconPort, Where::PeerNamespace, true);
    UdpPeer beaconB("10.1.2.12", kBeaconPort, Where::PeerNamespace, true);
    beaconA.setMulticastInterface("10.1.2.11");
    beaconB.setMulticastInterface("10.1.2.12");
    ASSERT_TRUE(beaconA.sendTo(announcement("a"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(0, "10.1.2.11"));
    ASSERT_TRUE(beaconB.sendTo(announcement("b"), kGroup, kBeaconPort));
    ASSERT_TRUE(slotHolds(1, "10.1.2.12"));
    group.drain(100ms);

    const auto viewer = attach();
    viewer->write(view::encodeSetPingTarget(0));  // not usable: nothing goes out
    viewer->write(view::encodeSetPingTarget(getIpAddrInt("10.1.2.3")));
    const std::string command = "<setPingTarget>10.1.2.3</setPingTarget>";
    for (int i = 0; i < 3; ++i) {
        const std::optional<Datagram> d = group.receive();
        ASSERT_TRUE(d) << i;
        EXPECT_EQ(command, d->data);
    }
    for (UdpPeer* beacon : {&beaconA, &beaconB}) {
        const std::optional<Datagram> d = beacon->receive();
        ASSERT_TRUE(d);
        EXPECT_EQ(command, d->data);
    }
}

TEST_F(ViewChannelTest, JunkOversizedAndWrongVersionCloseOnlyTheirConnection)
{
    const auto good = attach();
    const std::string oversized("\x00\x01\x00\x01", 4);
    for (const std::string& bad : {std::string("\x00\x00\x00\x03junk", 7), oversized, view::encodeHello(2)}) {
        RawViewer viewer(path);
        viewer.write(bad);
        ASSERT_TRUE(viewer.closedByService());
    }
    EXPECT_TRUE(log.contains("View channel: uid 0 refused: it speaks version 2, the service 1\n"));
    UdpPeer beacon("10.1.2.11", 0, Where::PeerNamespace);
    beacon.setMulticastInterface("10.1.2.11");
    ASSERT_TRUE(beacon.sendTo(announcement("a"), kGroup, kBeaconPort));
    EXPECT_TRUE(good->readUntil([&] { return good->state.slots[0].name == "a"; }));
    EXPECT_EQ(1u, viewers());
}

TEST_F(ViewChannelTest, AConnectionThatSaysNoHelloGivesItsPlaceBack)
{
    RawViewer silent(path);
    EXPECT_FALSE(silent.next(20s));
    EXPECT_TRUE(log.contains("View channel: uid 0 closed: it said no hello within 10 s\n"));
    EXPECT_EQ(0u, viewers());
}

TEST_F(ViewChannelTest, TheSeventeenthViewerIsRefused)
{
    std::vector<std::unique_ptr<RawViewer>> attached;
    for (std::size_t i = 0; i < kMaxViewers; ++i)
        attached.push_back(attach());
    RawViewer extra(path);
    extra.write(view::encodeHello());
    const std::optional<view::Message> m = extra.next();
    ASSERT_TRUE(m);
    const std::optional<view::RefusalMessage> refusal = view::decodeRefusal(m->body);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(view::Refusal::tooManyViewers, refusal->reason);
    EXPECT_TRUE(extra.closedByService());
    EXPECT_EQ(kMaxViewers, viewers());
}

TEST_F(ViewChannelTest, AViewerThatStopsReadingIsClosedWhileTheTickGoesOn)
{
    auto ticks = std::make_shared<std::atomic<int>>(0);
    server->setTickObserver([ticks] { ++*ticks; });
    const auto stalled = attach();
    const std::string item = "\r Flood= " + std::string(1000, 'x') + "\r";
    // Bounded: far more than the queue and the socket's buffers hold.
    for (int i = 0; i < 200 && viewers() == 1; ++i) {
        for (int j = 0; j < 100; ++j)
            gEventText.append(item);
    }
    ASSERT_TRUE(waitFor([&] { return viewers() == 0; }));
    EXPECT_TRUE(log.contains("View channel: uid 0 left (0 of 16 viewers)\n"));
    const int before = ticks->load();
    EXPECT_TRUE(waitFor([&] { return ticks->load() >= before + 2; }));
}

}  // namespace
}  // namespace kiv::test
