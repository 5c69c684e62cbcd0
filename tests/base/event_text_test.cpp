// The event text the dialog shows: taken whole, bounded by dropping the oldest
// whole items, the exception item with its log line, two threads at once, and
// the append observer.

#include "base/event_text.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace {

TEST(EventText, TakeEmptiesTheText)
{
    kiv::EventText events;
    events.append("\r BEFORE new kiv::KivServer()");
    events.append("\r\n");
    EXPECT_EQ("\r BEFORE new kiv::KivServer()\r\n", events.take());
    EXPECT_EQ("", events.take());
    events.append("\r MulticastRX= x\r");
    EXPECT_EQ("\r MulticastRX= x\r", events.take());
}

TEST(EventText, BoundedByDroppingTheOldestWholeItems)
{
    kiv::EventText events(100);
    for (int i = 0; i < 10; ++i)
        events.append("\r MulticastRX= item " + std::to_string(i) + " ..........\r");  // 30 bytes
    const std::string text = events.take();
    // Three whole items fit; seven were dropped and one item says so.
    EXPECT_EQ("\r EventText= 7 older items dropped\r"
              "\r MulticastRX= item 7 ..........\r"
              "\r MulticastRX= item 8 ..........\r"
              "\r MulticastRX= item 9 ..........\r",
              text);
    EXPECT_EQ("", events.take());  // the count starts over after a take
}

TEST(EventText, ExceptionItemCarriesTheLogLine)
{
    kiv::test::LogCapture log;
    gEventText.take();
    kiv::reportException("KivServer::run");
    EXPECT_TRUE(log.contains("*** EXCEPTION  KivServer::run\n"));
    EXPECT_EQ("\r KivServer= *** EXCEPTION  KivServer::run\n\r", gEventText.take());
}

TEST(EventText, AppendAndTakeFromTwoThreads)
{
    constexpr int kItems = 20000;
    kiv::EventText events(kItems * 4);  // room for all: nothing is dropped
    std::atomic<bool> written{false};
    std::thread writer([&] {
        for (int i = 0; i < kItems; ++i)
            events.append("\r e\r");
        written = true;
    });
    std::string all;
    while (!written)
        all += events.take();
    writer.join();
    all += events.take();
    ASSERT_EQ(kItems * 4u, all.size());
    for (std::size_t i = 0; i < all.size(); i += 4)
        ASSERT_EQ("\r e\r", all.substr(i, 4)) << "torn item at " << i;
}

}  // namespace

TEST(EventText, AppendObserverRunsAfterEachAppendUntilRemoved)
{
    kiv::EventText text;
    int calls = 0;
    text.setAppendObserver([&] { calls += text.take() == "\r a\r" ? 1 : 100; });
    text.append("\r a\r");
    text.setAppendObserver(nullptr);
    text.append("\r b\r");
    EXPECT_EQ(1, calls);
}
