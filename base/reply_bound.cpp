#include "base/reply_bound.h"

#include <algorithm>

#include "base/service_options.h"

namespace kiv {
namespace {

constexpr std::int64_t kSecondNs = 1'000'000'000;

// Rounded up, so that the rate is never above the one asked for.
std::int64_t intervalFor(std::int64_t perSecond)
{
    return (kSecondNs + perSecond - 1) / perSecond;
}

}  // namespace

ReplyBound::ReplyBound(unsigned perSource)
{
    if (perSource == 0)
        return;
    const std::int64_t rate = perSource;
    const std::int64_t allRate = rate * kStatusRateSources;
    mInterval = intervalFor(rate);
    mTolerance = (2 * rate - 1) * mInterval;
    mAllInterval = intervalFor(allRate);
    mAllTolerance = (allRate - 1) * mAllInterval;
}

ReplyBound::Entry& ReplyBound::entryFor(std::uint32_t source)
{
    const std::size_t set = static_cast<std::uint32_t>(source * 2654435761u) >> 24;  // 256 sets
    Entry* first = &mEntries[set * kWays];
    Entry* fullest = first;
    for (Entry* e = first; e != first + kWays; ++e) {
        if (e->used && e->source == source)
            return *e;
        if (!e->used || (fullest->used && e->fullAt < fullest->fullAt))
            fullest = e;
    }
    fullest->source = source;
    fullest->used = true;
    fullest->fullAt = std::numeric_limits<std::int64_t>::min();
    return *fullest;
}

bool ReplyBound::admit(std::uint32_t source, std::int64_t nowNs)
{
    if (mInterval == 0)
        return true;
    Entry& entry = entryFor(source);
    const std::int64_t due = std::max(entry.fullAt, nowNs);
    if (due - nowNs > mTolerance)
        return false;
    const std::int64_t allDue = std::max(mAllFullAt, nowNs);
    if (allDue - nowNs > mAllTolerance)
        return false;
    entry.fullAt = due + mInterval;
    mAllFullAt = allDue + mAllInterval;
    return true;
}

bool RefusalNotes::shouldLog(std::uint32_t source, std::int64_t nowNs)
{
    Note* free = nullptr;
    for (Note& note : mNotes) {
        if (note.used && note.source == source) {
            if (nowNs - note.loggedAt < kPeriodNs)
                return false;
            note.loggedAt = nowNs;
            return true;
        }
        if (free == nullptr && (!note.used || nowNs - note.loggedAt >= kPeriodNs))
            free = &note;
    }
    if (free == nullptr)
        return false;
    *free = Note{source, true, nowNs};
    return true;
}

}  // namespace kiv
