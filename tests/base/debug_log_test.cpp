// The log levels of representative lines (nothing below the level reaches the
// writer or a sink), the journal's priority prefixes, and the repeat rule of a
// lasting fault on simulated time.

#include "base/debug_log.h"

#include <chrono>
#include <stdexcept>

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "base/event_text.h"
#include "base/repeated_warning.h"
#include "net/source_guard.h"
#include "support/log_capture.h"

namespace {

using kiv::LogLevel;
using kiv::RepeatedWarning;
using kiv::test::LogCapture;
using namespace std::chrono_literals;

// Every test here leaves the process at debug, where it starts.
class LogLevels : public ::testing::Test
{
protected:
    void TearDown() override { kiv::setLogLevel(LogLevel::debug); }
    LogCapture log;
};

TEST_F(LogLevels, RepresentativeLinesHaveTheirLevels)
{
    kiv::setLogLevel(LogLevel::debug);
    boost::asio::io_context io;
    kiv::ServiceOptions options;
    options.allowConfigFrom.add(kiv::parseNetwork("test", "10.1.2.1"));
    kiv::SourceGuard guard(io, options, "Beacon group", 10ms);
    EXPECT_FALSE(guard.configAllowed({boost::asio::ip::make_address_v4("10.1.2.9"), 1}));
    io.run_for(30ms);
    try {
        throw std::runtime_error("send_to: Network is unreachable");
    } catch (...) {
        kiv::reportException("UdpBoundSocket::sendData");
    }
    debugLog("<> UdpKivServer::start_receive\n");
    errorLog("VarnWin32 cannot start: UDP port 45654 is already in use\n");

    EXPECT_EQ(LogLevel::warning,
              log.levelOf("Beacon group: configuration from 10.1.2.9 ignored: not an allowed source (10.1.2.1/32)\n"));
    EXPECT_EQ(LogLevel::info, log.levelOf("Beacon group, last minute: 1 configurations ignored, 0 status requests "
                                          "refused, 0 status requests dropped over the reply bound\n"));
    EXPECT_EQ(LogLevel::warning,
              log.levelOf("*** EXCEPTION  UdpBoundSocket::sendData [send_to: Network is unreachable]\n"));
    EXPECT_EQ(LogLevel::debug, log.levelOf("<> UdpKivServer::start_receive\n"));
    EXPECT_EQ(LogLevel::error, log.levelOf("VarnWin32 cannot start: UDP port 45654 is already in use\n"));
}

TEST_F(LogLevels, LinesBelowTheLevelReachNeitherWriterNorSink)
{
    kiv::setLogLevel(LogLevel::warning);
    EXPECT_FALSE(kiv::logWanted(LogLevel::info));
    EXPECT_FALSE(kiv::debugLogWanted());
    debugLog("trace\n");
    infoLog("All Started");
    warningLog("*** NOT SENT: no socket on [%s]\n", "10.1.2.5");
    kiv::logAt(LogLevel::error, "fatal\n");
    kiv::consoleWrite("echo", 4);
    EXPECT_EQ((std::vector<std::string>{"*** NOT SENT: no socket on [10.1.2.5]\n", "fatal\n"}), log.lines());
    EXPECT_EQ(LogLevel::error, log.levelOf("fatal\n"));
    EXPECT_EQ("", log.console());

    kiv::setLogLevel(LogLevel::debug);
    debugLog("trace\n");
    kiv::consoleWrite("echo", 4);
    EXPECT_TRUE(log.contains("trace\n"));
    EXPECT_EQ("echo", log.console());
}

// The trace and the console echo are debug-only; a held line only reaches
// a channel that keeps every line.
TEST_F(LogLevels, AtTheDefaultLevelTheTraceTheEchoAndHeldLinesStayOut)
{
    kiv::setLogLevel(kiv::kDefaultLogLevel);
    EXPECT_FALSE(kiv::debugLogWanted());
    debugLog("trace\n");
    kiv::consoleWrite("echo", 4);
    kiv::logRepeat(LogLevel::warning, true, "held\n");
    kiv::logRepeat(LogLevel::warning, false, "written\n");
    EXPECT_EQ(std::vector<std::string>{"written\n"}, log.lines());
    EXPECT_EQ("", log.console());
}

TEST(JournalLine, EachLineStartsWithItsPriority)
{
    EXPECT_EQ("<6>All Started\n", kiv::journalLine(LogLevel::info, "All Started"));
    EXPECT_EQ("<4>*** REFUSED srvIpPort [0]\n", kiv::journalLine(LogLevel::warning, "*** REFUSED srvIpPort [0]\n"));
    EXPECT_EQ("<7>data=[<status>\n<7></status>]\n", kiv::journalLine(LogLevel::debug, "data=[<status>\n</status>]\n"));
    EXPECT_EQ("<3>\n", kiv::journalLine(LogLevel::error, ""));
}

// The repeat rule on simulated time, at the default level.
class Repeats : public ::testing::Test
{
protected:
    void SetUp() override { kiv::setLogLevel(kiv::kDefaultLogLevel); }
    void TearDown() override { kiv::setLogLevel(LogLevel::debug); }
    RepeatedWarning warning;
    RepeatedWarning::Clock::time_point t0{};
};

TEST_F(Repeats, WrittenAtTheStartOnAChangeOfReasonAndHourly)
{
    EXPECT_TRUE(warning.failed("No such device", t0));
    EXPECT_FALSE(warning.failed("No such device", t0 + 30s));
    EXPECT_FALSE(warning.failed("No such device", t0 + 59min));
    EXPECT_TRUE(warning.failed("Network is unreachable", t0 + 59min + 30s));
    EXPECT_FALSE(warning.failed("Network is unreachable", t0 + 60min));
    EXPECT_TRUE(warning.failed("Network is unreachable", t0 + 119min + 30s));
    EXPECT_TRUE(warning.active());
    EXPECT_EQ(6u, warning.ended());
    EXPECT_FALSE(warning.active());
    // A new outage starts afresh.
    EXPECT_TRUE(warning.failed("Network is unreachable", t0 + 120min));
    EXPECT_EQ(1u, warning.ended());
    EXPECT_EQ(0u, warning.ended());
}

TEST_F(Repeats, AtDebugEveryTryIsWrittenAndTheEndSaysNothingMore)
{
    kiv::setLogLevel(LogLevel::debug);
    EXPECT_TRUE(warning.failed("No such device", t0));
    EXPECT_TRUE(warning.failed("No such device", t0 + 30s));
    EXPECT_EQ(0u, warning.ended());
}

}  // namespace
