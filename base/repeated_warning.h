// The repeat rule of a warning that may come again and again for as long as
// its cause lasts (the same failed group join, the same failed send): its
// line is written when it starts, when its reason changes, and in between at
// most once an hour; when the cause ends, the line that says so carries the
// number of failed tries. At debug level nothing is held back and every try
// is written, as each happens.
//
//     if (failed) kiv::logRepeat(kiv::LogLevel::warning, !mJoinWarning.failed(reason, now), ...);
//     else if (const unsigned tries = mJoinWarning.ended()) infoLog("... after %u failed tries\n", tries);
//     else infoLog(...);
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kiv {

class RepeatedWarning
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kRepeatPeriod{1};

    // A failed try with this reason at `now`; true when its line is to be
    // written, false when the rule holds it back.
    bool failed(const std::string& reason, Clock::time_point now);

    // The cause has ended (the join or send worked): the number of failed
    // tries since it started, for the end line; 0 when there were none, or at
    // debug level, where every try was written as it happened. Starts afresh.
    unsigned ended();

    // True while the cause lasts (a try failed and none worked since).
    bool active() const { return mFailures > 0; }

private:
    std::string mReason;
    Clock::time_point mLastWritten{};
    unsigned mFailures = 0;
};

// The repeat rule for what senders send again and again (the same unusable
// configuration from one beacon, every few seconds). A round is one message
// of one sender; each fault line of a sender has a rule of its own, so a
// line it has not had from that sender before is written, one it keeps
// sending at most hourly. The sender's fault ends with a round that has no
// fault line at all. At most kSenders senders are kept, each with at most
// kFaultsPerSender lines: a new sender pushes out the one heard from longest
// ago, a new line the one seen longest ago. Not thread-safe.
class SenderFaults
{
public:
    using Clock = RepeatedWarning::Clock;
    static constexpr std::size_t kSenders = 8;
    static constexpr std::size_t kFaultsPerSender = 64;

    // A round of `sender` (IPv4, host order) starts.
    void begin(std::uint32_t sender);
    // A fault line of the round; true when it is to be written.
    bool failed(const std::string& line, Clock::time_point now);
    // The round ends: when it had no fault and the sender's rounds before it
    // had, their number (the sender's fault has ended); otherwise 0, and
    // always 0 at debug level, where every line was written.
    unsigned end();

private:
    struct Fault {
        std::string line;
        RepeatedWarning rule;
        std::uint64_t seen = 0;
    };
    struct Sender {
        std::uint32_t address = 0;
        std::uint64_t heard = 0;
        unsigned faultyRounds = 0;
        bool faultInRound = false;
        std::vector<Fault> faults;
    };
    std::vector<Sender> mSenders;
    std::size_t mCurrent = 0;
    std::uint64_t mRounds = 0;
};

}  // namespace kiv
