// The status reply bound's token buckets over simulated time (per source and
// in all, the full table, the bound switched off) and the refusal notes' limit.

#include "base/reply_bound.h"

#include <gtest/gtest.h>

#include "base/service_options.h"

namespace {

using kiv::ReplyBound;

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::uint32_t kServer = 0x0A010201;  // 10.1.2.1

int admitted(ReplyBound& bound, std::uint32_t source, std::int64_t at, int requests)
{
    int count = 0;
    for (int i = 0; i < requests; ++i)
        count += bound.admit(source, at);
    return count;
}

TEST(ReplyBound, OneSourceHasABurstOfTwiceItsRateThenItsRate)
{
    ReplyBound bound(10);
    const std::int64_t t0 = 5 * kSecond;
    EXPECT_EQ(20, admitted(bound, kServer, t0, 100));
    EXPECT_EQ(0, admitted(bound, kServer, t0 + kSecond / 10 - 1, 5));
    EXPECT_EQ(1, admitted(bound, kServer, t0 + kSecond / 10, 5));
    const std::int64_t t1 = t0 + kSecond + kSecond / 10;
    EXPECT_EQ(10, admitted(bound, kServer, t1, 100));
    // Another source has its own bucket.
    EXPECT_EQ(20, admitted(bound, kServer + 1, t1, 100));
}

TEST(ReplyBound, NeverMoreThanTheBurstPlusTheRateOverAnyStretch)
{
    // A request every millisecond for three seconds, from one source and
    // from a thousand: the first within 2N + N·t, all within 20N + 20N·t.
    ReplyBound bound(50);
    int one = 0;
    int all = 0;
    for (std::int64_t ms = 0; ms < 3000; ++ms) {
        const std::int64_t now = ms * 1'000'000;
        one += bound.admit(kServer, now);
        for (std::uint32_t s = 0; s < 1000; ++s)
            all += bound.admit(0x0A100000 + s, now);
        EXPECT_LE(one, 100 + 50 * (ms + 1) / 1000 + 1) << ms;
        EXPECT_LE(one + all, 1000 + 1000 * (ms + 1) / 1000 + 1) << ms;
    }
    EXPECT_GE(one, 100 + 50 * 2);  // a steady source keeps its rate
}

TEST(ReplyBound, BoundInAllIsTwentyTimesTheRate)
{
    ReplyBound bound(kiv::kDefaultStatusRate);
    int count = 0;
    for (std::uint32_t s = 0; s < 100; ++s)
        count += admitted(bound, 0xC0A80000 + s, kSecond, 1000);
    EXPECT_EQ(static_cast<int>(kiv::kStatusRateSources * kiv::kDefaultStatusRate), count);
}

TEST(ReplyBound, AFullTableForgetsFullBucketsNeverADrainedOne)
{
    ReplyBound bound(10);  // 100 ms a reply; 200 a second in all
    const std::int64_t t0 = 5 * kSecond;
    EXPECT_EQ(20, admitted(bound, kServer, t0, 100));
    // Four times as many other sources as the table has entries, one
    // request each: every set fills and its entries are taken again.
    for (std::uint32_t s = 0; s < 4 * ReplyBound::kSets * ReplyBound::kWays; ++s)
        bound.admit(0x0B000000 + s, t0);
    // 50 ms on, the bound in all has room again, the drained source's bucket
    // none: forgotten, it would have a full one.
    EXPECT_EQ(0, admitted(bound, kServer, t0 + kSecond / 20, 1));
}

TEST(ReplyBound, ZeroSwitchesTheBoundOff)
{
    ReplyBound bound(0);
    EXPECT_FALSE(bound.bounded());
    EXPECT_EQ(100000, admitted(bound, kServer, 0, 100000));
}

TEST(RefusalNotes, OneLinePerSourcePerMinuteAndFewSourcesAMinute)
{
    kiv::RefusalNotes notes;
    const std::int64_t minute = kiv::RefusalNotes::kPeriodNs;
    EXPECT_TRUE(notes.shouldLog(kServer, 0));
    EXPECT_FALSE(notes.shouldLog(kServer, minute - 1));
    EXPECT_TRUE(notes.shouldLog(kServer, minute));
    int logged = 0;
    for (std::uint32_t s = 1; s <= 100; ++s)
        logged += notes.shouldLog(kServer + s, minute + 1);
    EXPECT_EQ(static_cast<int>(kiv::RefusalNotes::kSources) - 1, logged);
    EXPECT_TRUE(notes.shouldLog(kServer + 100, 2 * minute + 1));  // a minute later there is room again
}

}  // namespace
