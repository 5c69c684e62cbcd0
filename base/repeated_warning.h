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
#include <string>

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

}  // namespace kiv
