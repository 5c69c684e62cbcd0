// Round-trip times of a run, kept as a histogram so that a run of any length
// takes the same memory: exact to the microsecond below 1024 us, within 1/64
// of the value above.
#pragma once

#include <array>
#include <cstdint>

namespace kiv::tools {

class LatencyHistogram
{
public:
    void add(std::uint64_t microseconds);

    std::uint64_t count() const { return mCount; }
    std::uint64_t min() const { return mCount == 0 ? 0 : mMin; }
    std::uint64_t max() const { return mMax; }
    // The nearest-rank percentile (0 < percent <= 100) in microseconds; 0
    // for an empty histogram.
    std::uint64_t percentile(double percent) const;

private:
    static constexpr int kExactLimitBits = 10;  // values below 1024 us are exact
    static constexpr int kSubBucketBits = 6;    // 64 buckets per doubling above
    static constexpr int kMaxBits = 40;         // about 12 days; longer is clamped
    static constexpr std::size_t kBucketCount =
        (std::size_t{1} << kExactLimitBits) + (kMaxBits - kExactLimitBits) * (std::size_t{1} << kSubBucketBits);

    static std::size_t bucketOf(std::uint64_t value);
    static std::uint64_t lowestValueOf(std::size_t bucket);

    std::array<std::uint64_t, kBucketCount> mBuckets{};
    std::uint64_t mCount = 0;
    std::uint64_t mMin = 0;
    std::uint64_t mMax = 0;
};

}  // namespace kiv::tools
