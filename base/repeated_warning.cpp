#include "base/repeated_warning.h"

#include <algorithm>

#include "base/debug_log.h"

namespace kiv {

bool RepeatedWarning::failed(const std::string& reason, Clock::time_point now)
{
    const bool starts = mFailures == 0;
    if (mFailures < ~0u)
        ++mFailures;
    if (logLevel() == LogLevel::debug)
        return true;
    if (!starts && reason == mReason && now - mLastWritten < kRepeatPeriod)
        return false;
    mReason = reason;
    mLastWritten = now;
    return true;
}

unsigned RepeatedWarning::ended()
{
    const unsigned failures = mFailures;
    mFailures = 0;
    mReason.clear();
    return logLevel() == LogLevel::debug ? 0 : failures;
}

void SenderFaults::begin(std::uint32_t sender)
{
    ++mRounds;
    for (mCurrent = 0; mCurrent < mSenders.size(); ++mCurrent) {
        if (mSenders[mCurrent].address == sender)
            break;
    }
    if (mCurrent == mSenders.size()) {
        if (mSenders.size() < kSenders) {
            mSenders.emplace_back();
        } else {
            mCurrent = 0;
            for (std::size_t i = 1; i < mSenders.size(); ++i) {
                if (mSenders[i].heard < mSenders[mCurrent].heard)
                    mCurrent = i;
            }
            mSenders[mCurrent] = Sender();
        }
        mSenders[mCurrent].address = sender;
    }
    mSenders[mCurrent].heard = mRounds;
    mSenders[mCurrent].faultInRound = false;
}

bool SenderFaults::failed(const std::string& line, Clock::time_point now)
{
    if (mSenders.empty())
        begin(0);
    Sender& sender = mSenders[mCurrent];
    if (!sender.faultInRound && sender.faultyRounds < ~0u)
        ++sender.faultyRounds;
    sender.faultInRound = true;
    auto fault = std::find_if(sender.faults.begin(), sender.faults.end(),
                              [&](const Fault& f) { return f.line == line; });
    if (fault == sender.faults.end()) {
        if (sender.faults.size() >= kFaultsPerSender) {
            fault = std::min_element(sender.faults.begin(), sender.faults.end(),
                                     [](const Fault& a, const Fault& b) { return a.seen < b.seen; });
            *fault = Fault();
        } else {
            fault = sender.faults.emplace(sender.faults.end());
        }
        fault->line = line;
    }
    fault->seen = mRounds;
    return fault->rule.failed(line, now);
}

unsigned SenderFaults::end()
{
    if (mSenders.empty())
        return 0;
    Sender& sender = mSenders[mCurrent];
    if (sender.faultInRound || sender.faultyRounds == 0)
        return 0;
    const unsigned rounds = sender.faultyRounds;
    sender.faultyRounds = 0;
    sender.faults.clear();
    return logLevel() == LogLevel::debug ? 0 : rounds;
}

}  // namespace kiv
