#include "tools/common/latency.h"

#include <algorithm>
#include <cmath>

namespace kiv::tools {

std::size_t LatencyHistogram::bucketOf(std::uint64_t value)
{
    const std::uint64_t exactLimit = std::uint64_t{1} << kExactLimitBits;
    if (value < exactLimit)
        return static_cast<std::size_t>(value);
    value = std::min(value, (std::uint64_t{1} << kMaxBits) - 1);
    int bits = 0;  // the position of the highest set bit
    while ((value >> (bits + 1)) != 0)
        ++bits;
    const int shift = bits - kSubBucketBits;
    const std::uint64_t sub = (value >> shift) & ((std::uint64_t{1} << kSubBucketBits) - 1);
    return static_cast<std::size_t>(exactLimit + static_cast<std::uint64_t>(bits - kExactLimitBits) * (std::uint64_t{1} << kSubBucketBits) + sub);
}

std::uint64_t LatencyHistogram::lowestValueOf(std::size_t bucket)
{
    const std::size_t exactLimit = std::size_t{1} << kExactLimitBits;
    if (bucket < exactLimit)
        return bucket;
    const std::size_t above = bucket - exactLimit;
    const int bits = kExactLimitBits + static_cast<int>(above >> kSubBucketBits);
    const std::uint64_t sub = above & ((std::size_t{1} << kSubBucketBits) - 1);
    return ((std::uint64_t{1} << kSubBucketBits) | sub) << (bits - kSubBucketBits);
}

void LatencyHistogram::add(std::uint64_t microseconds)
{
    ++mBuckets[bucketOf(microseconds)];
    mMin = mCount == 0 ? microseconds : std::min(mMin, microseconds);
    mMax = std::max(mMax, microseconds);
    ++mCount;
}

std::uint64_t LatencyHistogram::percentile(double percent) const
{
    if (mCount == 0)
        return 0;
    const double wanted = std::ceil(percent / 100.0 * static_cast<double>(mCount));
    const std::uint64_t rank = std::clamp<std::uint64_t>(static_cast<std::uint64_t>(wanted), 1, mCount);
    std::uint64_t seen = 0;
    for (std::size_t bucket = 0; bucket < mBuckets.size(); ++bucket) {
        seen += mBuckets[bucket];
        if (seen >= rank)
            return std::clamp(lowestValueOf(bucket), mMin, mMax);
    }
    return mMax;
}

}  // namespace kiv::tools
