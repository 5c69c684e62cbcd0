// The arithmetic of the status port's guard, apart from sockets and clocks:
// the bound on replies per source and in all, and the choice of which
// refusals are worth a log line. Times are steady-clock nanoseconds passed
// in by the caller, who reads the clock once per datagram.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace kiv {

// Token buckets, kept as the time each bucket will be full again (the
// "theoretical arrival time" form): per source, N replies a second with a
// burst of 2N; in all, 20·N a second with a burst of 20·N. A reply costs a
// token from both; a request that finds either bucket empty is dropped and
// takes nothing. Per request: a hash, a scan of four entries and a few
// comparisons; no allocation.
//
// Sources live in a fixed table of kSets sets of kWays entries. A new source
// takes the entry of its set whose bucket is fullest, so forgetting a
// source only ever hands it a full bucket again: under a flood of forged
// addresses that can let one source past its own bound, never past the
// bound in all.
class ReplyBound
{
public:
    static constexpr std::size_t kSets = 256;
    static constexpr std::size_t kWays = 4;

    // `perSource` replies a second to one source; 0: no bound at all.
    explicit ReplyBound(unsigned perSource);

    bool bounded() const { return mInterval != 0; }
    // True when a reply to `source` (host byte order) may go at `nowNs`;
    // it is then counted against both buckets.
    bool admit(std::uint32_t source, std::int64_t nowNs);

private:
    struct Entry {
        std::uint32_t source = 0;
        bool used = false;
        std::int64_t fullAt = std::numeric_limits<std::int64_t>::min();
    };

    Entry& entryFor(std::uint32_t source);

    std::int64_t mInterval = 0;        // ns per reply to one source
    std::int64_t mTolerance = 0;       // (burst - 1) intervals
    std::int64_t mAllInterval = 0;     // ns per reply in all
    std::int64_t mAllTolerance = 0;
    std::int64_t mAllFullAt = std::numeric_limits<std::int64_t>::min();
    std::array<Entry, kSets * kWays> mEntries{};
};

// Which refused senders get a log line: one per source per minute, and no
// more than kSources different sources in a minute, so that a flood of
// refused messages cannot turn into a flood of log lines. The rest are only
// counted.
class RefusalNotes
{
public:
    static constexpr std::size_t kSources = 16;
    static constexpr std::int64_t kPeriodNs = 60'000'000'000;

    bool shouldLog(std::uint32_t source, std::int64_t nowNs);

private:
    struct Note {
        std::uint32_t source = 0;
        bool used = false;
        std::int64_t loggedAt = 0;
    };
    std::array<Note, kSources> mNotes{};
};

}  // namespace kiv
