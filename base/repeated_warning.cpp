#include "base/repeated_warning.h"

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

}  // namespace kiv
